// fuzz_simsession.cpp - the simulator's session services against tables and
// messages of a hostile local client (the tables are world-writable), in
// private memory without semaphores. The input is a script of steps by opcode:
//   0 write: table (search, disk map, exchange), u32 offset (mod its size),
//            length byte, bytes;  1 message: i32 type (native order), payload
//   2 timed round: u32 wall second;  3 limits: idle byte, uploads-refused bit
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "fuzz_check.h"
#include "sim_session_common.h"

namespace {

constexpr size_t kExchangeSize = CFG_UL_STAT_OFFSET + sizeof(data_ul_stat) - CFG_RT_UPDATE_OFFSET;

// Past the script's end every read yields zeros.
class Script {
  public:
    Script(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool more() const { return p_ < end_; }
    uint8_t byte() { return more() ? *p_++ : 0; }
    uint32_t word()
    {
        uint8_t b[4] = {byte(), byte(), byte(), byte()};
        uint32_t v;
        std::memcpy(&v, b, sizeof v);
        return v;
    }
    void copy(unsigned char* to, size_t n)
    {
        while (n-- && more())
            *to++ = *p_++;
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// The device memory, zeroed per input; each buffer has exactly its table's
// size so the sanitizer sees any access past the end.
struct Device {
    Device()
    {
        for (auto* v : {&sch, &da, &cfg})
            std::fill(v->begin(), v->end(), 0);
        st.sch = sch.data();
        st.da = da.data();
        st.log = nullptr;
    }
    da_shm& da_slot(int i) { return reinterpret_cast<da_shm*>(da.data())[i]; }
    sch_shm& sch_slot(int i) { return reinterpret_cast<sch_shm*>(sch.data())[i]; }
    data_ul_stat& upload()
    {
        return *reinterpret_cast<data_ul_stat*>(cfg.data() + CFG_UL_STAT_OFFSET);
    }

    static std::vector<unsigned char> sch, da, cfg;
    SimSessionState st;
    SimDevice dev{cfg.data(), -1, -1};
};

std::vector<unsigned char> Device::sch(SCH_TABLE_SIZE);
std::vector<unsigned char> Device::da(DA_TABLE_SIZE);
std::vector<unsigned char> Device::cfg(CFG_UL_STAT_OFFSET + sizeof(data_ul_stat));

void write_step(Device& d, Script& s)
{
    unsigned char* const tables[] = {d.sch.data(), d.da.data(),
                                     d.cfg.data() + CFG_RT_UPDATE_OFFSET};
    const size_t sizes[] = {SCH_TABLE_SIZE, DA_TABLE_SIZE, kExchangeSize};
    const int t = s.byte() % 3;
    const size_t at = s.word() % sizes[t];
    const size_t n = s.byte();
    s.copy(tables[t] + at, n < sizes[t] - at ? n : sizes[t] - at);
}

bool other_family(long type)
{
    const long owned[] = {SCH_MSG_START,       SCH_MSG_REFRESH,     SCH_MSG_CANCEL, FUP_MSG,
                          RT_MSG_DHCP_SETTING, RT_MSG_DHCP_RELEASE, RT_MSG_SET_TIME};
    return std::find(std::begin(owned), std::end(owned), type) != std::end(owned);
}

// Dispatches one message and checks what its requester waits for: a disk
// map in an owned slot with both done flags, a search whose result count
// stays within the slot, an upload claim with a verdict.
void message_step(Device& d, Script& s)
{
    const long type = static_cast<int32_t>(s.word());
    const unsigned char payload = s.byte();
    const bool map =
        type > 0 && !other_family(type) && payload < DA_SLOTS && d.da_slot(payload).conn_id != 0;
    const bool search = (type == SCH_MSG_START || type == SCH_MSG_REFRESH) && payload < SCH_SLOTS &&
                        d.sch_slot(payload).sch_result_num <= SCH_MAX_RESULTS;
    const bool claim = type == FUP_MSG && d.upload().status == UL_STATUS_CLAIMED;
    FUZZ_CHECK(sim_sessions_dispatch(d.st, d.dev, type, payload) == (type > 0));
    if (map) {
        const da_shm& m = d.da_slot(payload);
        FUZZ_CHECK(m.da_op_started == 1 && m.da_op_done == 1);
        FUZZ_CHECK(m.da_map.level <= DA_MAP_MAX_LEVEL && m.da_map.last <= 1 &&
                   m.da_map.max_blocks != 0);
    }
    if (search)
        FUZZ_CHECK(d.sch_slot(payload).sch_result_num <= SCH_MAX_RESULTS);
    if (claim)
        FUZZ_CHECK(d.upload().status == UL_STATUS_ACCEPTED ||
                   d.upload().status == UL_STATUS_REFUSED);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Device d;
    Script s(data, size);
    while (s.more()) {
        switch (s.byte() % 4) {
            case 0:
                write_step(d, s);
                break;
            case 1:
                message_step(d, s);
                break;
            case 2:
                sim_sessions_timed(d.st, d.dev, s.word());
                break;
            default:
                d.st.idle_limit = s.byte();
                d.st.refuse_uploads = s.byte() & 1;
                break;
        }
    }
    return 0;
}
