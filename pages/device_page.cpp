// device_page.cpp - the shared part of the device pages: device attach and
// admission by level, the page frame, JSON output and form numbers.
#include "device_page.h"

#include <cerrno>
#include <cstdlib>

#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "shm.h"

namespace page {

namespace {

constexpr key_t kDeviceKey = 1632;  // segment, semaphore set and queue of the core service

Device g_device;

// Names of the access levels of the device's user table.
const char* level_name(int level)
{
    static const char* const names[] = {"administrator", "manager", "operator", "guest"};
    return level >= 0 && level < 4 ? names[level] : "user";
}

// Writes text as a JSON string, quotes included. Besides quote, backslash
// and control bytes, "<" is escaped so that the text can never close a
// script element; bytes from 0x80 up are passed on as they are.
void json_string(const char* s)
{
    fputc('"', cgiOut);
    for (; *s != '\0'; ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c == '"' || c == '\\')
            fprintf(cgiOut, "\\%c", c);
        else if (c < 0x20 || c == '<')
            fprintf(cgiOut, "\\u%04x", c);
        else
            fputc(c, cgiOut);
    }
    fputc('"', cgiOut);
}

// The cameras a user of `level` may see, as the live view decides it: every
// camera when the security record's covert byte admits the level (0, or
// 3 - covert >= level), otherwise those whose own covert flag is clear.
uint32_t visible_cameras(int level)
{
    system_security_setting security;
    rw_system_security_setting(0, g_device.cfg, g_device.semid, &security);
    if (security.covert == 0 || 3 - static_cast<int>(security.covert) >= level)
        return (1u << kCameras) - 1;
    uint32_t visible = 0;
    for (int i = 0; i < 16; ++i) {
        analog_camera_setting cam;
        rw_analog_camera_setting(0, g_device.cfg, g_device.semid, &cam, i);
        visible |= cam.covert ? 0u : 1u << i;
    }
    for (int i = 0; i < kCameras - 16; ++i) {
        ip_camera_setting cam;
        rw_ip_camera_setting(0, g_device.cfg, g_device.semid, &cam, i);
        visible |= cam.covert ? 0u : 1u << (16 + i);
    }
    return visible;
}

// Opens the device objects and admits the user, or writes why not. A
// segment smaller than the configuration is not attached at all.
bool admit(int level)
{
    g_device.msgid = get_msg_id(kDeviceKey);
    g_device.semid = get_sem(kDeviceKey);
    g_device.cfg = g_device.msgid >= 0 && g_device.semid >= 0
                       ? get_shm_ptr_min(kDeviceKey, CFG_SEGMENT_MIN_SIZE)
                       : nullptr;
    if (g_device.cfg == nullptr) {
        cgiHeaderStatus(503, "Device service not running");
        fputs("The device service is not running.\n", cgiOut);
        return false;
    }
    // checkPrivilige writes the refusal page (and its header) itself.
    if (checkPrivilige(g_device.cfg, g_device.semid, cgiRemoteUser, level) != 0)
        return false;
    g_device.cameras = visible_cameras(getUserLevel(g_device.cfg, g_device.semid, cgiRemoteUser));
    return true;
}

}  // namespace

const Device& device()
{
    return g_device;
}

uint32_t form_u32(const char* name, uint32_t fallback)
{
    char text[16];
    if (cgiFormStringNoNewlines(name, text, sizeof text) != cgiFormSuccess)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = strtoull(text, &end, 10);
    const bool digits_only = text[0] >= '0' && text[0] <= '9' && *end == '\0';
    return digits_only && errno == 0 && v <= UINT32_MAX ? static_cast<uint32_t>(v) : fallback;
}

bool action_is(const char* name)
{
    char action[16];
    return cgiFormStringNoNewlines("do", action, sizeof action) == cgiFormSuccess &&
           cgiStrEqNc(action, name);
}

void begin(const char* title, const char* script)
{
    const int level = required_level;
    cgiHeaderContentType("text/html");
    fprintf(cgiOut,
            "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>%s</title>\n<link rel=\"stylesheet\" href=\"viewer.css\">\n"
            "<link rel=\"stylesheet\" href=\"pages.css\">\n<script src=\"pages.js\"></script>\n"
            "<script src=\"%s\" defer></script>\n</head>\n<body>\n"
            "<nav><a href=\"index.html\">Home</a> <a href=\"zelbrowser.cgi\">Live view</a> "
            "<a href=\"search.cgi\">Search</a> <a href=\"upload.cgi\">Upload</a> "
            "<a href=\"diskmap.cgi\">Disk map</a> <a href=\"system.cgi\">System</a></nav>\n"
            "<div id=\"status\"><span><b>%s</b></span>\n<span id=\"level\" data-level=\"%d\">",
            title, script, title, level);
    if (level == 0)
        fputs("For administrators (level 0) only", cgiOut);
    else
        fprintf(cgiOut, "For user levels 0 (administrator) to %d (%s)", level, level_name(level));
    fputs("; signed in as ", cgiOut);
    cgiHtmlEscape(cgiRemoteUser);
    fputs("</span></div>\n<main>\n", cgiOut);
}

void end()
{
    fputs("</main>\n</body>\n</html>\n", cgiOut);
}

Json::Json()
{
    cgiHeaderContentType("application/json");
    fputc('{', cgiOut);
}

Json::~Json()
{
    fputs("}\n", cgiOut);
}

void Json::separate(const char* key)
{
    if (!first_)
        fputc(',', cgiOut);
    first_ = false;
    if (key != nullptr) {
        json_string(key);
        fputc(':', cgiOut);
    }
}

Json& Json::num(const char* key, long long value)
{
    separate(key);
    fprintf(cgiOut, "%lld", value);
    return *this;
}

Json& Json::str(const char* key, const char* value)
{
    separate(key);
    json_string(value);
    return *this;
}

Json& Json::open(const char* key, char bracket)
{
    separate(key);
    fputc(bracket, cgiOut);
    first_ = true;
    return *this;
}

Json& Json::close(char bracket)
{
    fputc(bracket, cgiOut);
    first_ = false;
    return *this;
}

Json& Json::item(long long value)
{
    return num(nullptr, value);
}

}  // namespace page

int cgiOnInit(void)
{
    return page::admit(page::required_level) ? 1 : -1;
}
