#include "support/support.h"

#include "sampler/hwmon.h"
#include "sampler/nvml.h"
#include "sampler/select.h"
#include "toolkit/base/post.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using sampler::Cause;
using support::FakeNvml;

namespace {

const std::string& kNvml = support::kNvmlName;
const std::string kAmd = "0000:03:00.0";

// A sysfs tree of the test's own: PCI devices with their DRM cards, drivers,
// power state and hwmon sensors.
class FakeSysfs final {
public:
    sampler::Sysfs sysfs() const { return sampler::Sysfs(m_dir.path().string()); }
    std::string device(const std::string& pci) const { return "sys/devices/pci0000:00/" + pci; }
    std::string absolute(const std::string& relative) const
    {
        return (m_dir.path() / relative).string();
    }

    void addCard(const std::string& card, const std::string& pci, const std::string& vendor,
                 const std::string& driver, const std::string& power = "active")
    {
        m_dir.write(device(pci) + "/vendor", vendor + "\n");
        std::filesystem::create_directories(m_dir.path() / "sys/bus/pci/drivers" / driver);
        m_dir.link(absolute("sys/bus/pci/drivers/" + driver), device(pci) + "/driver");
        setPower(pci, power);
        m_dir.link(absolute(device(pci)), "sys/class/drm/" + card + "/device");
    }

    void setPower(const std::string& pci, const std::string& status,
                  const std::string& control = "auto")
    {
        if (!status.empty())
            m_dir.write(device(pci) + "/power/runtime_status", status + "\n");
        m_dir.write(device(pci) + "/power/control", control + "\n");
    }

    // An AMD card whose edge sensor reads 45 °C; returns the sensor's path.
    std::string addAmdCard(const std::string& power = "active")
    {
        addCard("card0", kAmd, "0x1002", "amdgpu", power);
        return addSensor(kAmd, "hwmon4", 1, "45000\n", "edge");
    }

    // Adds tempN_input (and _label where given); returns its path.
    std::string addSensor(const std::string& pci, const std::string& hwmon, int n,
                          const std::string& input, const std::string& label = {})
    {
        const std::string base = device(pci) + "/hwmon/" + hwmon + "/temp" + std::to_string(n);
        m_dir.write(base + "_input", input);
        if (!label.empty())
            m_dir.write(base + "_label", label + "\n");
        return absolute(base + "_input");
    }

private:
    support::TempDir m_dir;
};

constexpr int kUnreadable = 1 << 30;

class Sources : public testing::Test {
protected:
    void SetUp() override { m_fake.reset(); }

    FakeNvml m_fake;
};

TEST_F(Sources, theRightSourceWinsAndReads)
{
    const struct {
        const char* row;
        // Each card as "cardN PCI-ADDRESS VENDOR DRIVER", then its sensors as
        // "N:LABEL=MILLIDEGREES" (an empty label: none), cards apart by ";";
        // the stand-in NVML reads 57.
        const char* cards;
        std::int64_t core; // kUnreadable: no reading
        std::string tooltip;
    } rows[] = {
        {"an AMD card reads its edge sensor, not its hotter junction",
         "card1 0000:03:00.0 0x1002 amdgpu 1:edge=45500 2:junction=61000", 46,
         "AMD GPU 0000:03:00.0 via hwmon (edge)"},
        {"nouveau reads its unlabelled temp1", "card0 0000:01:00.0 0x10de nouveau 1:=51200", 51,
         "NVIDIA GPU 0000:01:00.0 via hwmon (temp1)"},
        {"Intel xe reads its package sensor",
         "card0 0000:00:02.0 0x8086 xe 2:pkg=40400 3:vram=52000", 40,
         "Intel GPU 0000:00:02.0 via hwmon (pkg)"},
        {"an Intel card without a sensor gives way to the next card",
         "card0 0000:00:02.0 0x8086 i915; card1 0000:03:00.0 0x1002 amdgpu 1:edge=46000", 46,
         "AMD GPU 0000:03:00.0 via hwmon (edge)"},
        {"two cards: the first in PCI order, not in card order",
         "card1 0000:03:00.0 0x1002 amdgpu 1:edge=33000; card0 0000:0a:00.0 0x1002 amdgpu "
         "1:edge=70000",
         33, "AMD GPU 0000:03:00.0 via hwmon (edge)"},
        {"NVIDIA on the vendor driver goes through NVML", "card0 0000:01:00.0 0x10de nvidia", 57,
         "Stand-in GPU via NVML"},
        {"i915, which exports no temperature, says so by name",
         "card0 0000:00:02.0 0x8086 i915 1:=40000", kUnreadable,
         "Intel GPU 0000:00:02.0 (i915) has no temperature sensor"},
        {"radeon reads its unlabelled temp1", "card0 0000:03:00.0 0x1002 radeon 1:=48000", 48,
         "AMD GPU 0000:03:00.0 via hwmon (temp1)"},
        {"an amdgpu card without an edge sensor reads its junction",
         "card0 0000:03:00.0 0x1002 amdgpu 1:mem=70000 2:junction=55000", 55,
         "AMD GPU 0000:03:00.0 via hwmon (junction)"},
        {"NVIDIA on the vendor driver without NVML is no reading",
         "card0 0000:01:00.0 0x10de nvidia", kUnreadable,
         "NVIDIA GPU 0000:01:00.0 can only be read through NVML, and "
         "libnvidia-ml-absent.so.1 was not found"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        FakeSysfs tree;
        std::istringstream cards(r.cards);
        for (std::string line; std::getline(cards, line, ';');) {
            std::istringstream words(line);
            std::string card, pci, vendor, driver, sensor;
            words >> card >> pci >> vendor >> driver;
            tree.addCard(card, pci, vendor, driver);
            while (words >> sensor) {
                const auto colon = sensor.find(':'), equals = sensor.find('=');
                tree.addSensor(pci, "hwmon0", std::stoi(sensor.substr(0, colon)),
                               sensor.substr(equals + 1) + "\n",
                               sensor.substr(colon + 1, equals - colon - 1));
            }
        }
        m_fake.script({57});
        const bool none = r.core == kUnreadable;
        auto source =
            sampler::chooseSource(tree.sysfs(), none ? "libnvidia-ml-absent.so.1" : kNvml);
        sampler::Reading reading;
        const sampler::Outcome outcome = source->read(0, reading);
        EXPECT_EQ(outcome.cause, none ? Cause::NoDevice : Cause::None);
        EXPECT_EQ(reading.core, none ? sampler::kUnread : r.core);
        EXPECT_EQ(outcome.detail, r.tooltip);
    }
}

TEST_F(Sources, onlyAnAwakeCardIsReadAndNvmlNeverHoldsItAwake)
{
    const struct {
        const char* row;
        std::string status; // empty: the kernel has no runtime status for it
        bool read;
        std::string control = "auto";
        int nvmlOpens = 4; // in four reads
    } rows[] = {
        {"an active card is read, and NVML let go after every read", "active", true},
        {"a card kept on by the user keeps NVML open", "active", true, "on", 1},
        {"a card without runtime power management is read", "unsupported", true},
        {"a card with no runtime status at all is read", "", true},
        {"a suspended card is left asleep", "suspended", false, "auto", 0},
        {"a card going to sleep is left alone", "suspending", false, "auto", 0},
        {"a waking card is left alone", "resuming", false, "auto", 0},
        {"a card in a power error is left alone", "error", false, "auto", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        // An NVIDIA card read through NVML, and an AMD one whose sensor file
        // is watched.
        m_fake.reset();
        m_fake.script({60});
        FakeSysfs nvidiaTree, amdTree;
        nvidiaTree.addCard("card0", "0000:01:00.0", "0x10de", "nvidia", row.status);
        nvidiaTree.setPower("0000:01:00.0", row.status, row.control);
        const std::string input = amdTree.addAmdCard(row.status);
        sampler::Sysfs amdSysfs = amdTree.sysfs();
        int sensorReads = 0;
        amdSysfs.setReadObserver([&](const std::string& path) { sensorReads += path == input; });
        auto nvidia = sampler::chooseSource(nvidiaTree.sysfs(), kNvml);
        auto amd = sampler::chooseSource(amdSysfs, kNvml);
        sampler::Reading r;
        for (sampler::Source* source : {nvidia.get(), amd.get()}) {
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(source->read(0, r).cause, row.read ? Cause::None : Cause::Asleep);
        }
        const fakenvml_counts c = m_fake.counts();
        EXPECT_EQ(c.temperature + c.temperatureV, row.read ? 4 : 0);
        EXPECT_EQ(sensorReads, row.read ? 4 : 0);
        EXPECT_EQ(c.init, row.nvmlOpens);
        EXPECT_EQ(c.handle, row.nvmlOpens);
        // Going to sleep lets NVML go.
        nvidiaTree.setPower("0000:01:00.0", "suspended", row.control);
        EXPECT_EQ(nvidia->read(0, r).cause, Cause::Asleep);
        EXPECT_EQ(m_fake.counts().shutdown, row.nvmlOpens);
    }
}

TEST_F(Sources, sensorFilesHoldPlainDecimals)
{
    const struct {
        const char* row;
        std::string content;
        int degrees;
    } rows[] = {
        {"below zero keeps its sign", "-5000\n", -5},
        {"just under a half rounds down", "45499\n", 45},
        {"a negative half rounds away from zero", "-500\n", -1},
        {"no newline", "38000", 38},
        {"an empty file", "", kUnreadable},
        {"words", "hot\n", kUnreadable},
        {"a number with junk after it", "45000abc\n", kUnreadable},
        {"an overlong value", std::string(200, '9'), kUnreadable},
        {"an absurd temperature", "999999999999\n", kUnreadable},
        {"a leading zero, which is not octal", "045000\n", kUnreadable},
        {"blanks around the number", " 45000 \n", kUnreadable},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        FakeSysfs tree;
        const std::string input = tree.addAmdCard();
        auto source = sampler::chooseSource(tree.sysfs(), kNvml);
        std::ofstream(input, std::ios::binary) << row.content;
        sampler::Reading r{-7};
        const sampler::Outcome outcome = source->read(0, r);
        if (row.degrees == kUnreadable) {
            EXPECT_EQ(outcome.cause, Cause::Unreadable);
            EXPECT_EQ(r.core, -7);
            // A good value afterwards is read again.
            std::ofstream(input, std::ios::binary) << "47000\n";
            ASSERT_TRUE(source->read(0, r).ok());
            EXPECT_EQ(r.core, 47);
        } else {
            ASSERT_TRUE(outcome.ok()) << outcome.detail;
            EXPECT_EQ(r.core, row.degrees);
        }
    }
}

TEST_F(Sources, aFifoWhereTheSensorShouldBeNeverBlocks)
{
    FakeSysfs tree;
    const std::string input = tree.addAmdCard();
    auto source = sampler::chooseSource(tree.sysfs(), kNvml);
    std::filesystem::remove(input);
    ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);

    // Read on a thread of its own: a read that blocks on the FIFO fails the
    // test instead of hanging it, and is set free by a writer.
    auto reading = std::async(std::launch::async, [&] {
        sampler::Reading r;
        return source->read(0, r).cause;
    });
    const bool finished = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        const int fd = ::open(input.c_str(), O_WRONLY);
        [[maybe_unused]] auto n = ::write(fd, "0\n", 2);
        ::close(fd);
    }
    ASSERT_TRUE(finished) << "reading a FIFO blocked";
    EXPECT_EQ(reading.get(), Cause::Unreadable);
}

TEST_F(Sources, aVanishedCardIsReadAgainWhenItComesBack)
{
    FakeSysfs tree;
    tree.addAmdCard();
    auto source = sampler::chooseSource(tree.sysfs(), kNvml);
    sampler::Reading r;
    ASSERT_TRUE(source->read(0, r).ok());

    std::filesystem::remove_all(tree.absolute(tree.device(kAmd) + "/hwmon"));
    EXPECT_EQ(source->read(0, r).cause, Cause::Unreadable);
    EXPECT_EQ(source->read(0, r).cause, Cause::NoDevice);

    // Back after a reset, under a new hwmon number.
    tree.addSensor(kAmd, "hwmon9", 1, "52000\n", "edge");
    ASSERT_TRUE(source->read(0, r).ok());
    EXPECT_EQ(r.core, 52);
}

TEST_F(Sources, aGpuLostToNvmlIsLookedUpAgain)
{
    for (const auto& [error, lookups] : {std::pair{10, 1}, {15, 2}}) { // timeout, GPU lost
        m_fake.reset();
        m_fake.script({50, 0, 52}, {0, error, 0});
        sampler::NvmlSource source(kNvml);
        sampler::Reading r;
        for (bool ok : {true, false, true})
            EXPECT_EQ(source.read(0, r).ok(), ok) << "NVML error " << error;
        EXPECT_EQ(r.core, 52);
        EXPECT_EQ(m_fake.counts().handle, lookups) << "NVML error " << error;
    }
}

// Kelvane ends while a reading is in the driver, and the reading comes back
// while exit() runs. The sanitizer build sees whatever the reading thread
// then touches that exit() has destroyed; every build sees a thread that
// holds on, posts, or lets go of the driver after the program let go of it.
// What the check keeps is atomics and pointers, which exit() leaves alone.
std::atomic<bool> g_comeBack{false}, g_threadEnded{false}, g_ended{false};
std::atomic<int> g_postsAfterEnd{0};
int g_nvmlShutdowns = 0;
// Looked up beforehand: the tests' own lookup is gone by then.
void (*g_nvmlCounts)(fakenvml_counts*) = nullptr;

[[noreturn]] void endWhileReading(bool throughNvml)
{
    // Registered before the first reading makes anything static, so that it
    // runs once exit() has destroyed all of that.
    std::atexit([] {
        g_comeBack = true;
        if (!support::waitUntil([] { return g_threadEnded.load(); }, false))
            std::_Exit(3);
        if (g_postsAfterEnd > 0)
            std::_Exit(4);
        fakenvml_counts counts{};
        if (g_nvmlCounts)
            g_nvmlCounts(&counts);
        if (g_nvmlCounts && counts.shutdown != g_nvmlShutdowns)
            std::_Exit(5);
    });
    sampler::setThreadStarter([](std::function<void()> body) {
        std::thread([body = std::move(body)] {
            body();
            g_threadEnded = true;
        }).detach();
    });
    tk::setPoster([](std::function<void()>) {
        if (g_ended)
            ++g_postsAfterEnd;
    });

    FakeSysfs tree;
    FakeNvml nvml;
    std::unique_ptr<sampler::Source> source;
    if (throughNvml) {
        nvml.script({50});
        source = std::make_unique<sampler::NvmlSource>(kNvml);
        g_nvmlCounts = support::standIn<void (*)(fakenvml_counts*)>(kNvml, "fakenvml_get_counts");
    } else {
        const std::string input = tree.addAmdCard();
        sampler::Sysfs sysfs = tree.sysfs();
        sysfs.setReadObserver([input, reads = 0](const std::string& path) mutable {
            if (path == input && ++reads > 1)
                support::waitUntil([] { return g_comeBack.load(); }, false);
        });
        source = std::make_unique<sampler::HwmonSource>(sysfs, sampler::drmCards(sysfs).at(0));
    }
    sampler::useSource(std::move(source));
    // One reading done, the next one in the driver.
    std::int32_t core = 0;
    const auto query = [&core] { return sampler::NvCplGetThermalSettings(0, &core, {}, {}); };
    if (!support::waitUntil([&] { return query() == 0; }, false))
        std::_Exit(6);
    if (throughNvml)
        support::standIn<void (*)(int, int)>(kNvml, "fakenvml_set_delays")(0, 500);
    if (!support::waitUntil([&] { return query(), sampler::readingInFlight(); }, false))
        std::_Exit(7);
    g_nvmlShutdowns = nvml.counts().shutdown;
    sampler::shutdown();
    g_ended = true;
    std::exit(0);
}

TEST(Exit, aReadingInTheDriverAtExitStaysBehindWithoutHarm)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endWhileReading(false), testing::ExitedWithCode(0), "") << "through hwmon";
    EXPECT_EXIT(endWhileReading(true), testing::ExitedWithCode(0), "") << "through NVML";
}

} // namespace
