// Scanning costs of the filter lexer: a client's typical filter, scanned whole as each filter
// translation does (table already loaded), and a long filter to see the cost per byte.
#include <benchmark/benchmark.h>

#include <string>

#include "server/filter/filterdfa.h"
#include "server/filter/sslex.h"

namespace {

const char kFilter[] =
    "CUSTNO *GE 1000 *AND CUSTNO *LE 2000 *AND %SST(NAME 1 3) *EQ 'ABC' *OR "
    "UPPER(CITY) *CT \"York\" *AND PRICE * 1.5 *GT .75";

size_t ScanAll(SSLexTable& table, const char* text) {
    SSLexStringConsumer consumer(text, SSLexConsumer::kMultiByte);
    SSLex lex(consumer, table);
    size_t tokens = 0;
    while (SSLexLexeme* raw = lex.nextToken()) {
        SSRef<SSLexLexeme> lexeme(raw);
        ++tokens;
    }
    return tokens;
}

void ScanTypicalFilter(benchmark::State& state) {
    SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    for (auto _ : state) benchmark::DoNotOptimize(ScanAll(table, kFilter));
    state.SetBytesProcessed(state.iterations() * (sizeof kFilter - 1));
}
BENCHMARK(ScanTypicalFilter);

void ScanLongFilter(benchmark::State& state) {
    SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    std::string text = kFilter;
    while (text.size() < 64 * 1024) text += std::string(" *OR ") + kFilter;
    for (auto _ : state) benchmark::DoNotOptimize(ScanAll(table, text.c_str()));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(ScanLongFilter)->Unit(benchmark::kMillisecond);

void LoadFilterTable(benchmark::State& state) {
    for (auto _ : state) {
        SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
        benchmark::DoNotOptimize(table.listCount());
    }
}
BENCHMARK(LoadFilterTable);

}  // namespace
