// Zelbrowser.cpp - the viewer request handler: reaches the device objects,
// reads the few configuration values the pages need, derives the user's
// front-panel and covert access and answers with the live or playback page.
#include <sys/shm.h>

#include <cstdio>

#include "Zelbrowser.h"
#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "shm.h"
#include "srv_cgi_cfg.h"

int hasAccess(unsigned char setting, int level)
{
    return (setting == 0 || 3 - static_cast<int>(setting) >= level) ? 1 : 0;
}

namespace {

constexpr int kAnalogCameras = 16;
constexpr int kIpCameras = ZEL_COVERT_CAMERAS - kAnalogCameras;

// Looks up the three device objects and attaches the segment; false after
// reporting the first failure with perror.
bool attachDevice(zelRequest& req)
{
    req.msgid = get_msg_id(ZEL_DEVICE_KEY);
    if (req.msgid < 0) {
        std::perror("Info ---- Create message queue failed.");
        return false;
    }
    req.shmid = get_shm_id(ZEL_DEVICE_KEY);
    if (req.shmid < 0) {
        std::perror("Info ---- Create shm failed.");
        return false;
    }
    req.semid = get_sem(ZEL_DEVICE_KEY);
    if (req.semid < 0) {
        std::perror("Info ---- Create semaphore failed.");
        return false;
    }
    req.shm_info = get_shm_ptr_min(ZEL_DEVICE_KEY, CFG_SEGMENT_MIN_SIZE);
    if (!req.shm_info) {
        std::perror("Info ---- failed to get shm pointer.");
        return false;
    }
    return true;
}

// Every camera's covert flag, or all zero for a user who may see covert
// cameras. Single-byte reads straight from the segment, without the lock.
void fillCovertList(const dvr_config& cfg, unsigned char covert_access, unsigned char* list)
{
    for (int i = 0; i < kAnalogCameras; ++i)
        list[i] = covert_access ? 0 : cfg.cameras.local[i].covert;
    for (int i = 0; i < kIpCameras; ++i)
        list[kAnalogCameras + i] = covert_access ? 0 : cfg.cameras.ip[i].covert;
}

// Decodes a non-empty id and writes the playback page; false (after the
// one-line refusal) when the id is malformed.
bool servePlayback(const zelRequest& req, char* id, unsigned char frontpanel_access,
                   unsigned char covert_access, unsigned char* covert_list)
{
    const int cam = getCmr(id);
    const unsigned int day = getDate(id);
    const unsigned int time = getTime(id);
    if (cam < 0 || day == static_cast<unsigned int>(-1) || time == static_cast<unsigned int>(-1)) {
        std::fputs("Invalid argument.", cgiOut);
        return false;
    }
    showPlaybackHtml(&req, frontpanel_access, covert_access, covert_list, cam, day, time);
    return true;
}

}  // namespace

// Exit status: -1 when the device cannot be reached or the user is unknown
// (the segment stays attached until exit), else 0.
int cgiMain(void)
{
    cgiHeaderContentType("text/html");
    zelRequest req{};
    if (!attachDevice(req))
        return -1;

    cfg_model model;
    read_config_model(req.shm_info, req.semid, &model);
    req.g_channelAmt = model.g_channelAmt;
    req.g_model = model.g_model;
    req.g_brand = model.g_brand;
    rw_network_setting(0, req.shm_info, req.semid, &req.netSetting);
    const dvr_config& cfg = *static_cast<const dvr_config*>(req.shm_info);
    const unsigned char covertSetting = cfg.system.security.covert;
    const unsigned char frontPanelSetting = cfg.system.security.front_panel;
    req.language = 0;

    const int level = getUserLevel(req.shm_info, req.semid, cgiRemoteUser);
    if (level < 0)
        return -1;
    rw_system_time_date_setting(0, req.shm_info, req.semid, &req.time_date);

    const unsigned char covert_access = hasAccess(covertSetting, level);
    const unsigned char frontpanel_access = hasAccess(frontPanelSetting, level);
    unsigned char covert_list[ZEL_COVERT_CAMERAS];
    fillCovertList(cfg, covert_access, covert_list);

    char id[12] = {};
    cgiFormString("id", id, sizeof id);
    id[sizeof id - 1] = '\0';
    if (id[0] != '\0') {
        // Kept: a refused id returns at once with the segment attached; the
        // process exits right after, which detaches it.
        if (!servePlayback(req, id, frontpanel_access, covert_access, covert_list))
            return 0;
    } else {
        showIndexHtml(&req, frontpanel_access, covert_access, covert_list);
    }
    shmdt(req.shm_info);
    return 0;
}
