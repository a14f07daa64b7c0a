// The cost of one reading through each Windows route, under Wine with the
// stand-in libraries: opened, read and let go each time (a card that can
// sleep), and read from a session kept open. Wine's graphics kernel has no
// temperature query, so that route is timed as far as Wine goes.
// Usage: bench_routes STAND_IN_DIR
#include "sampler/cards.h"
#include "sampler/nvml.h"
#include "sampler/select.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(const std::function<void()>& once, int times)
{
    const auto start = Clock::now();
    for (int i = 0; i < times; ++i)
        once();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / times;
}

void measure(const char* route, sampler::Source& source)
{
    sampler::Reading reading;
    const sampler::Outcome first = source.read(0, reading);
    const double released = microseconds(
        [&] {
            source.read(0, reading);
            source.shutdown();
        },
        200);
    const double open = microseconds([&] { source.read(0, reading); }, 2000);
    std::printf("%s %.1f %.1f %s\n", route, released, open,
                first.ok() ? "read" : first.detail.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_routes STAND_IN_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    sampler::Card radeon{0x1002, 0x747e, 3, 0, 0, L"", "Radeon"};
    sampler::Card arc{0x8086, 0x56a0, 4, 0, 0, L"", "Arc"};
    sampler::NvmlSource nvml(dir + "/full/nvml.dll", "0000:01:00.0");
    measure("NVML", nvml);
    measure("ADL", *sampler::adlSource(radeon, dir + "/adl/atiadlxx.dll"));
    measure("IGCL", *sampler::igclSource(arc, dir + "/igcl/ControlLib.dll"));
    // The whole chooser as Kelvane runs it: the cards SetupAPI lists, then
    // what reads them.
    measure("chosen", *sampler::defaultSource());
    return 0;
}
