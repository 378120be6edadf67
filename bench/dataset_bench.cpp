// The dataset model's hot paths over the in-memory dataset of the tests: walking records with
// Next (one-record window, and a wide window kept by a data link), and the copy by text that the
// conversion loop does (Append, StringValue read and write per field, Post).
#include <benchmark/benchmark.h>

#include "support/dataset_support.h"

namespace {

using namespace dstest;

void BM_WalkWithNext(benchmark::State& state) {
    const int rows = 10000;
    auto ds = People(rows);
    db::TDataSource source;
    source.SetDataSet(ds.get());
    WideLink link(static_cast<int>(state.range(0)));
    link.SetDataSource(&source);
    ds->Open();
    db::TField& id = ds->FieldNamed("ID");
    int64_t sum = 0;
    for (auto _ : state) {
        ds->First();
        while (!ds->AtEOF()) {
            sum += id.IntegerValue();
            ds->Next();
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_WalkWithNext)->Arg(1)->Arg(16);

void BM_CopyByText(benchmark::State& state) {
    const int rows = 2000;
    auto source = People(rows);
    source->Open();
    for (auto _ : state) {
        state.PauseTiming();
        auto target = People(0, "Target");
        target->Open();
        source->First();
        state.ResumeTiming();
        while (!source->AtEOF()) {
            target->Append();
            for (int i = 0; i < source->NumFields(); ++i) {
                const std::string& name = source->FieldAt(i).FieldName();
                target->FieldNamed(name).SetStringValue(source->FieldNamed(name).StringValue());
            }
            target->Post();
            source->Next();
        }
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_CopyByText);

}  // namespace

BENCHMARK_MAIN();
