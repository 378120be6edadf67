// The runtime's text conversions, which every value copied between tables passes through twice
// (to text from the source field, from text into the target field).
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "rtl/datetime.h"
#include "rtl/numconv.h"
#include "rtl/paths.h"

namespace {

const std::vector<double> kValues = {0.0,    1234.5, -0.00001, 1.0 / 3.0, 123456789012345.0,
                                     1.5e20, 9.9e-6};

void FloatTextRoundTrip(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const std::string text = rtl::FloatToStr(kValues[i++ % kValues.size()]);
        benchmark::DoNotOptimize(rtl::StrToFloat(text));
    }
}
BENCHMARK(FloatTextRoundTrip);

void IntegerTextRoundTrip(benchmark::State& state) {
    int32_t v = -1000000;
    for (auto _ : state) benchmark::DoNotOptimize(rtl::StrToInt(rtl::IntToStr(v++)));
}
BENCHMARK(IntegerTextRoundTrip);

void DateTimeTextRoundTrip(benchmark::State& state) {
    double v = rtl::ComposeDateTime(rtl::EncodeDate(2001, 3, 15), rtl::EncodeTime(14, 30, 5, 0));
    for (auto _ : state) {
        const std::string text = rtl::DateTimeToStr(v);
        benchmark::DoNotOptimize(rtl::StrToDateTime(text));
        v += 1.001;
    }
}
BENCHMARK(DateTimeTextRoundTrip);

// A path on drive C whose names exist in another letter case (the photo file of each record).
void ResolveExistingPath(benchmark::State& state) {
    std::ofstream(rtl::ResolvePath("C:\\TEMP\\photo.JPG")) << "x";
    for (auto _ : state) benchmark::DoNotOptimize(rtl::ResolvePath("c:\\temp\\photo.JPG"));
}
BENCHMARK(ResolveExistingPath);

}  // namespace
