// sim_session_diskmap.cpp - the simulator's disk-analysis service: draws
// zoomable maps of a synthetic disk into the disk-analysis slots.
#include "sim_session_diskmap.h"

#include <cstring>

// The disk: 36^4 blocks of ten seconds of recording each. Level 0 shows the
// whole disk in 36 columns; each zoom shows one column of the level above,
// down to level 3 where a column is one block. Row r of the flags tells
// whether camera r recorded in the column.
namespace {

constexpr int kCols = DA_MAP_COLUMNS;
constexpr uint32_t kDeepest = 3;                             // level of one-block columns
constexpr uint32_t kBlocks = kCols * kCols * kCols * kCols;  // 1,679,616
constexpr uint32_t kBlockSeconds = 10;

// Request kinds behind the message types. A request sends 768 + op, or
// 770 + zoom when op is 0, for any integer op and zoom: every type that no
// other family owns is a disk-map request, and those without a meaning of
// their own here redraw the current window.
constexpr long kZoomOut = DA_MSG_BASE + 1;  // 769: one level up
constexpr long kTop = DA_MSG_BASE + 2;      // 770: the whole disk
// 770 + k: zoom k levels into column target_pos

uint32_t column_width(uint32_t level)
{
    uint32_t w = kBlocks / kCols;
    for (uint32_t l = 0; l < level; ++l)
        w /= kCols;
    return w;
}

// Whether camera `row` recorded anything in block `b`: a fixed pattern with
// gaps, so the map shows structure at every level.
bool recorded(uint32_t b, int row)
{
    const uint32_t h = (b / 97 + static_cast<uint32_t>(row) * 131) * 2654435761u;
    return (h >> 28) % 5 != 0 && row < 18;
}

// Moves the slot's window as the request asks; the window start is kept in
// target_block and the level in level.
void move_window(phy_disk_map& m, long type)
{
    if (m.level > kDeepest)  // the table is writable by anyone: no level past the deepest
        m.level = kDeepest;
    if (m.max_blocks == 0 || type == kTop) {
        m.level = 0;
        m.target_block = 0;
    } else if (type == kZoomOut) {
        m.level = m.level == 0 ? 0 : static_cast<uint8_t>(m.level - 1);
        m.target_block -= m.target_block % (column_width(m.level) * kCols);
    } else if (type > kTop) {
        const uint32_t pos = m.target_pos < kCols ? m.target_pos : kCols - 1;
        for (long k = type - kTop; k > 0 && m.level < kDeepest; --k) {
            m.target_block += pos * column_width(m.level);
            ++m.level;
        }
    }
}

void draw(phy_disk_map& m, uint32_t disk_start)
{
    const uint32_t w = column_width(m.level);
    m.max_blocks = kBlocks;
    m.last = m.level == kDeepest;
    for (int c = 0; c <= kCols; ++c)
        m.logical_block[c] = m.target_block + c * w;
    for (int c = 0; c < kCols; ++c) {
        const uint32_t first = m.logical_block[c];
        m.timestamp[c] = disk_start + first * kBlockSeconds;
        for (int r = 0; r < DA_MAP_ROWS; ++r)
            m.flag[r][c] = recorded(first + w / 2, r) ? 1 : 0;
    }
}

}  // namespace

void sim_diskmap_handle(SimSessionState& st, SimDevice& dev, long type, int slot)
{
    if (slot >= DA_SLOTS)
        return;
    const uint32_t disk_start = sim_device_clock(st) - kBlocks * kBlockSeconds;
    SimLock lock(dev);
    da_shm& s = reinterpret_cast<da_shm*>(st.da)[slot];
    if (s.conn_id == 0)
        return;  // freed meanwhile
    move_window(s.da_map, type);
    draw(s.da_map, disk_start);
    s.access_ts = sim_wall_seconds();
    s.da_op_started = 1;
    s.da_op_done = 1;
}

void sim_diskmap_tick(SimSessionState& st, SimDevice& dev, uint32_t now)
{
    SimLock lock(dev);
    for (int i = 0; i < DA_SLOTS; ++i) {
        da_shm& s = reinterpret_cast<da_shm*>(st.da)[i];
        if (s.conn_id != 0 && st.da_watch[i].stale(s.access_ts, now, st.idle_limit)) {
            std::memset(&s, 0, sizeof s);
            st.da_watch[i].reset();
        }
    }
}
