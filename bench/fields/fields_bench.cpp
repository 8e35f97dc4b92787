// fields_bench.cpp - the request layer's work on a form of n fields (half of
// them sharing names): the last field looked up, the names listed, every
// value of a repeated name copied, the list released. Each must grow
// linearly (or n log n) with n. The list is built directly, past the
// decoding limits, so that 100,000 fields can be measured.
#include "cgi_request_internal.h"

#include <benchmark/benchmark.h>

#include <string>

int cgiOnInit(void)
{
    return 0;
}
int cgiMain(void)
{
    return 0;
}
int cgiOnRecvFormFile(char*, int, int)
{
    return 0;
}

namespace {

// A form of n fields: distinct names f0, f1, ... with every other field
// named "dup".
void buildForm(long n)
{
    cgiFreeResources();
    for (long i = 0; i < n; i++) {
        const std::string name = i % 2 ? "dup" : "f" + std::to_string(i);
        cgiAppendEntry(cgiNewEntry(name.c_str(), "value", 5, "", "", ""));
    }
}

void BM_FindLast(benchmark::State& state)
{
    buildForm(state.range(0));
    const std::string last = "f" + std::to_string(state.range(0) - 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(cgiFormEntryFindFirst(last.c_str()));
    state.SetComplexityN(state.range(0));
}

void BM_Entries(benchmark::State& state)
{
    buildForm(state.range(0));
    for (auto _ : state) {
        char** names = nullptr;
        if (cgiFormEntries(&names) != cgiFormSuccess)
            state.SkipWithError("cgiFormEntries failed");
        cgiStringArrayFree(names);
    }
    state.SetComplexityN(state.range(0));
}

void BM_StringMultiple(benchmark::State& state)
{
    buildForm(state.range(0));
    for (auto _ : state) {
        char** values = nullptr;
        if (cgiFormStringMultiple("dup", &values) != cgiFormSuccess)
            state.SkipWithError("cgiFormStringMultiple failed");
        cgiStringArrayFree(values);
    }
    state.SetComplexityN(state.range(0));
}

void BM_BuildAndFree(benchmark::State& state)
{
    for (auto _ : state)
        buildForm(state.range(0));
    cgiFreeResources();
    state.SetComplexityN(state.range(0));
}

// Decoding stops at the field limit, so it is measured up to the limit.
void BM_DecodeUrlEncoded(benchmark::State& state)
{
    std::string body;
    for (long i = 0; i < state.range(0); i++)
        body += (i % 2 ? std::string("dup") : "f" + std::to_string(i)) + "=value&";
    cgiSetupConstants();
    for (auto _ : state) {
        cgiFreeResources();
        if (cgiParseFormInput(body.data(), static_cast<int>(body.size())) != cgiParseSuccess)
            state.SkipWithError("decoding failed");
    }
    cgiFreeResources();
    state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_FindLast)->Arg(10000)->Arg(100000)->Complexity();
BENCHMARK(BM_Entries)->Arg(10000)->Arg(100000)->Complexity();
BENCHMARK(BM_StringMultiple)->Arg(10000)->Arg(100000)->Complexity();
BENCHMARK(BM_BuildAndFree)->Arg(10000)->Arg(100000)->Complexity();
BENCHMARK(BM_DecodeUrlEncoded)->Arg(CGI_MAX_FIELDS / 16)->Arg(CGI_MAX_FIELDS / 2)->Complexity();

BENCHMARK_MAIN();
