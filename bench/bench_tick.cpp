// One sampler tick through the NVML binding, on the stand-in library.
#include "popup/form1.h"
#include "sampler/nvml.h"
#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <QApplication>
#include <QLibrary>

#include <benchmark/benchmark.h>

namespace {

void scriptReadings()
{
    QLibrary lib(QStringLiteral("libnvidia-ml.so.1"));
    using Script = void (*)(const int*, const int*, int);
    auto script = reinterpret_cast<Script>(lib.resolve("fakenvml_script"));
    if (!script)
        qFatal("the stand-in NVML library is not on the library path");
    const int readings[] = {41, 42, 43, 44};
    script(readings, nullptr, 4);
}

void BM_SamplerTick(benchmark::State& state)
{
    scriptReadings();
    sampler::useSource(std::make_unique<sampler::NvmlSource>());
    Form1->show();
    for (auto _ : state)
        Form1->Timer1->tick();
    benchmark::DoNotOptimize(Form1->gputemp->caption());
    tk::releaseInstances();
}
BENCHMARK(BM_SamplerTick);

// What releasing NVML after each read costs where the GPU's power is
// managed by the kernel: initialise, read, shut down.
void BM_NvmlReadWithRelease(benchmark::State& state)
{
    scriptReadings();
    sampler::NvmlSource source;
    sampler::Reading reading;
    for (auto _ : state) {
        benchmark::DoNotOptimize(source.read(0, reading));
        source.shutdown();
    }
}
BENCHMARK(BM_NvmlReadWithRelease);

void BM_NvmlReadKeptOpen(benchmark::State& state)
{
    scriptReadings();
    sampler::NvmlSource source;
    sampler::Reading reading;
    for (auto _ : state)
        benchmark::DoNotOptimize(source.read(0, reading));
}
BENCHMARK(BM_NvmlReadKeptOpen);

} // namespace

int main(int argc, char** argv)
{
    tk::Application app(argc, argv);
    tk::setPoster(tk::postToDispatch);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
