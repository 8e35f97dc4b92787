// multipart_bench.cpp - multipart decoding throughput against a reference
// that only reads the same body from the same kind of input and searches it
// with memmem, on three bodies; and the peak memory of a 1 GiB upload
// streamed through a pipe. Run it in the namespace runner (it writes the
// trace file): scripts/ns-run BUILD/bench/multipart/multipart_bench [DIR]
#include "cgi_request_internal.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kBoundary[] = "----BenchBoundary7d3f9a2c41e";
long long g_hookBytes;  // bytes the upload hook received

uint64_t g_rng = 0x9E3779B97F4A7C15ull;
uint64_t nextRandom()
{
    g_rng ^= g_rng << 13;
    g_rng ^= g_rng >> 7;
    g_rng ^= g_rng << 17;
    return g_rng;
}

void writeRandom(FILE* f, size_t n)
{
    std::vector<uint64_t> block(8192);
    while (n > 0) {
        for (uint64_t& w : block)
            w = nextRandom();
        size_t k = std::min(n, block.size() * sizeof(uint64_t));
        fwrite(block.data(), 1, k, f);
        n -= k;
    }
}

void writePartHead(FILE* f, const std::string& name, const char* fileName)
{
    fprintf(f, "--%s\r\nContent-Disposition: form-data; name=\"%s\"", kBoundary, name.c_str());
    if (fileName)
        fprintf(f, "; filename=\"%s\"\r\nContent-Type: application/octet-stream", fileName);
    fputs("\r\n\r\n", f);
}

// One 64 MiB random file part between two small fields.
void bigFile(FILE* f)
{
    writePartHead(f, "title", nullptr);
    fputs("holiday\r\n", f);
    writePartHead(f, "upload", "video.bin");
    writeRandom(f, 64u << 20);
    fputs("\r\n", f);
    writePartHead(f, "note", nullptr);
    fprintf(f, "done\r\n--%s--\r\n", kBoundary);
}

// 2,000 small text fields.
void manyFields(FILE* f)
{
    for (int i = 0; i < 2000; i++) {
        writePartHead(f, "field" + std::to_string(i), nullptr);
        fprintf(f, "value number %d\r\n", i);
    }
    fprintf(f, "--%s--\r\n", kBoundary);
}

// 16 MiB of CR LF "--" and near-prefixes of the boundary inside one part.
void nearMisses(FILE* f)
{
    writePartHead(f, "trap", "trap.bin");
    const size_t len = strlen(kBoundary);
    for (size_t written = 0, k = len / 2; written < (16u << 20);
         k = k + 1 < len ? k + 1 : len / 2) {
        fprintf(f, "\r\n--%.*sx", static_cast<int>(k), kBoundary);
        written += 5 + k;
    }
    fprintf(f, "\r\n--%s--\r\n", kBoundary);
}

double seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Decodes the body file as the request's stdin; returns seconds.
double decodeFile(const char* path, long size)
{
    cgiFreeResources();
    cgiIn = fopen(path, "rb");
    setvbuf(cgiIn, nullptr, _IONBF, 0);  // as the process entry sets stdin
    cgiContentLength = static_cast<int>(size);
    cgiMultipartBoundary = const_cast<char*>(kBoundary);
    g_hookBytes = 0;
    auto t0 = std::chrono::steady_clock::now();
    cgiParseResultType r = cgiParsePostMultipartInput();
    double s = seconds(t0);
    fclose(cgiIn);
    if (r != cgiParseSuccess)
        fprintf(stderr, "decoding %s failed: %d\n", path, r);
    return s;
}

// The reference: reads the same file in 64 KiB blocks and counts the
// delimiters with memmem, keeping a tail that could start one.
double referenceFile(const char* path, long* found)
{
    const std::string pattern = std::string("\r\n--") + kBoundary;
    const size_t len = pattern.size();
    std::vector<char> buf(64 * 1024 + len);
    FILE* in = fopen(path, "rb");
    setvbuf(in, nullptr, _IONBF, 0);
    auto t0 = std::chrono::steady_clock::now();
    size_t keep = 0;
    *found = 0;
    for (size_t n; (n = fread(buf.data() + keep, 1, buf.size() - keep, in)) > 0;) {
        size_t have = keep + n, pos = 0;
        while (const void* hit = memmem(buf.data() + pos, have - pos, pattern.data(), len)) {
            ++*found;
            pos = static_cast<size_t>(static_cast<const char*>(hit) - buf.data()) + len;
        }
        keep = std::min(len - 1, have - pos);
        memmove(buf.data(), buf.data() + have - keep, keep);
    }
    double s = seconds(t0);
    fclose(in);
    return s;
}

long fileSize(const char* path)
{
    FILE* f = fopen(path, "rb");
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fclose(f);
    return n;
}

void throughput(const char* name, const std::string& path, void (*make)(FILE*))
{
    FILE* f = fopen(path.c_str(), "wb");
    make(f);
    fclose(f);
    long size = fileSize(path.c_str()), found = 0;
    double best = 1e9, bestRef = 1e9;
    for (int i = 0; i < 3; i++) {
        best = std::min(best, decodeFile(path.c_str(), size));
        bestRef = std::min(bestRef, referenceFile(path.c_str(), &found));
    }
    double mib = size / 1048576.0;
    printf(
        "%-34s %8.1f MiB  decode %8.1f MiB/s  reference %8.1f MiB/s  ratio %.2f  (hook %lld B, %ld "
        "delimiters)\n",
        name, mib, mib / best, mib / bestRef, bestRef / best, g_hookBytes, found);
    unlink(path.c_str());
}

long vmHwmKiB()
{
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    fclose(f);
    return kib;
}

// Streams a 1 GiB file upload through a pipe into a child that decodes it
// and reports its peak RSS growth.
void peakMemory()
{
    const long long uploadSize = 1ll << 30;
    std::string head = std::string("--") + kBoundary +
                       "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"big\"\r\n\r\n";
    std::string tail = std::string("\r\n--") + kBoundary + "--\r\n";
    int fds[2];
    if (pipe(fds) != 0)
        return;
    int report[2];
    if (pipe(report) != 0)
        return;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[1]);
        close(report[0]);
        cgiIn = fdopen(fds[0], "rb");
        setvbuf(cgiIn, nullptr, _IONBF, 0);
        cgiContentLength = static_cast<int>(head.size() + uploadSize + tail.size());
        cgiMultipartBoundary = const_cast<char*>(kBoundary);
        g_hookBytes = 0;
        long idle = vmHwmKiB();
        cgiParseResultType r = cgiParsePostMultipartInput();
        long peak = vmHwmKiB();
        char msg[128];
        int n = snprintf(msg, sizeof msg, "%d %ld %ld %lld\n", r, idle, peak, g_hookBytes);
        if (write(report[1], msg, n) != n)
            _exit(1);
        cgiFreeResources();
        _exit(0);
    }
    close(fds[0]);
    close(report[1]);
    FILE* out = fdopen(fds[1], "wb");
    fwrite(head.data(), 1, head.size(), out);
    writeRandom(out, uploadSize);
    fwrite(tail.data(), 1, tail.size(), out);
    fclose(out);
    char msg[128] = "";
    ssize_t n = read(report[0], msg, sizeof msg - 1);
    close(report[0]);
    waitpid(pid, nullptr, 0);
    int r = -1;
    long idle = 0, peak = 0;
    long long bytes = 0;
    if (n > 0 && sscanf(msg, "%d %ld %ld %lld", &r, &idle, &peak, &bytes) == 4)
        printf(
            "1 GiB upload through a pipe: result %d, hook %lld B, VmHWM idle %ld KiB, peak %ld "
            "KiB, growth %ld KiB\n",
            r, bytes, idle, peak, peak - idle);
}

}  // namespace

int cgiOnRecvFormFile(char*, int len, int)
{
    g_hookBytes += len;
    return 0;
}

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "/var/tmp";
    cgiSetupConstants();
    throughput("64 MiB file part + 2 fields", dir + "/mp-bench-a", bigFile);
    throughput("2,000 small text fields", dir + "/mp-bench-b", manyFields);
    throughput("16 MiB of delimiter near-misses", dir + "/mp-bench-c", nearMisses);
    peakMemory();
    return 0;
}
