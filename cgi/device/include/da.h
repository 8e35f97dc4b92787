/** @file da.h - the physical disk map that the device core service draws for the
 * disk-analysis page: one window of the disk in 36 columns with their time
 * stamps, 20 flag rows and block boundaries. Byte-packed, native order. */
#ifndef DA_H
#define DA_H

#include <stddef.h>
#include <stdint.h>
#include "ZELP_search.h" /* ZEL_STATIC_ASSERT */

#define DA_MAP_COLUMNS 36  /**< columns of one map window */
#define DA_MAP_ROWS 20     /**< flag rows per column */
#define DA_MAP_MAX_LEVEL 9 /**< deepest zoom level a request may carry */

/** One map window. Only `level` and `target_pos` mean anything to the
 * library; every other field is the service's. */
typedef struct __attribute__((packed)) phy_disk_map {
    uint8_t level;                              /**< zoom level, clamped to 9 */
    uint8_t last;                               /**< service's: deepest level reached */
    uint8_t target_pos;                         /**< column to zoom into */
    uint32_t target_block;                      /**< service's: window start */
    uint32_t timestamp[DA_MAP_COLUMNS];         /**< time of each column */
    uint8_t flag[DA_MAP_ROWS][DA_MAP_COLUMNS];  /**< row r, column c */
    uint32_t max_blocks;                        /**< blocks on the disk */
    uint32_t logical_block[DA_MAP_COLUMNS + 1]; /**< column boundaries */
} phy_disk_map;

ZEL_STATIC_ASSERT(sizeof(phy_disk_map) == 1023, "phy_disk_map size");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, last) == 1, "last");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, target_pos) == 2, "target_pos");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, target_block) == 3, "target_block");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, timestamp) == 7, "timestamp");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, flag) == 151, "flag");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, max_blocks) == 871, "max_blocks");
ZEL_STATIC_ASSERT(offsetof(phy_disk_map, logical_block) == 875, "logical_block");

#endif
