/* Zelbrowser.h - the viewer program: the request's state read from the
 * device, the access rule, the live view and playback page writers and the
 * decoding of a playback request's id. */
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

/* The handler's state for one request: filled once by cgiMain from the
 * device and handed to the page writers, which read nothing else of it. */
typedef struct zelRequest {
    int msgid;                          /* device message queue, only checked */
    int shmid;                          /* configuration segment, only checked */
    int semid;                          /* device semaphore set, passed to accessors */
    void* shm_info;                     /* attached configuration segment */
    network_setting netSetting;         /* copy of the network record */
    system_time_date_setting time_date; /* copy of the time and date record */
    unsigned char language;             /* language script number, always 0 */
    unsigned char g_model;              /* model code of the model record */
    unsigned char g_channelAmt;         /* camera channels of the model */
    unsigned char g_brand;              /* brand / product type code */
} zelRequest;

/* strftime-style date-and-time formats by [date_format][time_format]. */
extern const char* const dt_format[3][2];

/* The page's date-time format for `time_date`; an out-of-table date_format
 * falls back to month/day/year and an out-of-table time_format to the
 * 24-hour clock, each independently. Never fails. */
const char* currentDtFormat(const system_time_date_setting* time_date);

/* 1 when setting byte s admits a user of the given level, else 0. */
int hasAccess(unsigned char setting, int level);

/* Writes the live view page of request `req` from "ZelBrowser.htm"; -1
 * (stderr report, no body) when the template cannot be opened, else 0. */
int showIndexHtml(const zelRequest* req, unsigned char frontpanel_access,
                  unsigned char covert_access, unsigned char* covert_list);

/* Writes the playback page of request `req` from "Playback.htm"; -1 (stderr
 * report, no body) when the template cannot be opened, else 0. */
int showPlaybackHtml(const zelRequest* req, unsigned char frontpanel_access,
                     unsigned char covert_access, unsigned char* covert_list, int m_cam, long m_day,
                     long m_time);

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
