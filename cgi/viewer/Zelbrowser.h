/* Zelbrowser.h - the viewer program: handler state read from the device,
 * the access rule, the live view and playback page writers and the decoding
 * of a playback request's id. */
#ifndef ZELBROWSER_H
#define ZELBROWSER_H

#include "config_new.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Key of the device core service's segment, semaphore set and queue. */
#define ZEL_DEVICE_KEY 1632
/* Cameras in the covert list: 16 analog, then 4 IP cameras. */
#define ZEL_COVERT_CAMERAS 20

/* Handler state, written once per request by cgiMain (one thread, no lock). */
extern int msgid;                          /* device message queue, only checked */
extern int shmid;                          /* configuration segment, only checked */
extern int semid;                          /* device semaphore set, passed to accessors */
extern void* shm_info;                     /* attached configuration segment */
extern network_setting netSetting;         /* copy of the network record */
extern system_time_date_setting time_date; /* copy of the time and date record */
extern unsigned char language;             /* language script number, always 0 */
extern unsigned char g_model;              /* model code of the model record */
extern unsigned char g_channelAmt;         /* camera channels of the model */
extern unsigned char g_brand;              /* brand / product type code */

/* strftime-style date-and-time formats by [date_format][time_format]. */
extern const char* const dt_format[3][2];

/* The page's date-time format for time_date; an out-of-table date_format
 * falls back to month/day/year and an out-of-table time_format to the
 * 24-hour clock, each independently. Never fails. */
const char* currentDtFormat(void);

/* 1 when setting byte s admits a user of the given level, else 0. */
int hasAccess(unsigned char setting, int level);

/* Writes the live view page from "ZelBrowser.htm"; -1 (stderr report, no
 * body) when the template cannot be opened, else 0. */
int showIndexHtml(unsigned char frontpanel_access, unsigned char covert_access,
                  unsigned char* covert_list);

/* Writes the playback page from "Playback.htm"; -1 (stderr report, no body)
 * when the template cannot be opened, else 0. */
int showPlaybackHtml(unsigned char frontpanel_access, unsigned char covert_access,
                     unsigned char* covert_list, int m_cam, long m_day, long m_time);

/* Camera number of id positions 4-5; -1 when outside 1 to 20. */
int getCmr(char* id);
/* Packed day of id positions 0-3; (unsigned)-1 on a non-hex digit. */
unsigned int getDate(char* id);
/* Second of the day of id positions 6-10; (unsigned)-1 outside 0 to 86399. */
unsigned int getTime(char* id);

#ifdef __cplusplus
}
#endif

#endif
