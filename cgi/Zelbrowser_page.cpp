// Zelbrowser_page.cpp - the two page writers: copy a template in 255-byte
// pieces to the response, replacing each piece that carries a marker by
// generated script lines or HTML.
#include <cstdio>
#include <cstring>

#include "Zelbrowser.h"
#include "cgi_request.h"

const char* const dt_format[3][2] = {
    {"%m/%d/%y %H:%M:%S", "%m/%d/%y %I:%M:%S %p"},
    {"%d/%m/%y %H:%M:%S", "%d/%m/%y %I:%M:%S %p"},
    {"%y/%m/%d %H:%M:%S", "%y/%m/%d %I:%M:%S %p"},
};

const char* currentDtFormat(void) {
  constexpr unsigned kDateFormats = sizeof dt_format / sizeof dt_format[0];
  constexpr unsigned kTimeFormats = sizeof dt_format[0] / sizeof dt_format[0][0];
  const unsigned date = time_date.date_format < kDateFormats ? time_date.date_format : 0;
  const unsigned time = time_date.time_format < kTimeFormats ? time_date.time_format : 0;
  return dt_format[date][time];
}

namespace {

// What a page's generated lines are made of.
struct PageValues {
  unsigned char frontpanel_access;   // 1: user may use front-panel functions
  unsigned char covert_access;       // 1: user may see covert cameras
  const unsigned char* covert_list;  // ZEL_COVERT_CAMERAS covert flags
  int cam;                           // playback camera number, 1-based
  long day;                          // playback packed day
  long time;                         // playback second of the day
};

using Writer = void (*)(FILE* out, const PageValues& v);

// A marker text and what replaces the piece that carries it; the first rule
// whose marker a piece contains wins.
struct MarkerRule {
  const char* marker;
  Writer write;
};

// Connection lines shared by both pages: ports, passcode, covert access.
void writeConnection(FILE* out, const PageValues& v) {
  const network_advanced_setting& adv = netSetting.ip_advanced;
  char pass[5] = {};
  std::memcpy(pass, netSetting.ip_settings.ethernet_password, 4);
  std::fprintf(out, "\t\tg_conn_port=\"%d\";\n", adv.listen_port);
  std::fprintf(out, "\t\tm_port=%d;\n", adv.tcp_control_port);
  std::fprintf(out, "\t\tg_conn_pass=\"%s\";\n", pass);
  std::fprintf(out, "\t\tg_covert_access=%d;\n", v.covert_access);
}

void writeLanguage(FILE* out, const PageValues&) {
  std::fprintf(out, "<script src='language/%d.js' type='text/javascript'></script>\n", language);
}

void writeLiveInformation(FILE* out, const PageValues& v) {
  writeConnection(out, v);
  std::fprintf(out, "\t\tg_frontpanel_access=%d;\n", v.frontpanel_access);
  std::fprintf(out, "\t\ttop.m_CameraCount=%d;\n", g_channelAmt);
  std::fprintf(out, "\t\ttop.m_ModelName=%d;\n", g_model);
  std::fprintf(out, "\t\ttop.m_pType=%d;\n", g_brand);
  std::fprintf(out, "\t\ttop.logType(%d);\n", g_model);
  std::fprintf(out, "\t\tdt_format = \"%s\";\n", currentDtFormat());
  for (int i = 0; i < ZEL_COVERT_CAMERAS; ++i)
    std::fprintf(out, "\t\tg_covert_list[%d]=%d;\n", i, v.covert_list[i]);
}

// Channels 1 to 4 are static in the template; 5 and up are generated.
void writeChannels(FILE* out, const PageValues&) {
  for (int i = 4; i < g_channelAmt; ++i)
    std::fprintf(out,
                 "\t\t<td>\n\t\t<table cellspacing=0 width=25px height=70px "
                 "style='font-size:7pt;color: #888888'>\n\t\t<tr>\n\t\t<td>\n\t\t%d\n"
                 "\t\t</td>\n\t\t</tr>\n\t\t<tr height=25px>\n\t\t<td align=center>\n"
                 "\t\t<img src='images/Channels/sNone.jpg' border=0 name='rImage' "
                 "onclick='switch_cam(%d)'>\n\t\t</td>\n\t\t</tr>\n\t\t<tr>\n\t\t<td>\n"
                 "\t\t&nbsp;\n\t\t</td>\n\t\t</tr>\n\t\t</table>\n\t\t</td>\n",
                 i + 1, i);
}

void writePlaybackInformation(FILE* out, const PageValues& v) {
  const int sec = static_cast<int>(v.time % 60);
  const int min = static_cast<int>(((v.time - sec) / 60) % 60);
  const int hour = static_cast<int>((v.time - sec - 60 * min) / 3600);
  std::fprintf(out, "\t\tm_cam=%d\n", v.cam - 1);
  std::fprintf(out, "\t\tm_year=%d\n", static_cast<int>(v.day >> 9) + 2000);
  std::fprintf(out, "\t\tm_month=%d\n", static_cast<int>((v.day >> 5) & 0xF));
  std::fprintf(out, "\t\tm_date=%d\n", static_cast<int>(v.day & 0x1F));
  std::fprintf(out, "\t\tm_hour=%d\n", hour);
  std::fprintf(out, "\t\tm_min=%d\n", min);
  std::fprintf(out, "\t\tm_sec=%d\n", sec);
  writeConnection(out, v);
  std::fprintf(out, "\t\tm_CameraCount=%d;\n", g_channelAmt);
  std::fprintf(out, "\t\tm_ModelName=%d;\n", g_model);
  std::fprintf(out, "\t\ttop.m_pType=%d;\n", g_brand);
  std::fprintf(out, "\t\tdt_format = \"%s\";\n", currentDtFormat());
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

template <size_t N>
const MarkerRule* findRule(const MarkerRule (&rules)[N], const char* piece) {
  for (const MarkerRule& rule : rules)
    if (std::strstr(piece, rule.marker)) return &rule;
  return nullptr;
}

// Copies template `file` to the response under `rules`. A marker split
// across two pieces of a long line is not seen, by design of the format.
template <size_t N>
int copyTemplate(const char* file, const MarkerRule (&rules)[N], const PageValues& v) {
  FILE* in = std::fopen(file, "r");
  if (!in) {
    std::fprintf(stderr, "%s file not found !\n", file);
    return -1;
  }
  char piece[256];
  while (std::fgets(piece, sizeof piece, in)) {
    if (const MarkerRule* rule = findRule(rules, piece))
      rule->write(cgiOut, v);
    else
      std::fputs(piece, cgiOut);
  }
  std::fclose(in);
  return 0;
}

}  // namespace

int showIndexHtml(unsigned char frontpanel_access, unsigned char covert_access,
                  unsigned char* covert_list) {
  const PageValues v{frontpanel_access, covert_access, covert_list, 0, 0, 0};
  return copyTemplate("ZelBrowser.htm", kLiveRules, v);
}

int showPlaybackHtml(unsigned char frontpanel_access, unsigned char covert_access,
                     unsigned char* covert_list, int m_cam, long m_day, long m_time) {
  const PageValues v{frontpanel_access, covert_access, covert_list, m_cam, m_day, m_time};
  return copyTemplate("Playback.htm", kPlaybackRules, v);
}
