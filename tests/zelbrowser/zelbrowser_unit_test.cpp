// zelbrowser_unit_test.cpp - the viewer's pure rules (access, id decoding,
// date-time format choice) and the template copier's marker handling, run
// in-process with the response stream pointed at a temporary file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Zelbrowser.h"
#include "cgi_request.h"

namespace {

struct AccessCase {
    unsigned char setting;
    int level;
    int expected;
};

TEST(AccessRule, Table)
{
    const AccessCase cases[] = {
        {0, 255, 1}, {1, 2, 1}, {1, 3, 0}, {2, 1, 1},   {2, 2, 0},
        {3, 0, 1},   {3, 1, 0}, {4, 0, 0}, {255, 0, 0},
    };
    for (const AccessCase& c : cases)
        EXPECT_EQ(hasAccess(c.setting, c.level), c.expected)
            << "setting " << int(c.setting) << " level " << c.level;
}

constexpr unsigned kBad = static_cast<unsigned>(-1);

struct IdCase {
    const char* id;  // at most 11 characters take part, as after the handler's cut
    int cam;
    unsigned day;
    unsigned time;
};

TEST(IdDecoding, Table)
{
    const IdCase cases[] = {
        {"2A4C0300000", 3, 0x2A4C, 0},
        {"2a4c0386399", 3, 0x2A4C, 86399},
        {"2A4C0386400", 3, 0x2A4C, kBad},
        {"2A4C0000000", -1, 0x2A4C, 0},
        {"FFFF2000001", 20, 0xFFFF, 1},
        {"0000010003c", 1, 0, 81},  // time characters count by code: 3*10 + ('c'-'0')
        {"2G4C0300000", 3, kBad, 0},
        {"2A4C03", 3, 0x2A4C, kBad},       // NUL time digits count as -48
        {"2A4C038000", 3, 0x2A4C, 79952},  // 80000 - 48 still a valid second
        {"2A", -1, kBad, kBad},
        {"000:0100000", 1, kBad, 0},  // ':' follows '9' but is no hex digit
        {"00010/00000", -1, 1, 0},    // '/' precedes '0': camera 0*10-1
    };
    for (const IdCase& c : cases) {
        char id[12] = {};
        std::strncpy(id, c.id, sizeof id - 1);
        EXPECT_EQ(getCmr(id), c.cam) << c.id;
        EXPECT_EQ(getDate(id), c.day) << c.id;
        EXPECT_EQ(getTime(id), c.time) << c.id;
    }
}

// Bytes count by their unsigned code whatever the signedness of char.
TEST(IdDecoding, HighBytesCountUnsigned)
{
    char id[12] = "2A4C0300000";
    id[5] = static_cast<char>(0xB3);
    EXPECT_EQ(getCmr(id), -1);  // 0 * 10 + 131
    id[5] = '3';
    id[10] = static_cast<char>(0xB0);
    EXPECT_EQ(getTime(id), 128u);  // 0xB0 - '0'
}

struct FormatCase {
    unsigned char date_format;
    unsigned char time_format;
    const char* expected;
};

TEST(DateTimeFormat, TableAndFallback)
{
    const FormatCase cases[] = {
        {0, 1, "%m/%d/%y %I:%M:%S %p"}, {1, 0, "%d/%m/%y %H:%M:%S"}, {2, 1, "%y/%m/%d %I:%M:%S %p"},
        {3, 1, "%m/%d/%y %I:%M:%S %p"}, {1, 2, "%d/%m/%y %H:%M:%S"},
    };
    for (const FormatCase& c : cases) {
        system_time_date_setting time_date{};
        time_date.date_format = c.date_format;
        time_date.time_format = c.time_format;
        EXPECT_STREQ(currentDtFormat(&time_date), c.expected)
            << int(c.date_format) << "," << int(c.time_format);
    }
}

// Runs page writers in a scratch directory with the response in a file.
class PageWriter : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char dirTemplate[] = "/tmp/zelpage.XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir_ = dirTemplate;
        ASSERT_NE(getcwd(oldCwd_, sizeof oldCwd_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        savedOut_ = cgiOut;
        cgiOut = std::tmpfile();
        ASSERT_NE(cgiOut, nullptr);
        req_ = zelRequest{};
        req_.g_channelAmt = 4;
    }
    void TearDown() override
    {
        std::fclose(cgiOut);
        cgiOut = savedOut_;
        std::remove("ZelBrowser.htm");
        std::remove("Playback.htm");
        ASSERT_EQ(chdir(oldCwd_), 0);
        rmdir(dir_.c_str());
    }
    static void writeFile(const char* name, const std::string& text)
    {
        FILE* f = std::fopen(name, "w");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    static std::string response()
    {
        std::string out;
        std::rewind(cgiOut);
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, cgiOut)) > 0)
            out.append(chunk, n);
        return out;
    }
    int live()
    {
        unsigned char list[ZEL_COVERT_CAMERAS] = {};
        return showIndexHtml(&req_, 1, 1, list);
    }
    // The values the handler would have read from the device.
    void setDevice(int listenPort, int controlPort, const char (&password)[6], int channels,
                   int model, int brand)
    {
        req_.netSetting.ip_advanced.listen_port = static_cast<uint16_t>(listenPort);
        req_.netSetting.ip_advanced.tcp_control_port = static_cast<uint16_t>(controlPort);
        std::memcpy(req_.netSetting.ip_settings.ethernet_password, password, 5);
        req_.g_channelAmt = static_cast<unsigned char>(channels);
        req_.g_model = static_cast<unsigned char>(model);
        req_.g_brand = static_cast<unsigned char>(brand);
    }
    zelRequest req_{};  // the request value the handler would have filled
    std::string dir_;
    char oldCwd_[4096];
    FILE* savedOut_ = nullptr;
};

struct MarkerCase {
    const char* name;
    std::string line;      // one template line
    std::string expected;  // what replaces it (or the line itself)
};

TEST_F(PageWriter, LiveMarkersReplaceWholePiece)
{
    const std::string lang = "<script src='language/0.js' type='text/javascript'></script>\n";
    const std::string longPad(250, 'x');
    const MarkerCase cases[] = {
        {"plain", "<p>text</p>\n", "<p>text</p>\n"},
        {"language with text around", "a <!-- Language --> b\n", lang},
        {"channels removed at 4 cameras", "<!-- Channels -->\n", ""},
        {"language wins over channels", "<!-- Channels --><!-- Language -->\n", lang},
        {"marker split across pieces", longPad + "<!-- Language -->\n",
         longPad + "<!-- Language -->\n"},
        {"last line without newline", "end", "end"},
        {"text ends at a NUL byte", std::string("ab\0<!-- Language -->\ncd\n", 24), "abcd\n"},
    };
    for (const MarkerCase& c : cases) {
        writeFile("ZelBrowser.htm", c.line);
        std::rewind(cgiOut);
        ASSERT_EQ(ftruncate(fileno(cgiOut), 0), 0);
        EXPECT_EQ(live(), 0) << c.name;
        EXPECT_EQ(response(), c.expected) << c.name;
    }
}

// Templates larger than one read: pieces, markers and long lines that
// straddle the reader's internal blocks come out as from a small file.
TEST_F(PageWriter, LargeTemplateAcrossReadBlocks)
{
    const std::string lang = "<script src='language/0.js' type='text/javascript'></script>\n";
    const std::string line = std::string(99, 'a') + "\n";
    const std::string longLine = std::string(1000, 'b') + "\n";
    const std::string longWithMarker =
        std::string(510, 'c') + "<!-- Language -->" + std::string(40, 'd') + "\n";
    std::string in, expected;
    for (int i = 0; i < 700; ++i) {  // about 70 KiB each time round
        in += line;
        expected += line;
    }
    for (int round = 0; round < 3; ++round) {
        in += longLine + "<!-- Language -->\n" + longWithMarker;
        expected += longLine + lang + std::string(510, 'c') + lang;
        for (int i = 0; i < 700 + round; ++i) {
            in += line;
            expected += line;
        }
    }
    writeFile("ZelBrowser.htm", in);
    EXPECT_EQ(live(), 0);
    EXPECT_EQ(response(), expected);
}

TEST_F(PageWriter, LiveInformationBlockWinsOverOtherMarkers)
{
    writeFile("ZelBrowser.htm", "<!-- Language --> <!-- Channels --> <!-- information -->\n");
    setDevice(65535, 1, "ab\0cd", 16, 200, 7);
    req_.time_date.date_format = 1;
    req_.time_date.time_format = 1;
    unsigned char list[ZEL_COVERT_CAMERAS] = {};
    list[0] = 1;
    list[19] = 255;
    EXPECT_EQ(showIndexHtml(&req_, 0, 1, list), 0);
    std::string expected =
        "\t\tg_conn_port=\"65535\";\n\t\tm_port=1;\n\t\tg_conn_pass=\"ab\";\n"
        "\t\tg_covert_access=1;\n\t\tg_frontpanel_access=0;\n\t\ttop.m_CameraCount=16;\n"
        "\t\ttop.m_ModelName=200;\n\t\ttop.m_pType=7;\n\t\ttop.logType(200);\n"
        "\t\tdt_format = \"%d/%m/%y %I:%M:%S %p\";\n\t\tg_covert_list[0]=1;\n";
    for (int i = 1; i < 19; ++i)
        expected += "\t\tg_covert_list[" + std::to_string(i) + "]=0;\n";
    expected += "\t\tg_covert_list[19]=255;\n";
    EXPECT_EQ(response(), expected);
}

TEST_F(PageWriter, PlaybackKeepsLiveOnlyMarkers)
{
    writeFile("Playback.htm", "<!-- information -->\n<!-- Channels -->\nx<!-- Information -->y\n");
    setDevice(9000, 9001, "abcde", 8, 3, 2);
    unsigned char list[ZEL_COVERT_CAMERAS] = {};
    EXPECT_EQ(showPlaybackHtml(&req_, 1, 0, list, 3, 0x2A4C, 86399), 0);
    EXPECT_EQ(response(),
              "<!-- information -->\n<!-- Channels -->\n"
              "\t\tm_cam=2\n\t\tm_year=2021\n\t\tm_month=2\n\t\tm_date=12\n"
              "\t\tm_hour=23\n\t\tm_min=59\n\t\tm_sec=59\n"
              "\t\tg_conn_port=\"9000\";\n\t\tm_port=9001;\n\t\tg_conn_pass=\"abcd\";\n"
              "\t\tg_covert_access=0;\n\t\tm_CameraCount=8;\n\t\tm_ModelName=3;\n"
              "\t\ttop.m_pType=2;\n\t\tdt_format = \"%m/%d/%y %H:%M:%S\";\n");
}

}  // namespace
