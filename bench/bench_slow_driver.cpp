// A driver that is slow to start, where the kernel manages the GPU's power:
// NVML is initialised and released around every reading, and initialising
// takes 200 ms. Runs the popup's real sampling timer for a while and prints
// how much of the wall time the sampler spent inside the driver, how often
// it read, and the process's CPU share.
#include "popup/form1.h"
#include "sampler/select.h"
#include "sampler/sysfs.h"
#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

std::atomic<qint64> g_insideNs{0};
std::atomic<int> g_readings{0};

// Times every call into the real source.
class Timed final : public sampler::Source {
public:
    explicit Timed(std::unique_ptr<sampler::Source> inner) : m_inner(std::move(inner)) {}
    sampler::Outcome read(unsigned index, sampler::Reading& reading) override
    {
        QElapsedTimer timer;
        timer.start();
        const sampler::Outcome outcome = m_inner->read(index, reading);
        g_insideNs += timer.nsecsElapsed();
        ++g_readings;
        return outcome;
    }
    void shutdown() override { m_inner->shutdown(); }

private:
    std::unique_ptr<sampler::Source> m_inner;
};

void write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(content);
}

// An NVIDIA card on the vendor driver whose power the kernel manages.
void makeCard(const QString& root)
{
    const QString dev = root + QStringLiteral("/sys/devices/pci0000:00/0000:01:00.0");
    write(dev + QStringLiteral("/vendor"), "0x10de\n");
    write(dev + QStringLiteral("/power/runtime_status"), "active\n");
    write(dev + QStringLiteral("/power/control"), "auto\n");
    const QString driver = root + QStringLiteral("/sys/bus/pci/drivers/nvidia");
    QDir().mkpath(driver);
    QFile::link(driver, dev + QStringLiteral("/driver"));
    QDir().mkpath(root + QStringLiteral("/sys/class/drm/card0"));
    QFile::link(dev, root + QStringLiteral("/sys/class/drm/card0/device"));
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    tk::Application app(argc, argv);
    tk::setPoster(tk::postToDispatch);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 30;

    QLibrary nvml(QStringLiteral("libnvidia-ml.so.1"));
    auto setDelays = reinterpret_cast<void (*)(int, int)>(nvml.resolve("fakenvml_set_delays"));
    if (!setDelays)
        qFatal("the stand-in NVML library is not on the library path");
    setDelays(200, 0);

    QTemporaryDir tree;
    makeCard(tree.path());
    sampler::useSource(std::make_unique<Timed>(
        sampler::chooseSource(sampler::Sysfs(tree.path().toStdString()), "libnvidia-ml.so.1")));

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    Form1->load();
    QTimer::singleShot(seconds * 1000, qApp, [] { QCoreApplication::quit(); });
    QApplication::exec();
    const double cpu = cpuSeconds() - cpu0;
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    tk::releaseInstances();
    sampler::shutdown();

    std::printf("readings %d\n", g_readings.load());
    std::printf("inside_driver_percent %.1f\n",
                100.0 * static_cast<double>(g_insideNs.load()) / 1e9 / wallSeconds);
    std::printf("seconds_between_readings %.2f\n", wallSeconds / std::max(1, g_readings.load()));
    std::printf("cpu_percent %.3f\n", 100.0 * cpu / wallSeconds);
    return 0;
}
