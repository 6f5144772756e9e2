// Costs of a filter translation, per call: Translate on a one-relation filter, a 20-term and a
// 200-term *AND/*OR list (each with the engine's construction), beside building the engine's two
// table objects from the embedded images alone. The filtered file is a table file of the base
// dialect over a connection that never connects: translating runs no SQL.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/benchdb.h"
#include "lib_common/commbuffer.h"
#include "server/filter/filterdfa.h"
#include "server/filter/filterengine.h"
#include "server/filter/filterllr.h"
#include "server/filter/sslextable.h"
#include "server/filter/ssyacctable.h"
#include "server/isam/gatemill.h"

namespace {

// The file that the filters are translated for, made once.
tISAMFile& File() {
    static tISAMFile* file = [] {
        // The process services that a connection needs, every setting at its default.
        SetDBProcess(new gmbench::tBenchProcess(gmbench::DbEnvPath() + ".filter.ini"));
        auto* conn = new tPostgresConnection("POSTGRES", tString("nowhere"), tString("user"),
                                             tString("secret"));
        auto def = std::make_shared<tTableDefinitionShared>("CLIENTES", "nowhere");
        def->AddField("CODE", 'C', 10, 0, true, true);
        def->AddField("NAME", 'C', 30, 0, true, true);
        def->AddField("VALUE", 'N', 12, 2, true, true);
        def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
        static tCommBuffer reply;
        return new tISAMFile(conn, def, reply, 1);  // both live as long as the process
    }();
    return *file;
}

// terms relations joined by *AND and *OR in turn, ranges among them.
std::string Filter(int terms) {
    std::string filter;
    for (int i = 0; i < terms; ++i) {
        if (i > 0) filter += i % 2 ? " *AND " : " *OR ";
        filter +=
            i % 3 ? "NAME *EQ 'N" + std::to_string(i) + "'" : "VALUE *GE " + std::to_string(i);
    }
    return "'" + filter + "'";
}

void Translate(benchmark::State& state) {
    tISAMFile& file = File();
    const std::string filter = Filter(static_cast<int>(state.range(0)));
    std::vector<char> text(filter.size() + 1);
    for (auto _ : state) {
        std::copy(filter.c_str(), filter.c_str() + filter.size() + 1, text.begin());
        tFilterEngine engine(file, text.data());
        tString out;
        engine.Translate(out);
        if (!engine.IsTranslated()) state.SkipWithError("the filter did not translate");
        benchmark::DoNotOptimize(out.GetText());
    }
}
BENCHMARK(Translate)->Arg(1)->Arg(20)->Arg(200);

void BuildEngineTables(benchmark::State& state) {
    for (auto _ : state) {
        SSLexTable lexTable(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
        SSYaccTable yaccTable(kFilterLlrImage, kFilterLlrImageSize, "filter.llr");
        benchmark::DoNotOptimize(yaccTable.stateCount());
    }
}
BENCHMARK(BuildEngineTables);

}  // namespace
