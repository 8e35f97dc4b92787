// search.cpp - search.cgi: searches the recordings through the search session
// table over several requests. The page keeps the connection id that the
// first request got and sends it, with the same filters, on every later one;
// each request calls sch_update, which continues the search (more=1),
// repeats it (same filters submitted again) or starts a new one.
//   GET                  the page
//   GET  do=search&...   submits (more=0) or continues (more=1); JSON results
//   POST do=cancel&conn  cancels the search of that connection
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "device_page.h"
#include "shm.h"

const int page::required_level = 2;  // operators and above search

namespace {

using page::kCameras;
constexpr int kAlarmInputs = 16;
constexpr int kEventKinds = 3;  // continuous, motion, alarm: bits 0..2 of a recording's kind
constexpr int kGridRows = 16;

enum Kind { kTime, kAlarm, kEvent, kText, kMotion };
const char* const kKinds[] = {"time", "alarm", "event", "text", "motion"};
const char* const kKindNames[] = {"Time range", "Alarm", "Event", "Text", "Motion in chosen areas"};
const char* const kNumbers[] = {"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10",
                                "11", "12", "13", "14", "15", "16", "17", "18", "19", "20"};

// Checked boxes of field `name` (values "1".."count") as a bit map, bit i
// for value i+1; `none` when no box is checked.
uint32_t checked(const char* name, int count, uint32_t none)
{
    int result[kCameras] = {};
    int invalid = 0;
    cgiFormCheckboxMultiple(name, const_cast<char**>(kNumbers), count, result, &invalid);
    uint32_t map = 0;
    for (int i = 0; i < count; ++i)
        map |= result[i] ? 1u << i : 0u;
    return map != 0 ? map : none;
}

// Reads a motion-area grid: 16 rows of 4 hex digits, row 0 first, bit c of
// a row for column c. False, with `grid` untouched, for any other text.
bool parse_grid(const char* text, size_t len, ACT_GRID& grid)
{
    if (len != 4 * kGridRows)
        return false;
    for (size_t i = 0; i < len; ++i)
        if (!isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    for (int r = 0; r < kGridRows; ++r) {
        char row[5] = {text[4 * r], text[4 * r + 1], text[4 * r + 2], text[4 * r + 3], '\0'};
        grid.info[r] = static_cast<uint16_t>(strtoul(row, nullptr, 16));
    }
    return true;
}

// Fills the caller's search record from the form: what a new search starts
// with and what a submitted one is compared against.
void read_filters(sch_shm& s)
{
    int kind = kTime;
    cgiFormSelectSingle("kind", const_cast<char**>(kKinds), 5, &kind, kTime);
    WR_SEARCH_FILTERS& f = s.filters;
    f.starttime = page::form_u32("from", 0);
    f.endtime = page::form_u32("to", 0);  // 0: up to now
    // Only cameras the user may see are searched; none checked: all of those.
    const uint32_t visible = page::device().cameras;
    const uint32_t chosen = checked("cam", kCameras, 0) & visible;
    s.camera_map = chosen != 0 ? chosen : visible;
    if (kind == kAlarm)
        f.alarmmap = checked("alarm", kAlarmInputs, (1u << kAlarmInputs) - 1);
    if (kind == kEvent)
        f.eventmap = checked("event", kEventKinds, (1u << kEventKinds) - 1);
    if (kind == kText) {
        cgiFormStringNoNewlines("text", f.fieldtext, sizeof f.fieldtext);
        f.textlen = static_cast<uint16_t>(strlen(f.fieldtext));
    }
    if (kind != kMotion)
        return;
    WR_MOTION_SEARCH_FILTERS& m = s.mt_filter;
    m.starttime = f.starttime;
    m.endtime = f.endtime;
    m.cameramap = s.camera_map != 0 ? s.camera_map & 0xffffu : 0xffffu;  // grids of cameras 1..16
    int sens = 0;
    cgiFormIntegerBounded("sens", &sens, 0, 9, 0);
    m.rangeindex = static_cast<uint8_t>(sens);
    char text[4 * kGridRows + 1];
    ACT_GRID area;
    if (cgiFormStringNoNewlines("grid", text, sizeof text) != cgiFormSuccess ||
        !parse_grid(text, strlen(text), area))
        memset(&area, 0xff, sizeof area);  // the whole picture
    for (int i = 0; i < WR_MOTION_CAMERAS; ++i)
        m.grid[i] = area;
}

// The viewer's playback id of a recording's start: packed day (7 bits year
// since 2000, 4 bits month, 5 bits day), camera 01..20 and second of the
// day, in device time (UTC). Empty when the start or camera cannot be put so.
void playback_id(const sch_local_result& r, char (&id)[12])
{
    id[0] = '\0';
    const uint32_t cams = r.camera_map & page::device().cameras;
    const int cam = cams != 0 ? __builtin_ctz(cams) + 1 : 0;  // the first one the user may see
    const time_t start = r.start_time;
    struct tm t;
    if (cam < 1 || cam > kCameras || gmtime_r(&start, &t) == nullptr)
        return;
    const int year = t.tm_year + 1900 - 2000;
    if (year < 0 || year > 127)
        return;
    const unsigned day = static_cast<unsigned>(year << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
    snprintf(id, sizeof id, "%04X%02d%05d", day, cam, t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec);
}

void write_results(page::Json& out, const sch_shm& s, uint32_t from)
{
    const uint32_t n = s.sch_result_num <= SCH_MAX_RESULTS ? s.sch_result_num : SCH_MAX_RESULTS;
    out.num("total", n).num("progress", s.sch_progress).open("results", '[');
    for (uint32_t i = from; i < n; ++i) {
        const sch_local_result& r = s.results[i];
        const uint32_t cams = r.camera_map & page::device().cameras;
        if (cams == 0)
            continue;  // only cameras hidden from the user
        char id[12];
        playback_id(r, id);
        out.open(nullptr, '{').num("n", i).num("cams", cams).num("kind", r.name_flags);
        out.num("start", r.start_time).num("end", r.end_time).str("id", id).close('}');
    }
    out.close(']');
}

// One visit of the search: submits (more 0) or continues (more 1) it.
void visit(const page::Device& dev, void* table)
{
    const bool more = page::form_u32("more", 0) == 1;
    static sch_shm local;  // 9 KiB: kept off the stack
    memset(&local, 0, sizeof local);
    read_filters(local);
    if (local.camera_map == 0) {  // every camera is hidden from this user
        page::Json out;
        out.str("state", "done").num("conn", 0).num("total", 0).num("progress", 100);
        out.open("results", '[').close(']');
        return;
    }
    local.web_user = page::form_u32("conn", 0);
    const int slot = sch_update(table, dev.semid, dev.msgid, more ? 1 : 0, &local);
    // The record holds the slot's copy on every path but a new search's;
    // an ended search came back with its final results (slot -1 when also
    // stopped), and -1 otherwise means no slot was free.
    const bool ended = local.sch_end == 1;
    const char* state = ended ? "done" : slot >= 0 ? "running" : "full";
    page::Json out;
    out.str("state", state).num("conn", local.web_user);
    write_results(out, local, page::form_u32("have", 0));
}

void cancel(const page::Device& dev, void* table)
{
    const uint32_t conn = page::form_u32("conn", 0);
    const int slot = conn != 0 ? sch_find_slot(table, conn, dev.semid) : -1;
    if (slot >= 0)
        sch_cancel(dev.msgid, slot);
    page::Json().str("state", "cancelled").num("found", slot >= 0);
}

// One checkbox per value 1..count, leaving out those whose bit is clear in
// `offered`.
void checkboxes(const char* name, int count, const char* const* labels,
                uint32_t offered = UINT32_MAX)
{
    for (int i = 0; i < count; ++i)
        if (offered & 1u << i)
            fprintf(cgiOut, "<label><input type=\"checkbox\" name=\"%s\" value=\"%d\">%s</label>\n",
                    name, i + 1, labels[i]);
}

void write_page()
{
    page::begin("Recording search", "search.js");
    fputs("<form id=\"search-form\">\n<fieldset><legend>Kind</legend><select name=\"kind\">\n",
          cgiOut);
    for (int k = 0; k < 5; ++k)
        fprintf(cgiOut, "<option value=\"%s\">%s</option>\n", kKinds[k], kKindNames[k]);
    fputs("</select></fieldset>\n<fieldset><legend>Cameras (none: all)</legend>\n", cgiOut);
    checkboxes("cam", kCameras, kNumbers, page::device().cameras);
    fputs(
        "</fieldset>\n<fieldset><legend>From / to (device time, UTC)</legend>\n"
        "<input type=\"datetime-local\" id=\"from\" step=\"1\" required> "
        "<input type=\"datetime-local\" id=\"to\" step=\"1\"></fieldset>\n"
        "<fieldset data-kind=\"alarm\"><legend>Alarm inputs (none: all)</legend>\n",
        cgiOut);
    checkboxes("alarm", kAlarmInputs, kNumbers);
    static const char* const kEvents[] = {"continuous", "motion", "alarm"};
    fputs("</fieldset>\n<fieldset data-kind=\"event\"><legend>Events (none: all)</legend>\n",
          cgiOut);
    checkboxes("event", kEventKinds, kEvents);
    fputs(
        "</fieldset>\n<fieldset data-kind=\"text\"><legend>Text in the title</legend>\n"
        "<input type=\"text\" name=\"text\" maxlength=\"499\"></fieldset>\n"
        "<fieldset data-kind=\"motion\"><legend>Motion areas (click to toggle)</legend>\n"
        "<div id=\"grid\" class=\"motion-grid\"></div><input type=\"hidden\" name=\"grid\">\n"
        "<label>Sensitivity range <input type=\"number\" name=\"sens\" min=\"0\" max=\"9\" "
        "value=\"0\"></label></fieldset>\n"
        "<button type=\"submit\">Search</button> "
        "<button type=\"button\" id=\"cancel\" disabled>Cancel</button>\n</form>\n"
        "<p id=\"search-note\" class=\"note\"></p>\n"
        "<progress id=\"search-progress\" max=\"100\" value=\"0\"></progress>\n"
        "<div class=\"scroll\"><table id=\"results\" class=\"grid\"><thead><tr><th>#</th>"
        "<th>Camera</th><th>Kind</th><th>Start (UTC)</th><th>End</th><th></th></tr></thead>"
        "<tbody></tbody></table></div>\n",
        cgiOut);
    page::end();
}

}  // namespace

int cgiMain(void)
{
    const bool search = page::action_is("search");
    const bool stop = page::action_is("cancel") && cgiStrEqNc(cgiRequestMethod, "POST");
    if (!search && !stop) {
        write_page();
        return 0;
    }
    void* table = get_shm_ptr_min(SCH_SHM_KEY, SCH_TABLE_SIZE);
    if (table == nullptr)
        page::Json().str("state", "unavailable");
    else if (search)
        visit(page::device(), table);
    else
        cancel(page::device(), table);
    return 0;
}
