/** @file ZELP_search.h - the search filter records a browser search hands to the
 * device core service: the general filter, the motion filter and its
 * per-camera motion-area grid. Byte-packed, native byte order. */
#ifndef ZELP_SEARCH_H
#define ZELP_SEARCH_H

#include <stddef.h>
#include <stdint.h>

/* Layout checks that work in both C and C++ includers. */
#ifndef ZEL_STATIC_ASSERT
#ifdef __cplusplus
#define ZEL_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define ZEL_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif
#endif

#define WR_SEARCH_TEXT_MAX 500 /**< bytes of fieldtext */
#define WR_MOTION_CAMERAS 16   /**< cameras with a motion grid */

/** Motion-area grid of one camera: one bit per cell, row by row. */
typedef struct __attribute__((packed)) ACT_GRID {
    uint16_t info[16]; /**< 16 rows of 16 cells */
} ACT_GRID;

/** General search filter. The library copies and compares it only. */
typedef struct __attribute__((packed)) WR_SEARCH_FILTERS {
    uint32_t alarmmap;                  /**< alarm inputs to match */
    uint32_t eventmap;                  /**< event kinds to match */
    uint32_t starttime;                 /**< start of the time range */
    uint32_t endtime;                   /**< end of the time range */
    uint16_t textlen;                   /**< length of fieldtext, 0 = no text */
    char fieldtext[WR_SEARCH_TEXT_MAX]; /**< NUL-terminated when shorter */
} WR_SEARCH_FILTERS;

/** Motion search filter: time range, cameras and their motion areas. */
typedef struct __attribute__((packed)) WR_MOTION_SEARCH_FILTERS {
    uint32_t starttime;               /**< start of the time range */
    uint32_t endtime;                 /**< end of the time range */
    uint32_t cameramap;               /**< bit i selects camera i (0..15) */
    uint8_t rangeindex;               /**< sensitivity range chosen */
    ACT_GRID grid[WR_MOTION_CAMERAS]; /**< motion areas of camera i */
} WR_MOTION_SEARCH_FILTERS;

ZEL_STATIC_ASSERT(sizeof(ACT_GRID) == 32, "ACT_GRID size");
ZEL_STATIC_ASSERT(sizeof(WR_SEARCH_FILTERS) == 518, "WR_SEARCH_FILTERS size");
ZEL_STATIC_ASSERT(offsetof(WR_SEARCH_FILTERS, eventmap) == 4, "eventmap");
ZEL_STATIC_ASSERT(offsetof(WR_SEARCH_FILTERS, starttime) == 8, "starttime");
ZEL_STATIC_ASSERT(offsetof(WR_SEARCH_FILTERS, endtime) == 12, "endtime");
ZEL_STATIC_ASSERT(offsetof(WR_SEARCH_FILTERS, textlen) == 16, "textlen");
ZEL_STATIC_ASSERT(offsetof(WR_SEARCH_FILTERS, fieldtext) == 18, "fieldtext");
ZEL_STATIC_ASSERT(sizeof(WR_MOTION_SEARCH_FILTERS) == 525, "motion filter size");
ZEL_STATIC_ASSERT(offsetof(WR_MOTION_SEARCH_FILTERS, endtime) == 4, "mt endtime");
ZEL_STATIC_ASSERT(offsetof(WR_MOTION_SEARCH_FILTERS, cameramap) == 8, "cameramap");
ZEL_STATIC_ASSERT(offsetof(WR_MOTION_SEARCH_FILTERS, rangeindex) == 12, "rangeindex");
ZEL_STATIC_ASSERT(offsetof(WR_MOTION_SEARCH_FILTERS, grid) == 13, "grid");

#endif
