/** @file srv_cgi_session.h - exchange records shared with the device core service:
 * search slot, disk-analysis slot, upload status, runtime update. Byte-packed,
 * native byte order, any alignment; the service reads them at these offsets. */
#ifndef SRV_CGI_SESSION_H
#define SRV_CGI_SESSION_H

#include <stddef.h>
#include <stdint.h>
#include "ZELP_search.h"
#include "da.h"

#define SCH_DAILY_HOURS 32  /**< daily-hour ranges per search slot */
#define SCH_MAX_RESULTS 400 /**< result entries per search slot */

/** One daily-hour range of a search. */
typedef struct __attribute__((packed)) daily_hour {
    uint8_t day_map;    /**< days of the week the range applies to */
    uint16_t start_min; /**< first minute of the day */
    uint16_t end_min;   /**< last minute of the day */
} daily_hour;

/** One search result, written by the service. */
typedef struct __attribute__((packed)) sch_local_result {
    uint32_t index;      /**< recording index entry */
    uint8_t start_field; /**< first field of the recording */
    uint8_t name_flags;  /**< kind of recording */
    uint32_t camera_map; /**< cameras in the recording */
    uint32_t start_time; /**< start of the recording */
    uint32_t end_time;   /**< end of the recording */
    uint16_t reserved;   /**< unused */
} sch_local_result;

/** One search session slot. Every field is shared; writes by the library and
 * by the service are made under semaphore 0 of the device set. */
typedef struct __attribute__((packed)) sch_shm {
    WR_SEARCH_FILTERS filters;                 /**< copied in when a search starts */
    WR_MOTION_SEARCH_FILTERS mt_filter;        /**< copied in when a search starts */
    uint32_t camera_map;                       /**< cameras to search */
    uint32_t dh_map;                           /**< daily-hour selection; 0 at start */
    daily_hour dh[SCH_DAILY_HOURS];            /**< daily-hour ranges; 0 at start */
    sch_local_result results[SCH_MAX_RESULTS]; /**< service's results */
    uint32_t web_user;                         /**< owner's connection id; 0 = free */
    uint8_t sch_chnl;                          /**< 255 at start, then service's */
    uint8_t sch_stop;                          /**< 0 at start; 1 + sch_end 1 = over */
    uint16_t sch_stopped;                      /**< 1 at start, then service's */
    uint16_t dummy;                            /**< no value; 0 at start */
    uint8_t sch_end;                           /**< service's: 1 when ended */
    uint8_t sch_progress;                      /**< service's progress */
    uint32_t sch_access_ts;                    /**< seconds of owner's last visit */
    uint32_t sch_prev_result_num;              /**< service's */
    uint32_t sch_result_num;                   /**< valid results, at most 400 */
} sch_shm;

/** One disk-analysis session slot; writes under semaphore 0. */
typedef struct __attribute__((packed)) da_shm {
    phy_disk_map da_map;   /**< the map, written by the service */
    uint32_t conn_id;      /**< owner's connection id; 0 = free */
    uint32_t access_ts;    /**< service's; the library never writes it */
    uint8_t da_op_started; /**< service sets 1; library resets on taking answer */
    uint8_t da_op_done;    /**< service sets 1; library resets on taking answer */
} da_shm;

/** The upload status record (one per device); writes under semaphore 0,
 * `status`, `buf_id`, `cur_size` and `cancel` are also polled unlocked. */
typedef struct __attribute__((packed)) data_ul_stat {
    uint32_t status;     /**< 0 free, 1 claimed, 2 refused, 3 accepted */
    uint32_t buf_id;     /**< service's; 0 ends a piece hand-over wait */
    uint32_t total_size; /**< upload size in bytes, set by fup_init */
    uint32_t recv_size;  /**< bytes received; the library only resets it */
    uint32_t cur_size;   /**< piece waiting for the service; 0 ends the wait */
    uint32_t start_ts;   /**< seconds when fup_init ran */
    uint32_t access_ts;  /**< seconds when fup_occupy claimed the record */
    uint32_t cancel;     /**< nonzero asks the service to abandon the upload */
} data_ul_stat;

/** The runtime update record (one per device, no owner); writes under
 * semaphore 0, the two flags are also polled unlocked. */
typedef struct __attribute__((packed)) cfg_rt_update_data {
    uint8_t ip_status;           /**< DHCP setting: 0 asked, 1 answered, 255 taken */
    uint32_t ip_addr;            /**< service's */
    uint32_t subnet_mask;        /**< service's */
    uint32_t gateway;            /**< service's */
    uint32_t primary_dns;        /**< service's */
    uint32_t secondary_dns;      /**< service's */
    uint8_t release_date_status; /**< DHCP release: 0 asked, 1 answered, 255 taken */
    uint32_t dhcp_lease_exp;     /**< service's lease expiry */
    uint32_t dhcp_update_date;   /**< service's lease update date */
    uint32_t cur_ts;             /**< time the clock is to be set to */
} cfg_rt_update_data;

ZEL_STATIC_ASSERT(sizeof(daily_hour) == 5, "daily_hour size");
ZEL_STATIC_ASSERT(offsetof(daily_hour, end_min) == 3, "end_min");
ZEL_STATIC_ASSERT(sizeof(sch_local_result) == 20, "sch_local_result size");
ZEL_STATIC_ASSERT(offsetof(sch_local_result, start_field) == 4, "start_field");
ZEL_STATIC_ASSERT(offsetof(sch_local_result, name_flags) == 5, "name_flags");
ZEL_STATIC_ASSERT(offsetof(sch_local_result, camera_map) == 6, "result camera_map");
ZEL_STATIC_ASSERT(offsetof(sch_local_result, start_time) == 10, "start_time");
ZEL_STATIC_ASSERT(offsetof(sch_local_result, end_time) == 14, "end_time");
ZEL_STATIC_ASSERT(offsetof(sch_local_result, reserved) == 18, "reserved");

ZEL_STATIC_ASSERT(sizeof(sch_shm) == 9235, "sch_shm size");
ZEL_STATIC_ASSERT(offsetof(sch_shm, mt_filter) == 518, "mt_filter");
ZEL_STATIC_ASSERT(offsetof(sch_shm, camera_map) == 1043, "camera_map");
ZEL_STATIC_ASSERT(offsetof(sch_shm, dh_map) == 1047, "dh_map");
ZEL_STATIC_ASSERT(offsetof(sch_shm, dh) == 1051, "dh");
ZEL_STATIC_ASSERT(offsetof(sch_shm, results) == 1211, "results");
ZEL_STATIC_ASSERT(offsetof(sch_shm, web_user) == 9211, "web_user");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_chnl) == 9215, "sch_chnl");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_stop) == 9216, "sch_stop");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_stopped) == 9217, "sch_stopped");
ZEL_STATIC_ASSERT(offsetof(sch_shm, dummy) == 9219, "dummy");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_end) == 9221, "sch_end");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_progress) == 9222, "sch_progress");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_access_ts) == 9223, "sch_access_ts");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_prev_result_num) == 9227, "prev_result_num");
ZEL_STATIC_ASSERT(offsetof(sch_shm, sch_result_num) == 9231, "sch_result_num");

ZEL_STATIC_ASSERT(sizeof(da_shm) == 1033, "da_shm size");
ZEL_STATIC_ASSERT(offsetof(da_shm, conn_id) == 1023, "da conn_id");
ZEL_STATIC_ASSERT(offsetof(da_shm, access_ts) == 1027, "da access_ts");
ZEL_STATIC_ASSERT(offsetof(da_shm, da_op_started) == 1031, "da_op_started");
ZEL_STATIC_ASSERT(offsetof(da_shm, da_op_done) == 1032, "da_op_done");

ZEL_STATIC_ASSERT(sizeof(data_ul_stat) == 32, "data_ul_stat size");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, buf_id) == 4, "buf_id");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, total_size) == 8, "total_size");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, recv_size) == 12, "recv_size");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, cur_size) == 16, "cur_size");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, start_ts) == 20, "start_ts");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, access_ts) == 24, "ul access_ts");
ZEL_STATIC_ASSERT(offsetof(data_ul_stat, cancel) == 28, "cancel");

ZEL_STATIC_ASSERT(sizeof(cfg_rt_update_data) == 34, "cfg_rt_update_data size");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, ip_addr) == 1, "ip_addr");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, subnet_mask) == 5, "subnet_mask");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, gateway) == 9, "gateway");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, primary_dns) == 13, "primary_dns");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, secondary_dns) == 17, "secondary_dns");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, release_date_status) == 21, "release flag");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, dhcp_lease_exp) == 22, "dhcp_lease_exp");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, dhcp_update_date) == 26, "dhcp_update_date");
ZEL_STATIC_ASSERT(offsetof(cfg_rt_update_data, cur_ts) == 30, "cur_ts");

#endif
