// dvrsim_main.cpp - command line of the device simulator: run the device
// service stand-in, or set, get and list values of a running one.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sim_config.h"
#include "sim_device.h"
#include "sim_loop.h"
#include "sim_sessions.h"
#include "sim_stream.h"

namespace {

constexpr long kMaxConfigBytes = 1 << 20;

volatile std::sig_atomic_t g_stop = 0;  // set by SIGINT/SIGTERM/SIGHUP, read by the main loop

extern "C" void on_stop_signal(int)
{
    g_stop = 1;
}

int usage()
{
    fputs(
        "usage: dvrsim run [--config FILE] [--replace]\n"
        "       dvrsim set KEY VALUE...   (for example: dvrsim set camera.analog.3.covert 1)\n"
        "       dvrsim get KEY\n"
        "       dvrsim users              (enabled users as name:password lines)\n"
        "       dvrsim check [FILE]       (parse a configuration file, default: the built-in "
        "one)\n",
        stderr);
    return 2;
}

// Reads a whole configuration file of at most kMaxConfigBytes.
bool read_file(const char* path, std::string& text)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "dvrsim: cannot open %s: %s\n", path, strerror(errno));
        return false;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() <= kMaxConfigBytes)
        text.append(chunk, n);
    const bool ok = !ferror(f) && text.size() <= kMaxConfigBytes;
    fclose(f);
    if (!ok)
        fprintf(stderr, "dvrsim: cannot read %s (or it is larger than %ld bytes)\n", path,
                kMaxConfigBytes);
    return ok;
}

// Loads and parses the given file, or the built-in configuration when `path`
// is null; prints every bad line.
bool load_config(const char* path, std::vector<SimAssignment>& out)
{
    std::string text;
    if (path && !read_file(path, text))
        return false;
    std::vector<std::string> errors;
    const bool ok =
        path ? sim_parse_config(text, path, out, errors)
             : sim_parse_config(sim_default_config(), "default.conf (built in)", out, errors);
    for (const std::string& e : errors)
        fprintf(stderr, "dvrsim: %s\n", e.c_str());
    return ok;
}

void install_stop_handlers()
{
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a closed log pipe must not skip the clean-up
}

bool apply_all(const SimDevice& dev, const std::vector<SimAssignment>& config)
{
    for (const SimAssignment& a : config)
        if (!sim_apply(dev, a))
            return false;
    return true;
}

int cmd_run(int argc, char** argv)
{
    const char* config_path = nullptr;
    bool replace = false;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--replace"))
            replace = true;
        else if (!strcmp(argv[i], "--config") && i + 1 < argc)
            config_path = argv[++i];
        else
            return usage();
    }
    std::vector<SimAssignment> config;
    if (!load_config(config_path, config))
        return 1;
    install_stop_handlers();
    SimDevice dev{};
    std::string err;
    if (!sim_device_create(dev, replace, err)) {
        fprintf(stderr, "dvrsim: %s\n", err.c_str());
        return 1;
    }
    if (!apply_all(dev, config) || !sim_device_open_queue(dev, err) ||
        !sim_sessions_start(dev, replace)) {
        fprintf(stderr, "dvrsim: cannot set up the device (%s); removing its objects\n",
                err.empty() ? "configuration or session services" : err.c_str());
        sim_device_remove(dev);
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    printf(
        "dvrsim: running, key %d (segment %zu bytes, semaphore set %d, queue %d), configuration "
        "%s; "
        "stop with Ctrl-C\n",
        static_cast<int>(kSimKey), kSimSegmentSize, dev.semid, dev.msgid,
        config_path ? config_path : "built in");
    sim_stream_start(dev, stdout);  // pictures on the connection port, in threads of its own
    const int served = sim_serve(dev, g_stop, stdout);
    sim_stream_stop();
    sim_sessions_stop(dev);
    const bool removed = sim_device_remove(dev);
    printf("dvrsim: stopped, %s\n",
           removed ? "objects removed" : "some objects could not be removed");
    return served == 0 && removed ? 0 : 1;
}

// Runs `body` against a running simulator's objects.
template <typename Body>
int with_device(Body body)
{
    SimDevice dev{};
    std::string err;
    if (!sim_device_attach(dev, err)) {
        fprintf(stderr, "dvrsim: %s\n", err.c_str());
        return 1;
    }
    const int rc = body(dev);
    sim_device_detach(dev);
    return rc;
}

int cmd_set(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    std::string value = argv[1];
    for (int i = 2; i < argc; ++i)
        value.append(" ").append(argv[i]);
    SimAssignment a;
    std::string err;
    if (!sim_parse_assignment(argv[0], value, a, err)) {
        fprintf(stderr, "dvrsim: %s\n", err.c_str());
        return 1;
    }
    return with_device([&](SimDevice& dev) {
        if (sim_apply(dev, a))
            return 0;
        fprintf(stderr, "dvrsim: the lock of the configuration segment failed\n");
        return 1;
    });
}

int cmd_get(int argc, char** argv)
{
    if (argc != 1)
        return usage();
    return with_device([&](SimDevice& dev) {
        std::string value, err;
        if (!sim_get(dev, argv[0], value, err)) {
            fprintf(stderr, "dvrsim: %s\n", err.c_str());
            return 1;
        }
        printf("%s\n", value.c_str());
        return 0;
    });
}

int cmd_users(int argc)
{
    if (argc != 0)
        return usage();
    return with_device([](SimDevice& dev) {
        for (const std::string& line : sim_enabled_users(dev))
            printf("%s\n", line.c_str());
        return 0;
    });
}

int cmd_check(int argc, char** argv)
{
    if (argc > 1)
        return usage();
    std::vector<SimAssignment> config;
    if (!load_config(argc ? argv[0] : nullptr, config))
        return 1;
    printf("dvrsim: %zu settings, no errors\n", config.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string_view cmd = argv[1];
    if (cmd == "run")
        return cmd_run(argc - 2, argv + 2);
    if (cmd == "set")
        return cmd_set(argc - 2, argv + 2);
    if (cmd == "get")
        return cmd_get(argc - 2, argv + 2);
    if (cmd == "users")
        return cmd_users(argc - 2);
    if (cmd == "check")
        return cmd_check(argc - 2, argv + 2);
    return usage();
}
