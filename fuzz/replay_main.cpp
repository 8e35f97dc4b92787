// replay_main.cpp - runs a fuzz entry over stored inputs (files, or every
// file of a directory in name order) without the fuzzing engine, so the
// corpus serves as a regression test in ordinary builds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        if (fs::is_directory(argv[i]))
            std::copy(fs::directory_iterator(argv[i]), fs::directory_iterator(),
                      std::back_inserter(files));
        else
            files.push_back(argv[i]);
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::ifstream f(file, std::ios::binary);
        if (!f) {
            fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        const std::vector<uint8_t> data(std::istreambuf_iterator<char>(f),
                                        std::istreambuf_iterator<char>{});
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    fprintf(stderr, "replayed %zu inputs\n", files.size());  // stdout may belong to the entry
    return files.empty() ? 1 : 0;
}
