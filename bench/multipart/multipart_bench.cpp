// multipart_bench.cpp - multipart decoding throughput against a reference
// that only reads the same body from the same kind of input and searches it
// with memmem, on three bodies; the cost per field of a form of 2,000 small
// fields with the trace file present and unopenable, beside the trace
// appends alone and a minimal straightforward decoder; and the peak memory
// of a 1 GiB upload streamed through a pipe. Run it in the namespace runner
// (it writes the trace file): scripts/ns-run BUILD/bench/multipart/multipart_bench [DIR]
#include "cgi_request_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// A minimal straightforward decoder, as a small CGI library would have it:
// the whole body read into a string, each delimiter found with find, each
// part's header lines split at ':' and its name, file name and value kept
// as strings. Returns the number of parts.
struct RefPart {
    std::string name, fileName, contentType, value;
};

std::string headerParam(const std::string& line, const std::string& key)
{
    size_t p = line.find(key + "=\"");
    if (p == std::string::npos)
        return "";
    p += key.size() + 2;
    return line.substr(p, line.find('"', p) - p);
}

size_t referenceDecode(const char* path, std::vector<RefPart>* parts)
{
    FILE* in = fopen(path, "rb");
    setvbuf(in, nullptr, _IONBF, 0);
    std::string body;
    char buf[64 * 1024];
    for (size_t n; (n = fread(buf, 1, sizeof buf, in)) > 0;)
        body.append(buf, n);
    fclose(in);
    const std::string delim = std::string("\r\n--") + kBoundary;
    parts->clear();
    size_t pos = body.find(delim.substr(2));
    while (pos != std::string::npos) {
        pos = body.find('\n', pos) + 1;
        if (body.compare(pos - 4, 2, "--") == 0)
            break;
        RefPart part;
        size_t eol;
        while ((eol = body.find("\r\n", pos)) != pos && eol != std::string::npos) {
            const std::string line = body.substr(pos, eol - pos);
            const std::string name = line.substr(0, line.find(':'));
            if (name == "Content-Disposition") {
                part.name = headerParam(line, "name");
                part.fileName = headerParam(line, "filename");
            } else if (name == "Content-Type") {
                part.contentType = line.substr(line.find(':') + 2);
            }
            pos = eol + 2;
        }
        const size_t end = body.find(delim, pos + 2);
        if (end == std::string::npos)
            break;
        part.value = body.substr(pos + 2, end - pos - 2);
        parts->push_back(std::move(part));
        pos = end + 2;
    }
    return parts->size();
}

// Appends n trace lines the way the decoder does (open, write, close each),
// and nothing else: the cost of the trace file alone. When the trace file
// cannot be opened, this is the cost of the failed opens alone.
double traceAppendsAlone(long n)
{
    static const char kLine[] = "afterNextBoundary: end: 15 bytes to write.\n";
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; i++) {
        int fd = open(kCgiTraceFile, O_WRONLY | O_APPEND | O_CREAT, 0666);
        if (fd >= 0 && write(fd, kLine, sizeof kLine - 1) < 0)
            perror("trace");
        close(fd);
    }
    return seconds(t0);
}

long countLines(const char* path)
{
    FILE* f = fopen(path, "rb");
    long n = 0;
    for (int c; f && (c = getc(f)) != EOF;)
        n += c == '\n';
    if (f)
        fclose(f);
    return n;
}

// The 2,000-field form per field: decoding with the trace file present (a
// regular file) and unopenable (a folder in its place), the trace appends
// alone, and the reference decoder. Best of 5 runs each.
void perField(const std::string& path)
{
    const int kFields = 2000;
    FILE* f = fopen(path.c_str(), "wb");
    manyFields(f);
    fclose(f);
    long size = fileSize(path.c_str());
    double present = 1e9, absent = 1e9, alone = 1e9, failedAlone = 1e9, ref = 1e9;
    long lines = 0;
    for (int i = 0; i < 5; i++) {
        unlink(kCgiTraceFile);
        fclose(fopen(kCgiTraceFile, "w"));
        present = std::min(present, decodeFile(path.c_str(), size));
        lines = countLines(kCgiTraceFile);
        unlink(kCgiTraceFile);
        alone = std::min(alone, traceAppendsAlone(lines));
        unlink(kCgiTraceFile);
        mkdir(kCgiTraceFile, 0700);
        absent = std::min(absent, decodeFile(path.c_str(), size));
        failedAlone = std::min(failedAlone, traceAppendsAlone(lines));
        rmdir(kCgiTraceFile);
        std::vector<RefPart> parts;
        auto t0 = std::chrono::steady_clock::now();
        if (referenceDecode(path.c_str(), &parts) != kFields)
            fprintf(stderr, "reference decoded %zu parts\n", parts.size());
        ref = std::min(ref, seconds(t0));
    }
    long entries = 0;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        entries++;
    cgiFreeResources();
    const double us = 1e6 / kFields;
    printf(
        "2,000 fields, per field: trace present %.2f us, %ld trace appends alone %.2f us, "
        "present/appends %.2f; trace unopenable %.2f us, failed opens alone %.2f us, "
        "difference %.2f us; reference %.2f us (%ld entries)\n",
        present * us, lines, alone * us, present / alone, absent * us, failedAlone * us,
        (absent - failedAlone) * us, ref * us, entries);
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
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[1]);
        close(report[0]);
        cgiFreeResources();
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
    perField(dir + "/mp-bench-d");
    peakMemory();
    return 0;
}
