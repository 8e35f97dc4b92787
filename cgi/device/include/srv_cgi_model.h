/** @file srv_cgi_model.h - the model record cfg_model, byte-packed, at segment
 * offset 30786 of the configuration segment; filled by the device core
 * service, guarded by semaphore 0 of the device semaphore set. */
#ifndef SRV_CGI_MODEL_H
#define SRV_CGI_MODEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Segment offset of cfg_model (odd: the record is byte-packed). */
#define CFG_MODEL_SEGMENT_OFFSET 30786

/** The device model, 70 bytes, no gaps. Multi-byte fields may be unaligned in
 * the segment: read them with memcpy. */
typedef struct __attribute__((packed)) cfg_model {
    uint8_t g_model;      /**< model code, written into the viewer pages */
    uint8_t g_channelAmt; /**< number of camera channels of the model */
    uint8_t g_brand;      /**< brand or product type code, written into the viewer pages */
    uint8_t g_user_login_status[25]; /**< login state per user */
    uint8_t g_day_light_saving_flag; /**< daylight saving in effect */
    uint16_t pre_rec_duration[20];   /**< pre-recording per camera; starts at odd offset 29 */
    uint8_t firmware_update_status;  /**< firmware update progress */
} cfg_model;

#ifdef __cplusplus
}
#define CFG_MODEL_STATIC_ASSERT static_assert
#else
#define CFG_MODEL_STATIC_ASSERT _Static_assert
#endif

CFG_MODEL_STATIC_ASSERT(sizeof(cfg_model) == 70, "cfg_model size");
CFG_MODEL_STATIC_ASSERT(offsetof(cfg_model, g_channelAmt) == 1, "g_channelAmt");
CFG_MODEL_STATIC_ASSERT(offsetof(cfg_model, g_brand) == 2, "g_brand");
CFG_MODEL_STATIC_ASSERT(offsetof(cfg_model, g_user_login_status) == 3, "g_user_login_status");
CFG_MODEL_STATIC_ASSERT(offsetof(cfg_model, g_day_light_saving_flag) == 28, "dst flag");
CFG_MODEL_STATIC_ASSERT(offsetof(cfg_model, pre_rec_duration) == 29, "pre_rec_duration");
CFG_MODEL_STATIC_ASSERT(offsetof(cfg_model, firmware_update_status) == 69, "firmware status");
CFG_MODEL_STATIC_ASSERT(CFG_MODEL_SEGMENT_OFFSET + offsetof(cfg_model, pre_rec_duration) == 30815,
                        "pre_rec_duration in the segment");

#endif
