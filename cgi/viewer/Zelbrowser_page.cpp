// Zelbrowser_page.cpp - the two page writers: copy a template in 255-byte
// pieces to the response, replacing each piece that carries a marker by
// generated script lines or HTML.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "Zelbrowser.h"
#include "cgi_request.h"

const char* const dt_format[3][2] = {
    {"%m/%d/%y %H:%M:%S", "%m/%d/%y %I:%M:%S %p"},
    {"%d/%m/%y %H:%M:%S", "%d/%m/%y %I:%M:%S %p"},
    {"%y/%m/%d %H:%M:%S", "%y/%m/%d %I:%M:%S %p"},
};

const char* currentDtFormat(const system_time_date_setting* time_date)
{
    constexpr unsigned kDateFormats = sizeof dt_format / sizeof dt_format[0];
    constexpr unsigned kTimeFormats = sizeof dt_format[0] / sizeof dt_format[0][0];
    const unsigned date = time_date->date_format < kDateFormats ? time_date->date_format : 0;
    const unsigned time = time_date->time_format < kTimeFormats ? time_date->time_format : 0;
    return dt_format[date][time];
}

namespace {

// Template bytes are read in blocks of this size; a piece is at most
// kPieceMax bytes, the most a 256-byte line buffer holds.
constexpr size_t kBlock = 64 * 1024;
constexpr size_t kPieceMax = 255;

// Response text made of literal pieces and decimal numbers, gathered in a
// buffer of its own and handed to the response stream in large writes
// (the page is written once per request, from many small pieces).
class Out {
  public:
    explicit Out(FILE* f) : f_(f) {}
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    ~Out() { flush(); }

    Out& operator<<(std::string_view text)
    {
        if (text.empty())
            return *this;
        if (text.size() > sizeof buf_ - used_) {
            flush();
            if (text.size() > sizeof buf_) {
                std::fwrite(text.data(), 1, text.size(), f_);
                return *this;
            }
        }
        std::memcpy(buf_ + used_, text.data(), text.size());
        used_ += text.size();
        return *this;
    }
    Out& operator<<(int value)
    {
        char digits[12];
        char* p = digits + sizeof digits;
        unsigned magnitude =
            value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        do {
            *--p = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0)
            *--p = '-';
        return *this << std::string_view(p, static_cast<size_t>(digits + sizeof digits - p));
    }

  private:
    void flush()
    {
        std::fwrite(buf_, 1, used_, f_);
        used_ = 0;
    }

    FILE* f_;          // the response stream
    char buf_[4096];   // text not yet handed to f_
    size_t used_ = 0;  // bytes of buf_ in use
};

// What a page's generated lines are made of.
struct PageValues {
    const zelRequest& req;             // what the handler read from the device
    unsigned char frontpanel_access;   // 1: user may use front-panel functions
    unsigned char covert_access;       // 1: user may see covert cameras
    const unsigned char* covert_list;  // ZEL_COVERT_CAMERAS covert flags
    int cam;                           // playback camera number, 1-based
    long day;                          // playback packed day
    long time;                         // playback second of the day
};

using Writer = void (*)(Out& out, const PageValues& v);

// A marker text and what replaces the piece that carries it; the first rule
// whose marker a piece contains wins.
struct MarkerRule {
    std::string_view marker;
    Writer write;
};

// Connection lines shared by both pages: ports, passcode, covert access.
void writeConnection(Out& out, const PageValues& v)
{
    const network_advanced_setting& adv = v.req.netSetting.ip_advanced;
    char pass[5] = {};
    std::memcpy(pass, v.req.netSetting.ip_settings.ethernet_password, 4);
    out << "\t\tg_conn_port=\"" << adv.listen_port << "\";\n"
        << "\t\tm_port=" << adv.tcp_control_port << ";\n"
        << "\t\tg_conn_pass=\"" << std::string_view(pass) << "\";\n"
        << "\t\tg_covert_access=" << v.covert_access << ";\n";
}

void writeLanguage(Out& out, const PageValues& v)
{
    out << "<script src='language/" << v.req.language << ".js' type='text/javascript'></script>\n";
}

void writeDtFormat(Out& out, const PageValues& v)
{
    out << "\t\tdt_format = \"" << std::string_view(currentDtFormat(&v.req.time_date)) << "\";\n";
}

void writeLiveInformation(Out& out, const PageValues& v)
{
    writeConnection(out, v);
    out << "\t\tg_frontpanel_access=" << v.frontpanel_access << ";\n"
        << "\t\ttop.m_CameraCount=" << v.req.g_channelAmt << ";\n"
        << "\t\ttop.m_ModelName=" << v.req.g_model << ";\n"
        << "\t\ttop.m_pType=" << v.req.g_brand << ";\n"
        << "\t\ttop.logType(" << v.req.g_model << ");\n";
    writeDtFormat(out, v);
    for (int i = 0; i < ZEL_COVERT_CAMERAS; ++i)
        out << "\t\tg_covert_list[" << i << "]=" << v.covert_list[i] << ";\n";
}

// Channels 1 to 4 are static in the template; 5 and up are generated.
void writeChannels(Out& out, const PageValues& v)
{
    for (int i = 4; i < v.req.g_channelAmt; ++i)
        out << "\t\t<td>\n\t\t<table cellspacing=0 width=25px height=70px "
               "style='font-size:7pt;color: #888888'>\n\t\t<tr>\n\t\t<td>\n\t\t"
            << i + 1
            << "\n\t\t</td>\n\t\t</tr>\n\t\t<tr height=25px>\n\t\t<td align=center>\n"
               "\t\t<img src='images/Channels/sNone.jpg' border=0 name='rImage' "
               "onclick='switch_cam("
            << i
            << ")'>\n\t\t</td>\n\t\t</tr>\n\t\t<tr>\n\t\t<td>\n"
               "\t\t&nbsp;\n\t\t</td>\n\t\t</tr>\n\t\t</table>\n\t\t</td>\n";
}

void writePlaybackInformation(Out& out, const PageValues& v)
{
    const int sec = static_cast<int>(v.time % 60);
    const int min = static_cast<int>(((v.time - sec) / 60) % 60);
    const int hour = static_cast<int>((v.time - sec - 60 * min) / 3600);
    out << "\t\tm_cam=" << v.cam - 1 << "\n"
        << "\t\tm_year=" << static_cast<int>(v.day >> 9) + 2000 << "\n"
        << "\t\tm_month=" << static_cast<int>((v.day >> 5) & 0xF) << "\n"
        << "\t\tm_date=" << static_cast<int>(v.day & 0x1F) << "\n"
        << "\t\tm_hour=" << hour << "\n"
        << "\t\tm_min=" << min << "\n"
        << "\t\tm_sec=" << sec << "\n";
    writeConnection(out, v);
    out << "\t\tm_CameraCount=" << v.req.g_channelAmt << ";\n"
        << "\t\tm_ModelName=" << v.req.g_model << ";\n"
        << "\t\ttop.m_pType=" << v.req.g_brand << ";\n";
    writeDtFormat(out, v);
}

constexpr MarkerRule kLiveRules[] = {
    {"<!-- information -->", writeLiveInformation},
    {"<!-- Language -->", writeLanguage},
    {"<!-- Channels -->", writeChannels},
};

constexpr MarkerRule kPlaybackRules[] = {
    {"<!-- Information -->", writePlaybackInformation},
    {"<!-- Language -->", writeLanguage},
};

// The rule whose marker `text` carries, or null. Every marker is an HTML
// comment, so text without one is passed over with a single search.
template <size_t N>
const MarkerRule* findRule(const MarkerRule (&rules)[N], std::string_view text)
{
    if (text.find("<!--") == std::string_view::npos)
        return nullptr;
    for (const MarkerRule& rule : rules)
        if (text.find(rule.marker) != std::string_view::npos)
            return &rule;
    return nullptr;
}

// Reads until `len` bytes are in or the file ends; the count read (a read
// error ends the template like its end does).
size_t readFull(int fd, char* to, size_t len)
{
    size_t got = 0;
    while (got < len) {
        const ssize_t n = read(fd, to + got, len - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// Copies the pieces of one block, [0, have), to the response under `rules`;
// returns where the incomplete piece left for the next block starts. Runs
// of unchanged pieces leave in one write. A piece's text ends at its first
// NUL byte, as it would for a C string.
template <size_t N>
size_t copyBlock(const char* buf, size_t have, bool eof, const MarkerRule (&rules)[N], Out& out,
                 const PageValues& v)
{
    size_t pos = 0;
    size_t run = 0;  // start of the pending unchanged run, which ends at pos
    const bool hasNul = std::memchr(buf, '\0', have) != nullptr;
    while (pos < have) {
        const size_t avail = std::min(have - pos, kPieceMax);
        const void* nl = std::memchr(buf + pos, '\n', avail);
        if (!nl && avail < kPieceMax && !eof)
            break;
        const size_t len =
            nl ? static_cast<size_t>(static_cast<const char*>(nl) - (buf + pos)) + 1 : avail;
        assert(len >= 1 && len <= kPieceMax && pos + len <= have);
        const std::string_view piece(buf + pos, len);
        const std::string_view text = hasNul ? piece.substr(0, piece.find('\0')) : piece;
        const MarkerRule* rule = findRule(rules, text);
        if (rule || text.size() != len) {
            out << std::string_view(buf + run, pos - run);
            if (rule)
                rule->write(out, v);
            else
                out << text;
            run = pos + len;
        }
        pos += len;
    }
    out << std::string_view(buf + run, pos - run);
    return pos;
}

// Copies template `file` to the response in pieces of at most 255 bytes
// (a line, or the next 255 bytes of a longer one), replacing each piece
// that carries a marker. A marker split across two pieces is not seen.
template <size_t N>
int copyTemplate(const char* file, const MarkerRule (&rules)[N], const PageValues& v)
{
    const int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "%s file not found !\n", file);
        return -1;
    }
    static char buf[kBlock];
    Out out(cgiOut);
    size_t kept = 0;
    for (bool eof = false; !eof;) {
        const size_t got = readFull(fd, buf + kept, sizeof buf - kept);
        eof = got < sizeof buf - kept;
        const size_t have = kept + got;
        const size_t done = copyBlock(buf, have, eof, rules, out, v);
        kept = have - done;
        std::memmove(buf, buf + done, kept);
    }
    close(fd);
    return 0;
}

}  // namespace

int showIndexHtml(const zelRequest* req, unsigned char frontpanel_access,
                  unsigned char covert_access, unsigned char* covert_list)
{
    assert(req && covert_list);
    const PageValues v{*req, frontpanel_access, covert_access, covert_list, 0, 0, 0};
    return copyTemplate("ZelBrowser.htm", kLiveRules, v);
}

int showPlaybackHtml(const zelRequest* req, unsigned char frontpanel_access,
                     unsigned char covert_access, unsigned char* covert_list, int m_cam, long m_day,
                     long m_time)
{
    assert(req && covert_list);
    const PageValues v{*req, frontpanel_access, covert_access, covert_list, m_cam, m_day, m_time};
    return copyTemplate("Playback.htm", kPlaybackRules, v);
}
