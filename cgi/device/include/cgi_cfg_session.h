/** @file cgi_cfg_session.h - the shared session services: searches (sch_), disk maps
 * (da_), upload progress (fup_), runtime updates (DHCP, clock); and the one
 * place that fixes where the two session tables live. */
#ifndef CGI_CFG_SESSION_H
#define CGI_CFG_SESSION_H

#include "zel_api.h"

#include <stdint.h>
#include "cgi_cfg_access.h" /* segment map: CFG_RT_UPDATE_OFFSET, CFG_UL_STAT_OFFSET */
#include "srv_cgi_session.h"

/** Where the session tables live. Each table is its own System V shared
 * memory segment, created (zero-filled) and removed by the device core
 * service beside the configuration segment of key 1632; a CGI program
 * attaches it with get_shm_ptr(key) and passes the address as the table
 * base. Both tables are guarded by semaphore 0 of the device semaphore set
 * (key 1632), the same lock as the configuration segment. */
#define SCH_SHM_KEY 1633 /**< search session table, 0x661 */
#define DA_SHM_KEY 1634  /**< disk-analysis session table, 0x662 */

#define SCH_SLOTS 16                                 /**< search slots */
#define SCH_CONN_COUNTER_OFFSET (SCH_SLOTS * 9235)   /**< 147760 */
#define SCH_TABLE_SIZE (SCH_CONN_COUNTER_OFFSET + 4) /**< 147764 */
#define DA_SLOTS 8                                   /**< disk-map slots */
#define DA_CONN_COUNTER_OFFSET (DA_SLOTS * 1033)     /**< 8264 */
#define DA_TABLE_SIZE (DA_CONN_COUNTER_OFFSET + 4)   /**< 8268 */

/* The two exchange records inside the configuration segment lie at
 * CFG_RT_UPDATE_OFFSET (cfg_rt_update_data) and CFG_UL_STAT_OFFSET
 * (data_ul_stat) of the segment map in cgi_cfg_access.h. */

/** Message types sent to the device core service on the device queue. */
#define SCH_MSG_START 1           /**< payload: slot; run the search */
#define SCH_MSG_REFRESH 2         /**< payload: slot; bring the slot up to date */
#define SCH_MSG_CANCEL 3          /**< payload: slot; stop and free the slot */
#define DA_MSG_BASE 768           /**< + op, or 770 + zoom; payload: slot */
#define FUP_MSG 12297             /**< upload claim, piece, cancel; no payload */
#define RT_MSG_DHCP_SETTING 12298 /**< DHCP address data; no payload */
#define RT_MSG_DHCP_RELEASE 12299 /**< DHCP lease dates; no payload */
#define RT_MSG_SET_TIME 12301     /**< set the clock to cur_ts; no payload */

/** Values of data_ul_stat.status and results of fup_occupy.
 * @{ */
#define UL_STATUS_FREE 0
#define UL_STATUS_CLAIMED 1
#define UL_STATUS_REFUSED 2
#define UL_STATUS_ACCEPTED 3
#define FUP_ACCEPTED 1
#define FUP_REFUSED (-1)
#define FUP_BUSY (-2)
#define FUP_NO_ANSWER (-3)
/** @} */

/** Values of the two request flags of cfg_rt_update_data.
 * @{ */
#define RT_FLAG_ASKED 0
#define RT_FLAG_ANSWERED 1
#define RT_FLAG_TAKEN 255
/** @} */
#define RT_NO_ANSWER (-2) /**< result of a DHCP request left unanswered */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Search sessions (table base `shm`: SCH_TABLE_SIZE bytes) ---- */

/** Starts, repeats or continues the caller's search and sends the matching
 * messages; returns the slot (0..15), or -1 when the table is full (the
 * caller's web_user unchanged) or a continued search has ended and stopped
 * (its results already copied into the caller's record). */
int sch_update(void* shm, int sem, int msgid, int revisit, sch_shm* p_localsch) ZEL_NOEXCEPT;

/** Copies slot `slot` (0..15, the caller's duty) whole under the lock: r0w1 0
 * into `setting`, otherwise from `setting`. Cannot fail. */
void rw_search_shm(int r0w1, void* shm, int sem, void* setting, int slot) ZEL_NOEXCEPT;

/** Advances the search table's connection counter (4294967295 wraps to 1);
 * returns the new value, never 0. */
unsigned int incr_conn_id(void* shm, int sem) ZEL_NOEXCEPT;

/** Claims the lowest free slot for conn_id; returns it, or -1 with the table
 * untouched when all 16 are owned. */
int sch_occupy_empty_slot(void* pShm, int semid, unsigned int conn_id) ZEL_NOEXCEPT;

/** Returns the lowest slot owned by conn_id, or -1 (nothing changed). */
int sch_find_slot(void* p_sch_list, unsigned int conn_id, int semid) ZEL_NOEXCEPT;

/** Stamps the slot's sch_access_ts with the current seconds. Cannot fail. */
void sch_update_ts(sch_shm* p_sch, int sem) ZEL_NOEXCEPT;

/** Compares the filters of a slot (read unlocked) and the caller's record;
 * returns 0 equal, 1 different. Changes nothing. */
int sch_compare_filter(const sch_shm* p_schshm, const sch_shm* p_localsch) ZEL_NOEXCEPT;

/** Sends the cancel message for the slot; a failed send is only reported. */
void sch_cancel(int msgid, int sch_slot) ZEL_NOEXCEPT;

/** Initialises a slot for a new search from the caller's filters and stores
 * conn_id in both the slot and the caller's web_user. Cannot fail. */
void sch_on_start_search(sch_shm* p_schshm, sch_shm* p_local, unsigned int conn_id,
                         int semid) ZEL_NOEXCEPT;

/* ---- Disk-analysis map sessions (table base: DA_TABLE_SIZE bytes) ---- */

/** Requests a map for `op`/`zoom` in the caller's slot (found or newly
 * claimed), waits without limit for the answer and copies the slot into the
 * caller's record; returns the slot (0..7), or -1 with nothing sent when the
 * table is full. */
int da_getmap(void* p_dashm, int semid, int msgid, da_shm* p_local_dashm, int op,
              int zoom) ZEL_NOEXCEPT;

/** Returns the lowest slot owned by conn_id, or -1 (nothing changed). */
int da_find_slot(void* p_da_list, unsigned int conn_id, int semid) ZEL_NOEXCEPT;

/** Claims the lowest free slot for conn_id (nothing else in it changes);
 * returns it, or -1 with the table untouched when all 8 are owned. */
int da_occupy_empty_slot(void* p_da_list, int semid, unsigned int conn_id) ZEL_NOEXCEPT;

/** Advances the disk-map table's connection counter (4294967295 wraps to 1);
 * returns the new value, never 0. */
unsigned int da_incr_conn_id(void* shm, int sem) ZEL_NOEXCEPT;

/** Takes the slot's answer: returns 1 and resets both done flags when both
 * are 1, 0 when not yet, -1 without locking for a slot outside 0..7. */
int da_op_done(void* p_da_list, int da_slot, int semid) ZEL_NOEXCEPT;

/** Copies slot da_slot (0..7, the caller's duty) whole under the lock: r0w1 0
 * into p_local_damap, otherwise from it. Always returns 0. */
int rw_da_map(int r0w1, void* p_da_list, int semid, void* p_local_damap, int da_slot) ZEL_NOEXCEPT;

/* ---- Upload progress (p_cfg_shm: the configuration segment) ---- */

/** Takes semaphore 0; returns down's result, 0 or -1. */
int fup_lock(int semid) ZEL_NOEXCEPT;

/** Releases semaphore 0; returns up's result, 0 or -1. */
int fup_unlock(int semid) ZEL_NOEXCEPT;

/** Claims the upload record and waits one second for the service's verdict:
 * FUP_ACCEPTED, FUP_REFUSED, FUP_BUSY (record untouched, nothing sent) or
 * FUP_NO_ANSWER (record left claimed, status 1). */
int fup_occupy(void* p_cfg_shm, int semid, int msgid) ZEL_NOEXCEPT;

/** Resets the counters for an upload of total_size bytes; always 1. */
int fup_init(void* p_cfg_shm, int semid, int total_size) ZEL_NOEXCEPT;

/** Announces a piece and waits about 20 ms for the service to take it;
 * returns 1 taken, 0 not taken (the record is never written). */
int fup_tavik_recv(void* p_cfg_shm, int semid, int msgid, int bytes_to_send) ZEL_NOEXCEPT;

/** Asks the service to abandon the upload (cancel = 1) and notifies it;
 * always 0. */
int fup_cancel(void* p_cfg_shm, int semid, int msgid) ZEL_NOEXCEPT;

/** Returns the cancel word, read unlocked. */
unsigned int fup_is_cancelled(void* p_cfg_shm) ZEL_NOEXCEPT;

/** Copies the whole upload record into p_localfup under the lock; always 0. */
int fup_get_status(void* p_cfg_shm, int semid, data_ul_stat* p_localfup) ZEL_NOEXCEPT;

/* ---- Runtime update requests (p_cfg_shm: the configuration segment) ---- */

/** Asks the service for the DHCP address data; returns 0 with the whole
 * record in pdata, or RT_NO_ANSWER with pdata zero-filled. The flag
 * ip_status is left at 255 either way. */
int get_dhcp_setting(void* p_cfg_shm, int semid, int msgid, cfg_rt_update_data* pdata) ZEL_NOEXCEPT;

/** As get_dhcp_setting, for the lease dates (flag release_date_status). */
int get_dhcp_release(void* p_cfg_shm, int semid, int msgid, cfg_rt_update_data* pdata) ZEL_NOEXCEPT;

/** Stores cur_ts and asks the service to set its clock, without waiting;
 * returns the send's result, 0 or -1. */
int set_system_time(void* p_cfg_shm, int semid, int msgid, uint32_t cur_ts) ZEL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
