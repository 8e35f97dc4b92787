// replay_main.cpp - runs a fuzz entry over stored inputs (files, or every
// file of a directory in name order) without the fuzzing engine, so the
// corpus serves as a regression test in ordinary builds.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::string> inputsOf(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode))
        return {path};
    std::vector<std::string> files;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                files.push_back(path + "/" + e->d_name);
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool replay(const std::string& file)
{
    FILE* f = fopen(file.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        data.insert(data.end(), buf, buf + n);
    fclose(f);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    size_t count = 0;
    for (int i = 1; i < argc; i++) {
        for (const std::string& file : inputsOf(argv[i])) {
            if (!replay(file)) {
                fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            count++;
        }
    }
    fprintf(stderr, "replayed %zu inputs\n", count);  // stdout may belong to the entry
    return count > 0 ? 0 : 1;
}
