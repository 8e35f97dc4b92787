// diskmap.cpp - diskmap.cgi: the disk-analysis map of the recording disk
// through the disk-analysis session table. The page keeps the connection id
// of its slot and sends it with every request, with the operation or the
// zoom (and the column to zoom into) that the user chose.
//   GET                             the page
//   GET do=map&conn&op&zoom&target  one map (da_getmap) as JSON
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "device_page.h"
#include "shm.h"

const int page::required_level = 1;  // managers and above analyse the disk

namespace {

constexpr unsigned kAnswerSeconds = 10;  // da_getmap itself waits without limit

// Written whole by the alarm handler when the service does not answer: the
// response has not begun then, since the map is written after da_getmap.
const char kNoAnswer[] =
    "Content-type: application/json\r\n\r\n{\"error\":\"the device service did not answer\"}\n";

extern "C" void on_no_answer(int)
{
    const ssize_t n = write(STDOUT_FILENO, kNoAnswer, sizeof kNoAnswer - 1);
    (void)n;
    _exit(0);
}

void write_map(const da_shm& s, int slot)
{
    const phy_disk_map& m = s.da_map;
    page::Json out;
    out.num("slot", slot).num("conn", s.conn_id).num("level", m.level).num("last", m.last);
    out.num("target_block", m.target_block).num("max_blocks", m.max_blocks);
    out.open("timestamp", '[');
    for (int c = 0; c < DA_MAP_COLUMNS; ++c)
        out.item(m.timestamp[c]);
    out.close(']').open("logical_block", '[');
    for (int c = 0; c <= DA_MAP_COLUMNS; ++c)
        out.item(m.logical_block[c]);
    out.close(']').open("flag", '[');
    for (int r = 0; r < DA_MAP_ROWS; ++r) {
        out.open(nullptr, '[');
        for (int c = 0; c < DA_MAP_COLUMNS; ++c)
            out.item(m.flag[r][c]);
        out.close(']');
    }
    out.close(']');
}

void request_map(const page::Device& dev, void* table)
{
    static da_shm local;
    memset(&local, 0, sizeof local);
    local.conn_id = page::form_u32("conn", 0);
    local.da_map.target_pos =
        static_cast<uint8_t>(std::min<uint32_t>(page::form_u32("target", 0), DA_MAP_COLUMNS - 1));
    const int op = static_cast<int>(page::form_u32("op", 0) & 0xff);
    const int zoom = static_cast<int>(page::form_u32("zoom", 0) & 0xff);
    signal(SIGALRM, on_no_answer);
    alarm(kAnswerSeconds);
    const int slot = da_getmap(table, dev.semid, dev.msgid, &local, op, zoom);
    alarm(0);
    if (slot < 0)
        page::Json().str("error", "all disk-analysis sessions of the device are in use");
    else
        write_map(local, slot);
}

void write_page()
{
    page::begin("Disk map", "diskmap.js");
    fputs(
        "<div id=\"map-controls\">\n"
        "<button type=\"button\" data-op=\"2\">Whole disk</button>\n"
        "<button type=\"button\" data-op=\"1\">Zoom out</button>\n"
        "<button type=\"button\" data-op=\"0\">Refresh</button>\n"
        "<label>Zoom in by <select id=\"zoom\"><option>1</option><option>2</option>"
        "<option>3</option></select> level(s): click a column</label></div>\n"
        "<p id=\"map-info\" class=\"mono\"></p>\n"
        "<div class=\"scroll\"><svg id=\"map\" xmlns=\"http://www.w3.org/2000/svg\"></svg></div>\n"
        "<p id=\"map-hover\" class=\"mono\">&nbsp;</p>\n<div id=\"legend\"></div>\n"
        "<p id=\"map-note\" class=\"note\"></p>\n",
        cgiOut);
    page::end();
}

}  // namespace

int cgiMain(void)
{
    if (!page::action_is("map")) {
        write_page();
        return 0;
    }
    void* table = get_shm_ptr_min(DA_SHM_KEY, DA_TABLE_SIZE);
    if (table == nullptr)
        page::Json().str("error", "the device service has no disk-analysis table");
    else
        request_map(page::device(), table);
    return 0;
}
