// sim_session_search.cpp - the simulator's search service over a synthetic
// recording index, answering start, refresh and cancel messages.
#include "sim_session_search.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// The index: every camera records ten minutes every half hour over the week
// before the first search, some with motion or an alarm. A search scans a
// quarter of it per refresh message, so results, progress and the end flags
// grow over several visits, as on the device.
namespace {

constexpr int kDays = 7, kPerDay = 48, kCameras = 20;
constexpr int kIndexSize = kDays * kPerDay * kCameras;  // 6720 recordings
constexpr int kRefreshesPerScan = 4;
constexpr uint32_t kRecordingSeconds = 600;

// name_flags of a recording.
constexpr uint8_t kContinuous = 1, kMotion = 2, kAlarm = 4;

// One recording of the synthetic index.
struct Recording {
    uint32_t start, end;  // device clock seconds
    int camera;           // 0..19
    uint8_t flags;        // kContinuous / kMotion / kAlarm
    int alarm_input;      // 0..15, for kAlarm recordings
};

Recording recording(uint32_t index_base, int i)
{
    const int camera = i % kCameras, half_hour = i / kCameras;
    Recording r;
    r.start = index_base + static_cast<uint32_t>(half_hour) * 1800 + camera * 7;
    r.end = r.start + kRecordingSeconds;
    r.camera = camera;
    r.flags = kContinuous;
    if ((half_hour + camera) % 5 == 0)
        r.flags |= kMotion;
    if ((half_hour + camera) % 11 == 0)
        r.flags |= kAlarm;
    r.alarm_input = camera % 16;
    return r;
}

bool overlaps(const Recording& r, uint32_t from, uint32_t to)
{
    return r.end >= from && (to == 0 || r.start <= to);
}

// A motion search matches recordings with motion in a chosen grid cell of a
// chosen camera; the cell of a recording is derived from its index.
bool motion_match(const sch_shm& s, const Recording& r, int i)
{
    const WR_MOTION_SEARCH_FILTERS& m = s.mt_filter;
    if (r.camera >= WR_MOTION_CAMERAS || !(m.cameramap >> r.camera & 1u) || !(r.flags & kMotion))
        return false;
    const uint16_t row = m.grid[r.camera].info[(i / 16) % 16];
    return (row >> (i % 16) & 1u) && overlaps(r, m.starttime, m.endtime);
}

bool filter_match(const sch_shm& s, const Recording& r)
{
    const WR_SEARCH_FILTERS& f = s.filters;
    if (s.camera_map != 0 && !(s.camera_map >> r.camera & 1u))
        return false;
    if (f.alarmmap != 0 && !((r.flags & kAlarm) && (f.alarmmap >> r.alarm_input & 1u)))
        return false;
    if (f.eventmap != 0 && !(f.eventmap & r.flags))
        return false;
    if (f.textlen != 0) {
        char title[24];
        snprintf(title, sizeof title, "Camera %d", r.camera + 1);
        char text[WR_SEARCH_TEXT_MAX + 1] = {};
        std::memcpy(text, f.fieldtext,
                    f.textlen < WR_SEARCH_TEXT_MAX ? f.textlen : WR_SEARCH_TEXT_MAX);
        if (std::strstr(title, text) == nullptr)
            return false;
    }
    return overlaps(r, f.starttime, f.endtime);
}

sch_shm* slot_at(SimSessionState& st, int slot)
{
    return reinterpret_cast<sch_shm*>(st.sch) + slot;
}

void free_slot(SimSessionState& st, int slot)
{
    std::memset(slot_at(st, slot), 0, sizeof(sch_shm));
    st.scans[slot] = SimScan{};
}

// Scans the next part of the index into the slot's results; the caller
// holds the lock.
void advance(sch_shm& s, SimScan& scan, uint32_t index_base)
{
    const bool motion = s.mt_filter.cameramap != 0;
    const int stop = std::min(kIndexSize, scan.pos + kIndexSize / kRefreshesPerScan);
    s.sch_prev_result_num = s.sch_result_num;
    for (; scan.pos < stop && s.sch_result_num < SCH_MAX_RESULTS; ++scan.pos) {
        const Recording r = recording(index_base, scan.pos);
        s.sch_chnl = static_cast<uint8_t>(r.camera);
        if (!(motion ? motion_match(s, r, scan.pos) : filter_match(s, r)))
            continue;
        sch_local_result& out = s.results[s.sch_result_num++];
        out = sch_local_result{};
        out.index = static_cast<uint32_t>(scan.pos);
        out.name_flags = r.flags;
        out.camera_map = 1u << r.camera;
        out.start_time = r.start;
        out.end_time = r.end;
    }
    s.sch_progress = static_cast<uint8_t>(scan.pos * 100 / kIndexSize);
    if (scan.pos == kIndexSize || s.sch_result_num == SCH_MAX_RESULTS) {
        scan.running = false;
        s.sch_end = 1;
        s.sch_stop = 1;
        s.sch_stopped = 1;
    }
}

}  // namespace

bool sim_search_handle(SimSessionState& st, SimDevice& dev, long type, int slot)
{
    if (type != SCH_MSG_START && type != SCH_MSG_REFRESH && type != SCH_MSG_CANCEL)
        return false;
    if (slot >= SCH_SLOTS)
        return true;  // not a slot: nothing to do
    if (st.index_base == 0)
        st.index_base = sim_device_clock(st) - kDays * 86400;
    SimLock lock(dev);
    sch_shm& s = *slot_at(st, slot);
    SimScan& scan = st.scans[slot];
    if (s.web_user == 0)
        return true;  // freed meanwhile
    if (type == SCH_MSG_CANCEL) {
        free_slot(st, slot);
    } else if (type == SCH_MSG_START) {
        scan.running = true;
        scan.pos = 0;
        s.sch_stopped = 0;
    } else if (scan.running) {
        advance(s, scan, st.index_base);
    }
    return true;
}

void sim_search_tick(SimSessionState& st, SimDevice& dev, uint32_t now)
{
    SimLock lock(dev);
    for (int i = 0; i < SCH_SLOTS; ++i) {
        sch_shm& s = *slot_at(st, i);
        if (s.web_user == 0)
            continue;
        const bool finished = s.sch_end == 1 && s.sch_stop == 1;
        const uint32_t limit = finished ? st.finished_limit : st.idle_limit;
        if (st.scans[i].watch.stale(s.sch_access_ts, now, limit))
            free_slot(st, i);
    }
}
