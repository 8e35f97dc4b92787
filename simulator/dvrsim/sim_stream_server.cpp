// sim_stream_server.cpp - the picture streams over HTTP (cpp-httplib), the
// pictures encoded with libjpeg-turbo. See sim_stream.h for the interface.
//
// Threads: one supervisor (reads the port from the configuration once a
// second and (re)starts the server), one listener (httplib's accept loop)
// and httplib's worker pool of kSimStreamMax + kSpareWorkers threads, one per
// open connection. The stop signals are blocked in all of them, so SIGINT and
// SIGTERM reach the main thread, whose loop then ends and calls
// sim_stream_stop. Nothing here holds the device lock longer than one record
// copy, so the message loop never waits for a stream.
#include "sim_stream.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>

#include <httplib.h>
#include <turbojpeg.h>

#include "cgi_cfg_access.h"
#include "shm.h"
#include "sim_config.h"
#include "sim_stream_picture.h"
#include "srv_cgi_session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSpareWorkers = 4;  // answer refusals while every stream is busy
constexpr int kJpegQuality = 80;
constexpr int kFirstCamera = 1, kLastAnalog = 16, kLastCamera = 20;
constexpr auto kFramePeriod = std::chrono::milliseconds(1000 / kSimStreamFps);
constexpr auto kPortCheck = std::chrono::seconds(1);
constexpr const char* kBoundary = "dvrsimframe";

// One running instance of the HTTP server on one port. Streams hold a
// shared pointer, so the instance outlives the last of them.
struct Instance {
    httplib::Server server;
    std::thread listener;
    int port = 0;
    std::atomic<bool> closing{false};  // set before the server stops: streams end
    std::mutex mutex;                  // with `wake`: the streams' frame waits
    std::condition_variable wake;
};

struct State {
    SimDevice dev{};
    FILE* log = stdout;
    std::thread supervisor;
    std::mutex mutex;  // guards `stopping` for `wake`
    std::condition_variable wake;
    bool stopping = false;
    std::atomic<int> open_streams{0};
    std::atomic<long long> clock_offset{0};  // device clock minus wall clock, seconds
};

State* g_state = nullptr;

// A configuration value through the simulator's own keys (locked copy).
std::string config(const char* key)
{
    std::string value, err;
    return sim_get(g_state->dev, key, value, err) ? value : std::string();
}

// Parses a decimal number of at most 6 digits within [lo, hi].
bool parse_number(const std::string& s, int lo, int hi, int& out)
{
    if (s.empty() || s.size() > 6)
        return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// Compares without stopping at the first difference.
bool same_passcode(const std::string& given, const std::string& wanted)
{
    unsigned diff = given.size() != wanted.size();
    for (size_t i = 0; i < given.size() && i < wanted.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ wanted[i]);
    return diff == 0;
}

// The configuration's connection passcode: the first four characters of the
// Ethernet password, as the page's g_conn_pass.
std::string passcode()
{
    return config("network.ethernet_password").substr(0, 4);
}

std::string camera_key(int camera, const char* field)
{
    return camera <= kLastAnalog
               ? "camera.analog." + std::to_string(camera) + "." + field
               : "camera.ip." + std::to_string(camera - kLastAnalog) + "." + field;
}

// True when the model has camera `camera`: analog ones up to its channel
// count, the four IP ones always.
bool camera_exists(int camera)
{
    if (camera > kLastAnalog)
        return true;
    int channels = 0;
    return parse_number(config("model.channels"), 0, 255, channels) && camera <= channels;
}

uint32_t wall_seconds()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint32_t>(tv.tv_sec);
}

// "YYYY-MM-DD HH:MM:SS" of the device clock, in the simulator's local time.
std::string device_clock_text()
{
    const time_t now = static_cast<time_t>(wall_seconds() + g_state->clock_offset.load());
    struct tm tm {};
    localtime_r(&now, &tm);
    return sim_clock_text(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                          tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

// What a request asks for, once checked.
struct StreamRequest {
    int camera = 0;
    bool playback = false;
    int year = 0, month = 0, day = 0, second = 0;  // playback start
    bool still = false;
};

// Checks a request; on refusal fills `res` and returns false.
bool check_request(const httplib::Request& req, bool playback, StreamRequest& out,
                   httplib::Response& res)
{
    auto refuse = [&](int status, const char* why) {
        res.status = status;
        res.set_content(std::string(why) + "\n", "text/plain");
        fprintf(g_state->log, "dvrsim: stream request %s refused (%d): %s\n", req.path.c_str(),
                status, why);
        return false;
    };
    if (!req.has_param("pass") || !same_passcode(req.get_param_value("pass"), passcode()))
        return refuse(403, "wrong or missing passcode");
    out.playback = playback;
    out.still = req.get_param_value("still") == "1";
    if (!parse_number(req.get_param_value("cam"), kFirstCamera, kLastCamera, out.camera))
        return refuse(400, "cam must be a camera number 1-20");
    if (playback && !(parse_number(req.get_param_value("year"), 2000, 2127, out.year) &&
                      parse_number(req.get_param_value("month"), 0, 15, out.month) &&
                      parse_number(req.get_param_value("day"), 0, 31, out.day) &&
                      parse_number(req.get_param_value("sec"), 0, 86399, out.second)))
        return refuse(400, "playback needs year 2000-2127, month 0-15, day 0-31, sec 0-86399");
    if (!camera_exists(out.camera))
        return refuse(404, "no such camera on this model");
    return true;
}

// Draws and encodes the pictures of one stream.
class Encoder {
  public:
    explicit Encoder(const StreamRequest& r) : req_(r), jpeg_(tjInitCompress())
    {
        // Room for the largest picture, so encoding never allocates.
        buffer_.resize(tjBufSize(kPictureWidth, kPictureHeight, TJSAMP_420));
        text_.camera = r.camera;
        text_.playback = r.playback;
    }
    ~Encoder()
    {
        if (jpeg_)
            tjDestroy(jpeg_);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Encodes the picture at `elapsed_ms` into the internal buffer; returns
    // its size, 0 on failure.
    size_t frame(uint64_t elapsed_ms)
    {
        if (!jpeg_)
            return 0;
        if (elapsed_ms / 1000 != title_second_ || text_.title.empty()) {
            title_second_ = elapsed_ms / 1000;  // a renamed camera shows within a second
            text_.title = config(camera_key(req_.camera, "title").c_str());
        }
        if (req_.playback) {
            const int at = static_cast<int>((req_.second + elapsed_ms / 1000) % 86400);
            text_.clock = sim_clock_text(req_.year, req_.month, req_.day, at);
        } else {
            text_.clock = device_clock_text();
        }
        sim_draw_picture(picture_, text_, elapsed_ms);
        unsigned char* out = buffer_.data();
        unsigned long size = buffer_.size();
        if (tjCompress2(jpeg_, picture_.rgb.data(), kPictureWidth, 0, kPictureHeight, TJPF_RGB,
                        &out, &size, TJSAMP_420, kJpegQuality,
                        TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
            return 0;
        return size;
    }
    const unsigned char* data() const { return buffer_.data(); }

  private:
    StreamRequest req_;
    tjhandle jpeg_;
    std::vector<unsigned char> buffer_;
    Picture picture_;
    PictureText text_;
    uint64_t title_second_ = 0;
};

void serve(const std::shared_ptr<Instance>& inst, const httplib::Request& req,
           httplib::Response& res, bool playback)
{
    StreamRequest r;
    if (!check_request(req, playback, r, res))
        return;
    res.set_header("Cache-Control", "no-store");
    if (r.still) {
        Encoder enc(r);
        const size_t n = enc.frame(0);
        if (n == 0) {
            res.status = 500;
            return;
        }
        res.set_content(reinterpret_cast<const char*>(enc.data()), n, "image/jpeg");
        return;
    }
    if (g_state->open_streams.fetch_add(1) >= kSimStreamMax) {
        g_state->open_streams.fetch_sub(1);
        res.status = 503;
        res.set_content("too many streams open\n", "text/plain");
        fprintf(g_state->log, "dvrsim: stream request refused (503): %d streams open\n",
                kSimStreamMax);
        return;
    }
    fprintf(g_state->log, "dvrsim: stream opened: %s camera %d%s (%d open)\n",
            playback ? "playback" : "live", r.camera,
            playback ? (" from " + sim_clock_text(r.year, r.month, r.day, r.second)).c_str() : "",
            g_state->open_streams.load());

    // The provider runs once per frame on this connection's worker thread.
    auto enc = std::make_shared<Encoder>(r);
    auto frames = std::make_shared<uint64_t>(0);
    const Clock::time_point start = Clock::now();
    res.set_chunked_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [inst, enc, frames, start](size_t, httplib::DataSink& sink) {
            const Clock::time_point due = start + *frames * kFramePeriod;
            {
                std::unique_lock<std::mutex> lock(inst->mutex);
                inst->wake.wait_until(lock, due, [&] { return inst->closing.load(); });
            }
            if (inst->closing)
                return false;
            const uint64_t elapsed_ms =
                *frames *
                std::chrono::duration_cast<std::chrono::milliseconds>(kFramePeriod).count();
            const size_t n = enc->frame(elapsed_ms);
            if (n == 0)
                return false;
            const std::string head =
                std::string("--") + kBoundary +
                "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n";
            std::string part;
            part.reserve(head.size() + n + 2);
            part.append(head).append(reinterpret_cast<const char*>(enc->data()), n).append("\r\n");
            ++*frames;
            // A client that went away fails the write, which ends the stream.
            return sink.write(part.data(), part.size());
        },
        [r, frames, start](bool) {
            const int left = g_state->open_streams.fetch_sub(1) - 1;
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            fprintf(g_state->log,
                    "dvrsim: stream closed: %s camera %d, %llu frames in %.1f s (%d open)\n",
                    r.playback ? "playback" : "live", r.camera,
                    static_cast<unsigned long long>(*frames), seconds, left);
        });
}

// Only SO_REUSEADDR: httplib's default also sets SO_REUSEPORT, which would
// let two simulators share one port and split its connections.
void socket_options(int sock)
{
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// Starts an instance on `port`; null (reported by the caller) when the port
// cannot be had.
std::shared_ptr<Instance> start_instance(int port)
{
    auto inst = std::make_shared<Instance>();
    inst->port = port;
    httplib::Server& s = inst->server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kSimStreamMax + kSpareWorkers); };
    s.set_socket_options(socket_options);
    s.set_keep_alive_max_count(1);  // one request a connection: a stream holds it anyway
    s.set_read_timeout(2, 0);
    s.set_write_timeout(2, 0);  // a client that stops reading frees its worker
    std::weak_ptr<Instance> weak = inst;
    auto route = [weak](bool playback) {
        return [weak, playback](const httplib::Request& req, httplib::Response& res) {
            if (auto i = weak.lock())
                serve(i, req, res, playback);
        };
    };
    s.Get("/live", route(false));
    s.Get("/playback", route(true));
    if (!s.bind_to_port("127.0.0.1", port))
        return nullptr;
    inst->listener = std::thread([inst] { inst->server.listen_after_bind(); });
    // httplib's stop() does nothing before the accept loop runs, so the
    // instance is handed out only once it does.
    for (int i = 0; i < 2000 && !s.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return inst;
}

void stop_instance(std::shared_ptr<Instance>& inst)
{
    if (!inst)
        return;
    {
        std::lock_guard<std::mutex> lock(inst->mutex);
        inst->closing = true;
    }
    inst->wake.notify_all();
    inst->server.stop();
    if (inst->listener.joinable())
        inst->listener.join();  // returns once every worker has finished
    inst.reset();
}

void supervise()
{
    std::shared_ptr<Instance> inst;
    int refused_port = -1;  // a port reported as unavailable, not reported again
    std::unique_lock<std::mutex> lock(g_state->mutex);
    while (!g_state->stopping) {
        lock.unlock();
        int port = 0;
        const bool valid = parse_number(config("network.listen_port"), 1, 65535, port);
        if (inst && (!valid || port != inst->port)) {
            fprintf(g_state->log, "dvrsim: streams: port %d closed\n", inst->port);
            stop_instance(inst);
        }
        if (!inst && valid) {
            inst = start_instance(port);
            if (inst) {
                fprintf(g_state->log, "dvrsim: streams on http://127.0.0.1:%d/ (live, playback)\n",
                        port);
                refused_port = -1;
            } else if (refused_port != port) {
                fprintf(g_state->log,
                        "dvrsim: streams: cannot listen on 127.0.0.1:%d (%s); trying again "
                        "every second\n",
                        port, strerror(errno));
                refused_port = port;
            }
        }
        lock.lock();
        g_state->wake.wait_for(lock, kPortCheck, [] { return g_state->stopping; });
    }
    lock.unlock();
    stop_instance(inst);
}

}  // namespace

bool sim_stream_available()
{
    return true;
}

void sim_stream_start(const SimDevice& dev, FILE* log)
{
    if (g_state)
        return;
    g_state = new State;
    g_state->dev = dev;
    g_state->log = log;
    // Threads inherit this mask: the stop signals stay with the main thread.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    g_state->supervisor = std::thread(supervise);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void sim_stream_clock_set(const SimDevice& dev)
{
    if (!g_state)
        return;
    uint32_t cur_ts = 0;
    down(dev.semid, 0);
    memcpy(&cur_ts,
           static_cast<const unsigned char*>(dev.cfg) + CFG_RT_UPDATE_OFFSET +
               offsetof(cfg_rt_update_data, cur_ts),
           sizeof cur_ts);
    up(dev.semid, 0);
    // A record never written (0) leaves the device clock on the wall clock.
    g_state->clock_offset = cur_ts ? static_cast<long long>(cur_ts) - wall_seconds() : 0;
}

void sim_stream_stop()
{
    if (!g_state)
        return;
    {
        std::lock_guard<std::mutex> lock(g_state->mutex);
        g_state->stopping = true;
    }
    g_state->wake.notify_all();
    if (g_state->supervisor.joinable())
        g_state->supervisor.join();
    delete g_state;
    g_state = nullptr;
}
