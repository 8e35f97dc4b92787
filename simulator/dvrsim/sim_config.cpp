// sim_config.cpp - the key table of the simulator's configuration grammar,
// the parsing of values into record patches, and their locked application
// to (and formatting from) the configuration segment.
#include "sim_config.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cgi_cfg_access.h"
#include "config_new.h"
#include "shm.h"
#include "sim_device.h"
#include "sim_sessions.h"
#include "srv_cgi_model.h"

// The absolute offsets the simulator writes through its own service-side
// copies; the accessors cover the rest.
static_assert(offsetof(dvr_config, info) == 8864, "info record offset");
static_assert(offsetof(dvr_config, video_sys) == 9168, "video_sys offset");
static_assert(sizeof(info_setting) == 300, "info record size");
static_assert(sizeof(cfg_model) == 70, "model record size");
static_assert(sizeof(user_setting) == 26, "user record size");

namespace {

// Records a key can address. Each has a copy function with the accessors'
// calling convention (direction, segment, semaphore set, buffer, index).
enum class Region {
    user,
    analog,
    ip,
    net_ip,
    net_adv,
    net_srv,
    time,
    security,
    language,
    hostname,
    info,
    model,
    tv,
    count_
};

using RegionRw = int (*)(int r0w1, void* shm, int sem, void* buf, int index);

struct RegionDef {
    Region id;      // position in kRegions, checked at compile time
    RegionRw rw;    // locked copy of the whole record
    unsigned size;  // bytes of the record
    int count;      // records in its table (1 for a single record)
};

// The model, info and television-format records have no write accessor for
// CGI programs: the device service writes them itself, under the same lock.
int service_copy(int r0w1, void* shm, int sem, void* buf, size_t off, size_t len)
{
    down(sem, 0);
    unsigned char* rec = static_cast<unsigned char*>(shm) + off;
    if (r0w1)
        memcpy(rec, buf, len);
    else
        memcpy(buf, rec, len);
    return up(sem, 0);
}

constexpr RegionDef kRegions[] = {
    {Region::user,
     [](int d, void* s, int m, void* b, int i) { return rw_user_setting(d, s, m, b, i); },
     sizeof(user_setting), 25},
    {Region::analog,
     [](int d, void* s, int m, void* b, int i) { return rw_analog_camera_setting(d, s, m, b, i); },
     sizeof(analog_camera_setting), 16},
    {Region::ip,
     [](int d, void* s, int m, void* b, int i) { return rw_ip_camera_setting(d, s, m, b, i); },
     sizeof(ip_camera_setting), 4},
    {Region::net_ip,
     [](int d, void* s, int m, void* b, int) { return rw_network_ip_setting(d, s, m, b); },
     sizeof(network_ip_setting), 1},
    {Region::net_adv,
     [](int d, void* s, int m, void* b, int) { return rw_network_advanced_setting(d, s, m, b); },
     sizeof(network_advanced_setting), 1},
    {Region::net_srv,
     [](int d, void* s, int m, void* b, int) { return rw_network_service_setting(d, s, m, b); },
     sizeof(network_service_setting), 1},
    {Region::time,
     [](int d, void* s, int m, void* b, int) { return rw_system_time_date_setting(d, s, m, b); },
     sizeof(system_time_date_setting), 1},
    {Region::security,
     [](int d, void* s, int m, void* b, int) { return rw_system_security_setting(d, s, m, b); },
     sizeof(system_security_setting), 1},
    {Region::language,
     [](int d, void* s, int m, void* b, int) { return rw_system_language_setting(d, s, m, b); },
     sizeof(system_language_setting), 1},
    {Region::hostname,
     [](int d, void* s, int m, void* b, int) {
         return rw_info_hostname(d, s, m, static_cast<char*>(b));
     },
     sizeof(info_setting::hostname), 1},
    {Region::info,
     [](int d, void* s, int m, void* b, int) {
         return service_copy(d, s, m, b, offsetof(dvr_config, info), sizeof(info_setting));
     },
     sizeof(info_setting), 1},
    {Region::model,
     [](int d, void* s, int m, void* b, int) {
         return service_copy(d, s, m, b, CFG_MODEL_SEGMENT_OFFSET, sizeof(cfg_model));
     },
     sizeof(cfg_model), 1},
    {Region::tv,
     [](int d, void* s, int m, void* b, int) {
         return service_copy(d, s, m, b, offsetof(dvr_config, video_sys), 1);
     },
     1, 1},
};

constexpr bool regions_in_order()
{
    for (size_t i = 0; i < std::size(kRegions); ++i)
        if (static_cast<size_t>(kRegions[i].id) != i)
            return false;
    return std::size(kRegions) == static_cast<size_t>(Region::count_);
}
static_assert(regions_in_order(), "kRegions must follow the Region order");

constexpr unsigned max_region_size()
{
    unsigned m = 0;
    for (const RegionDef& r : kRegions)
        m = r.size > m ? r.size : m;
    return m;
}

// How a value is written: unsigned integers of the field's width, a dotted
// IPv4 address in a u32, NUL-terminated text, or a whole user entry.
enum class Kind { uint, ipv4, text, user };

}  // namespace

struct SimKeyDef {
    const char* pattern;  // dotted key; "#" stands for a record number from 1
    Region region;        // record the key lives in
    unsigned offset;      // field offset inside that record
    unsigned width;       // field bytes
    Kind kind;            // value syntax
};

namespace {

#define SIM_FIELD(T, m) static_cast<unsigned>(offsetof(T, m)), static_cast<unsigned>(sizeof(T::m))

constexpr SimKeyDef kKeys[] = {
    {"model.code", Region::model, SIM_FIELD(cfg_model, g_model), Kind::uint},
    {"model.channels", Region::model, SIM_FIELD(cfg_model, g_channelAmt), Kind::uint},
    {"model.brand", Region::model, SIM_FIELD(cfg_model, g_brand), Kind::uint},
    {"video_sys", Region::tv, 0, 1, Kind::uint},
    {"info.model", Region::info, SIM_FIELD(info_setting, model), Kind::text},
    {"info.serial_number", Region::info, SIM_FIELD(info_setting, serial_number), Kind::text},
    {"info.software_version", Region::info, SIM_FIELD(info_setting, software_version), Kind::text},
    {"info.max_users_supported", Region::info, SIM_FIELD(info_setting, max_users_supported),
     Kind::uint},
    {"info.hostname", Region::hostname, 0, sizeof(info_setting::hostname), Kind::text},
    {"network.type", Region::net_ip, SIM_FIELD(network_ip_setting, type), Kind::uint},
    {"network.ip_addr", Region::net_ip, SIM_FIELD(network_ip_setting, ip_addr), Kind::ipv4},
    {"network.subnet_mask", Region::net_ip, SIM_FIELD(network_ip_setting, subnet_mask), Kind::ipv4},
    {"network.gateway", Region::net_ip, SIM_FIELD(network_ip_setting, gateway), Kind::ipv4},
    {"network.primary_dns", Region::net_ip, SIM_FIELD(network_ip_setting, primary_dns), Kind::ipv4},
    {"network.secondary_dns", Region::net_ip, SIM_FIELD(network_ip_setting, secondary_dns),
     Kind::ipv4},
    {"network.ethernet_password", Region::net_ip, SIM_FIELD(network_ip_setting, ethernet_password),
     Kind::text},
    {"network.tcp_control_port", Region::net_adv,
     SIM_FIELD(network_advanced_setting, tcp_control_port), Kind::uint},
    {"network.listen_port", Region::net_adv, SIM_FIELD(network_advanced_setting, listen_port),
     Kind::uint},
    {"network.http_port", Region::net_srv, SIM_FIELD(network_service_setting, http_port),
     Kind::uint},
    {"time.time_format", Region::time, SIM_FIELD(system_time_date_setting, time_format),
     Kind::uint},
    {"time.date_format", Region::time, SIM_FIELD(system_time_date_setting, date_format),
     Kind::uint},
    {"time.timezone", Region::time, SIM_FIELD(system_time_date_setting, timezone), Kind::uint},
    {"time.daylight_saving", Region::time, SIM_FIELD(system_time_date_setting, daylight_saving),
     Kind::uint},
    {"security.front_panel", Region::security, SIM_FIELD(system_security_setting, front_panel),
     Kind::uint},
    {"security.macros", Region::security, SIM_FIELD(system_security_setting, macros), Kind::uint},
    {"security.menu", Region::security, SIM_FIELD(system_security_setting, menu), Kind::uint},
    {"security.search", Region::security, SIM_FIELD(system_security_setting, search), Kind::uint},
    {"security.archive", Region::security, SIM_FIELD(system_security_setting, archive), Kind::uint},
    {"security.covert", Region::security, SIM_FIELD(system_security_setting, covert), Kind::uint},
    {"security.ptz_control", Region::security, SIM_FIELD(system_security_setting, ptz_control),
     Kind::uint},
    {"security.operator_timeout", Region::security,
     SIM_FIELD(system_security_setting, operator_timeout), Kind::uint},
    {"security.manager_timeout", Region::security,
     SIM_FIELD(system_security_setting, manager_timeout), Kind::uint},
    {"security.admin_timeout", Region::security, SIM_FIELD(system_security_setting, admin_timeout),
     Kind::uint},
    {"language", Region::language, SIM_FIELD(system_language_setting, language), Kind::uint},
    {"camera.analog.#.enable", Region::analog, SIM_FIELD(analog_camera_setting, enable),
     Kind::uint},
    {"camera.analog.#.record_mode", Region::analog, SIM_FIELD(analog_camera_setting, record_mode),
     Kind::uint},
    {"camera.analog.#.covert", Region::analog, SIM_FIELD(analog_camera_setting, covert),
     Kind::uint},
    {"camera.analog.#.title", Region::analog, SIM_FIELD(analog_camera_setting, title), Kind::text},
    {"camera.ip.#.enable", Region::ip, SIM_FIELD(ip_camera_setting, enable), Kind::uint},
    {"camera.ip.#.ip_addr", Region::ip, SIM_FIELD(ip_camera_setting, ip_addr), Kind::ipv4},
    {"camera.ip.#.record_mode", Region::ip, SIM_FIELD(ip_camera_setting, record_mode), Kind::uint},
    {"camera.ip.#.covert", Region::ip, SIM_FIELD(ip_camera_setting, covert), Kind::uint},
    {"camera.ip.#.title", Region::ip, SIM_FIELD(ip_camera_setting, title), Kind::text},
    {"user.#", Region::user, 0, sizeof(user_setting), Kind::user},
};

#undef SIM_FIELD

// Catches a key whose kind does not fit the width of its field, and any field
// reaching past its record.
constexpr bool keys_consistent()
{
    for (const SimKeyDef& k : kKeys) {
        const unsigned w = k.width;
        const bool ok = k.kind == Kind::uint   ? (w == 1 || w == 2 || w == 4)
                        : k.kind == Kind::ipv4 ? w == 4
                        : k.kind == Kind::text ? w >= 2
                                               : w == sizeof(user_setting);
        if (!ok || k.offset + w > kRegions[static_cast<int>(k.region)].size)
            return false;
    }
    return true;
}
static_assert(keys_consistent(), "a key does not fit its field");

constexpr size_t kMaxUserName = sizeof(user_setting::username) - 1;  // compared over 12 bytes
constexpr size_t kMaxUserPassword = sizeof(user_setting::password) - 1;

using Record = std::array<unsigned char, max_region_size()>;

std::string_view trim(std::string_view s)
{
    const char* ws = " \t\r\n";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos)
        return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// Decimal number without sign or blanks, at most `max`.
bool parse_uint(std::string_view s, unsigned long max, unsigned long& out)
{
    const char* end = s.data() + s.size();
    auto r = std::from_chars(s.data(), end, out);
    return !s.empty() && r.ec == std::errc() && r.ptr == end && out <= max;
}

enum class Match { no, yes, bad_index };

// Compares a dotted key with a pattern, taking the record number where the
// pattern holds "#".
Match match_key(std::string_view pattern, std::string_view key, int count, int& index,
                std::string& err)
{
    for (;;) {
        const size_t pp = pattern.find('.');
        const size_t kp = key.find('.');
        const std::string_view ps = pattern.substr(0, pp);
        const std::string_view ks = key.substr(0, kp);
        if (ps == "#") {
            unsigned long n = 0;
            if (!parse_uint(ks, 100000, n))
                return Match::no;
            if (n < 1 || n > static_cast<unsigned long>(count)) {
                err = "number " + std::string(ks) + " is out of range 1.." + std::to_string(count);
                return Match::bad_index;
            }
            index = static_cast<int>(n) - 1;
        } else if (ps != ks) {
            return Match::no;
        }
        if (pp == std::string_view::npos || kp == std::string_view::npos)
            return pp == kp ? Match::yes : Match::no;
        pattern.remove_prefix(pp + 1);
        key.remove_prefix(kp + 1);
    }
}

const SimKeyDef* find_key(std::string_view key, int& index, std::string& err)
{
    for (const SimKeyDef& k : kKeys) {
        std::string why;
        const Match m =
            match_key(k.pattern, key, kRegions[static_cast<int>(k.region)].count, index, why);
        if (m == Match::yes)
            return &k;
        if (m == Match::bad_index) {
            err = "key '" + std::string(key) + "': " + why;
            return nullptr;
        }
    }
    err = "unknown key '" + std::string(key) + "'";
    return nullptr;
}

unsigned long uint_max(unsigned width)
{
    return width >= 4 ? 0xffffffffUL : (1UL << (8 * width)) - 1;
}

std::vector<unsigned char> uint_bytes(unsigned long v, unsigned width)
{
    std::vector<unsigned char> b(width);
    if (width == 1) {
        b[0] = static_cast<unsigned char>(v);
    } else if (width == 2) {
        const uint16_t n = static_cast<uint16_t>(v);
        memcpy(b.data(), &n, 2);
    } else {
        const uint32_t n = static_cast<uint32_t>(v);
        memcpy(b.data(), &n, 4);
    }
    return b;
}

unsigned long uint_value(const unsigned char* p, unsigned width)
{
    if (width == 1)
        return p[0];
    if (width == 2) {
        uint16_t n;
        memcpy(&n, p, 2);
        return n;
    }
    uint32_t n;
    memcpy(&n, p, 4);
    return n;
}

// Text in a NUL-padded field, leaving room for the terminator.
bool text_bytes(std::string_view v, unsigned width, std::vector<unsigned char>& out)
{
    if (v.size() >= width || v.find('\0') != std::string_view::npos)
        return false;
    out.assign(width, 0);
    memcpy(out.data(), v.data(), v.size());
    return true;
}

bool ipv4_bytes(std::string_view v, std::vector<unsigned char>& out)
{
    uint32_t addr = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = v.find('.');
        if ((dot == std::string_view::npos) != (i == 3))
            return false;
        unsigned long part = 0;
        if (!parse_uint(v.substr(0, dot), 255, part))
            return false;
        addr = (addr << 8) | static_cast<uint32_t>(part);
        v.remove_prefix(i == 3 ? v.size() : dot + 1);
    }
    out = uint_bytes(addr, 4);
    return true;
}

std::vector<std::string_view> split_words(std::string_view v)
{
    std::vector<std::string_view> words;
    for (v = trim(v); !v.empty(); v = trim(v)) {
        const size_t end = std::min(v.find(' '), v.find('\t'));
        words.push_back(v.substr(0, end));
        v.remove_prefix(end == std::string_view::npos ? v.size() : end);
    }
    return words;
}

// "name password level enable": the name also names the user in the web
// server's "name:password" file, so it may hold neither ':' nor blanks.
bool user_patches(std::string_view v, std::vector<SimPatch>& out, std::string& err)
{
    const std::vector<std::string_view> w = split_words(v);
    unsigned long level = 0, enable = 0;
    SimPatch name{offsetof(user_setting, username), {}};
    SimPatch pass{offsetof(user_setting, password), {}};
    if (w.size() != 4) {
        err = "expected 'name password level enable'";
    } else if (w[0].find(':') != std::string_view::npos ||
               !text_bytes(w[0], sizeof(user_setting::username), name.bytes)) {
        err = "user name must be 1 to " + std::to_string(kMaxUserName) + " characters without ':'";
    } else if (!text_bytes(w[1], sizeof(user_setting::password), pass.bytes)) {
        err = "password must be 1 to " + std::to_string(kMaxUserPassword) + " characters";
    } else if (!parse_uint(w[2], 255, level) || !parse_uint(w[3], 255, enable)) {
        err = "level and enable must be numbers 0..255";
    } else {
        out = {name,
               pass,
               {offsetof(user_setting, access_level), uint_bytes(level, 1)},
               {offsetof(user_setting, enable), uint_bytes(enable, 1)}};
        return true;
    }
    return false;
}

bool value_patches(const SimKeyDef& k, std::string_view v, std::vector<SimPatch>& out,
                   std::string& err)
{
    SimPatch p{k.offset, {}};
    unsigned long n = 0;
    switch (k.kind) {
        case Kind::uint:
            if (!parse_uint(v, uint_max(k.width), n)) {
                err = "expected a number 0.." + std::to_string(uint_max(k.width));
                return false;
            }
            p.bytes = uint_bytes(n, k.width);
            break;
        case Kind::ipv4:
            if (!ipv4_bytes(v, p.bytes)) {
                err = "expected a dotted IPv4 address such as 192.168.1.10";
                return false;
            }
            break;
        case Kind::text:
            if (!text_bytes(v, k.width, p.bytes)) {
                err = "text longer than " + std::to_string(k.width - 1) + " characters";
                return false;
            }
            break;
        case Kind::user:
            return user_patches(v, out, err);
    }
    out = {p};
    return true;
}

std::string text_value(const unsigned char* p, unsigned width)
{
    const void* nul = memchr(p, 0, width);
    const size_t len =
        nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - p) : width;
    return std::string(reinterpret_cast<const char*>(p), len);
}

std::string format_value(const SimKeyDef& k, const unsigned char* rec)
{
    const unsigned char* f = rec + k.offset;
    switch (k.kind) {
        case Kind::uint:
            return std::to_string(uint_value(f, k.width));
        case Kind::ipv4: {
            char ip[80];  // the width convertItoIP requires
            convertItoIP(ip, static_cast<int>(uint_value(f, 4)));
            return ip;
        }
        case Kind::text:
            return text_value(f, k.width);
        case Kind::user:
            break;
    }
    return text_value(f + offsetof(user_setting, username), sizeof(user_setting::username)) + ' ' +
           text_value(f + offsetof(user_setting, password), sizeof(user_setting::password)) + ' ' +
           std::to_string(f[offsetof(user_setting, access_level)]) + ' ' +
           std::to_string(f[offsetof(user_setting, enable)]);
}

bool read_record(const SimDevice& dev, Region r, int index, Record& rec)
{
    return kRegions[static_cast<int>(r)].rw(0, dev.cfg, dev.semid, rec.data(), index) == 0;
}

}  // namespace

bool sim_parse_assignment(std::string_view key, std::string_view value, SimAssignment& out,
                          std::string& err)
{
    out.key = find_key(trim(key), out.index, err);
    if (!out.key)
        return false;
    if (!value_patches(*out.key, trim(value), out.patches, err)) {
        err = "key '" + std::string(trim(key)) + "': " + err;
        return false;
    }
    return true;
}

bool sim_parse_config(std::string_view text, std::string_view origin,
                      std::vector<SimAssignment>& out, std::vector<std::string>& errors)
{
    const size_t errors_before = errors.size();
    for (int line_no = 1; !text.empty(); ++line_no) {
        const size_t nl = text.find('\n');
        const std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t eq = line.find('=');
        std::string err = "expected 'key = value'";
        SimAssignment a;
        if (eq != std::string_view::npos &&
            sim_parse_assignment(line.substr(0, eq), line.substr(eq + 1), a, err))
            out.push_back(a);
        else
            errors.push_back(std::string(origin) + ":" + std::to_string(line_no) + ": " + err);
    }
    return errors.size() == errors_before;
}

bool sim_apply(const SimDevice& dev, const SimAssignment& a)
{
    assert(a.key);
    Record rec{};
    bool ok = read_record(dev, a.key->region, a.index, rec);
    for (const SimPatch& p : a.patches) {
        assert(p.offset + p.bytes.size() <= kRegions[static_cast<int>(a.key->region)].size);
        memcpy(rec.data() + p.offset, p.bytes.data(), p.bytes.size());
    }
    ok = kRegions[static_cast<int>(a.key->region)].rw(1, dev.cfg, dev.semid, rec.data(), a.index) ==
             0 &&
         ok;
    return ok;
}

bool sim_get(const SimDevice& dev, std::string_view key, std::string& value, std::string& err)
{
    int index = 0;
    const SimKeyDef* k = find_key(trim(key), index, err);
    if (!k)
        return false;
    Record rec{};
    if (!read_record(dev, k->region, index, rec)) {
        err = "cannot lock the configuration segment";
        return false;
    }
    value = format_value(*k, rec.data());
    return true;
}

std::vector<std::string> sim_enabled_users(const SimDevice& dev)
{
    std::vector<std::string> lines;
    for (int i = 0; i < kRegions[static_cast<int>(Region::user)].count; ++i) {
        user_setting u;
        rw_user_setting(0, dev.cfg, dev.semid, &u, i);
        if (u.enable != 1)
            continue;
        const auto* b = reinterpret_cast<const unsigned char*>(&u);
        lines.push_back(text_value(b + offsetof(user_setting, username), sizeof u.username) + ':' +
                        text_value(b + offsetof(user_setting, password), sizeof u.password));
    }
    return lines;
}
