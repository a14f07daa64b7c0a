#include "support/support.h"

#include "popup/form1.h"
#include "popup/module1.h"
#include "sampler/nvml.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

using namespace std::chrono_literals;
using sampler::Cause;
using support::FakeNvml;
using support::ManualClock;
using support::waitUntil;

namespace {

const std::string kNvml = support::kNvmlName;
const std::string kOldOnly = support::fakeNvml("oldonly");
const std::string kNoHandle = support::fakeNvml("nohandle");
constexpr std::int64_t kFail = 1LL << 40; // in a script: the temperature call fails

// A GPU whose driver answers only when the test lets it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    bool waiting = false;
    int calls = 0;
    std::int64_t value = 50;

    bool blocked()
    {
        std::lock_guard lock(mutex);
        return waiting;
    }
    void close()
    {
        std::lock_guard lock(mutex);
        open = false;
    }
    void release(std::int64_t next)
    {
        std::lock_guard lock(mutex);
        value = next;
        open = true;
        changed.notify_all();
    }
};

class GatedSource final : public sampler::Source {
public:
    explicit GatedSource(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}

    sampler::Outcome read(unsigned, sampler::Reading& reading) override
    {
        std::unique_lock lock(m_gate->mutex);
        ++m_gate->calls;
        m_gate->waiting = true;
        // Bounded, so that a sampler that waits for its driver fails the test
        // instead of hanging it.
        m_gate->changed.wait_for(lock, 5s, [this] { return m_gate->open; });
        m_gate->waiting = false;
        reading.core = m_gate->value;
        return {};
    }

private:
    std::shared_ptr<Gate> m_gate;
};

// A driver whose every reading takes 300 ms of the sampler's clock.
class SlowSource final : public sampler::Source {
public:
    explicit SlowSource(int* calls) : m_calls(calls) {}
    sampler::Outcome read(unsigned, sampler::Reading& reading) override
    {
        ++*m_calls;
        ManualClock::advance(300ms);
        reading.core = 44;
        return {};
    }

private:
    int* m_calls;
};

class Sampler : public testing::Test {
protected:
    static void SetUpTestSuite() { ManualClock::install(); }
    void SetUp() override
    {
        // The last test's source is let go here, not on the reading thread
        // while this test scripts the same stand-in library.
        sampler::shutdown();
        m_fake.reset();
        sampler::useSource(std::make_unique<sampler::NvmlSource>());
    }
    void TearDown() override { tk::releaseInstances(); }

    void sample() { support::sampleOnce(Form1->Timer1.get()); }

    FakeNvml m_fake;
};

TEST_F(Sampler, ticksShowCurrentAndPeak)
{
    const struct {
        const char* row;
        std::vector<std::int64_t> script;
        std::vector<std::string> current;
        std::vector<std::string> peak;
    } rows[] = {
        {"the peak only rises", {40, 45, 43}, {"40°c", "45°c", "43°c"}, {"40°c", "45°c", "45°c"}},
        {"a reading of 0 keeps the peak at 0", {0}, {"0°c"}, {"0°c"}},
        {"a failure after a reading keeps the peak",
         {48, kFail, 47},
         {"48°c", "--°c", "47°c"},
         {"48°c", "48°c", "48°c"}},
        {"absurd values are no reading",
         {3000000000, 2147483647, 1000, 52},
         {"--°c", "--°c", "--°c", "52°c"},
         {"--°c", "--°c", "--°c", "52°c"}},
        {"200 is plausible, 201 is not",
         {50, 201, 200},
         {"50°c", "--°c", "200°c"},
         {"50°c", "50°c", "200°c"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        std::vector<int> readings, results;
        for (std::int64_t v : row.script) {
            readings.push_back(v == kFail ? 0 : static_cast<int>(static_cast<std::uint32_t>(v)));
            results.push_back(v == kFail ? 15 : 0);
        }
        m_fake.reset();
        m_fake.script(readings, results);
        sampler::useSource(std::make_unique<sampler::NvmlSource>());
        Form1->load();
        for (std::size_t i = 0; i < row.script.size(); ++i) {
            sample();
            EXPECT_EQ(Form1->gputemp->caption(), row.current[i]) << "reading " << i;
            EXPECT_EQ(Form1->piquegputemp->caption(), row.peak[i]) << "reading " << i;
        }
        EXPECT_NE(Form1->gputemp->tip().find("Stand-in GPU"), std::string::npos);
        tk::releaseInstances();
    }
}

TEST_F(Sampler, onlyWhatTheDriverWroteIsShownOnBothCallGenerations)
{
    constexpr int kUnwritten = FAKENVML_UNWRITTEN;
    const struct {
        const char* row;
        std::vector<int> readings;
        std::vector<int> results;
        std::vector<std::string> current;
        std::string peak; // after the last reading
        std::string tip;  // after the last reading
    } rows[] = {
        {"a success that writes nothing is no reading",
         {0, 0},
         {kUnwritten, kUnwritten},
         {"--°c", "--°c"},
         "--°c",
         "Stand-in GPU: no temperature (the driver gave no value)"},
        {"after a reading, a success that writes nothing is no reading either",
         {47, 0},
         {0, kUnwritten},
         {"47°c", "--°c"},
         "47°c",
         "Stand-in GPU: no temperature (the driver gave no value)"},
        {"below freezing shows as it is, under a peak that starts at 0",
         {-5, -50, -1},
         {0, 0, 0},
         {"-5°c", "-50°c", "-1°c"},
         "0°c",
         "Stand-in GPU via NVML"},
        {"below -50 is no reading",
         {-51},
         {0},
         {"--°c"},
         "--°c",
         "implausible value -51 from Stand-in GPU via NVML"},
    };
    for (const std::string& library : {kNvml, kOldOnly}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(library + ": " + row.row);
            FakeNvml fake(library);
            fake.script(row.readings, row.results);
            sampler::useSource(std::make_unique<sampler::NvmlSource>(library));
            Form1->load();
            for (std::size_t i = 0; i < row.current.size(); ++i) {
                sample();
                EXPECT_EQ(Form1->gputemp->caption(), row.current[i]) << "reading " << i;
            }
            EXPECT_EQ(Form1->piquegputemp->caption(), row.peak);
            EXPECT_EQ(Form1->gputemp->tip(), row.tip);
            tk::releaseInstances();
        }
    }
}

TEST_F(Sampler, anEqualReadingLeavesThePeakTextAlone)
{
    m_fake.script({45, 45});
    Form1->load();
    sample();
    Module1::peakText = "45.0";
    sample();
    EXPECT_EQ(Module1::peakText, "45.0");
    EXPECT_EQ(Form1->piquegputemp->caption(), "45.0°c");
}

TEST_F(Sampler, aReloadRestartsThePeak)
{
    m_fake.script({70, 50});
    Form1->load();
    sample();
    EXPECT_EQ(Form1->piquegputemp->caption(), "70°c");
    Form1->unload();
    Form1->load();
    EXPECT_EQ(Module1::peakText, "0");
    sample();
    EXPECT_EQ(Form1->piquegputemp->caption(), "50°c");
}

TEST_F(Sampler, failedQueriesShowNoNumberAndSayWhy)
{
    const struct {
        const char* row;
        std::string library;
        int initResult;
        int readResult;
        Cause cause;
        int raised; // the error the query raises, 0 for none
    } rows[] = {
        {"library missing", "libnvidia-ml-absent.so.1", 0, 0, Cause::LibraryMissing,
         int(tk::Status::FileNotFound)},
        {"function missing", kNoHandle, 0, 0, Cause::FunctionMissing,
         int(tk::Status::EntryPointNotFound)},
        {"initialisation fails", kNvml, 9, 0, Cause::InitFailed, 0},
        {"the temperature call fails", kNvml, 0, 15, Cause::QueryFailed, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        m_fake.reset();
        m_fake.setInitResult(row.initResult);
        m_fake.script({60}, {row.readResult});
        sampler::useSource(std::make_unique<sampler::NvmlSource>(row.library));
        Form1->load();
        sample();
        EXPECT_EQ(Form1->gputemp->caption(), "--°c");
        EXPECT_EQ(Form1->piquegputemp->caption(), "--°c");
        EXPECT_EQ(Module1::peakText, "0");
        EXPECT_EQ(sampler::lastOutcome().cause, row.cause);
        EXPECT_FALSE(Form1->gputemp->tip().empty());
        EXPECT_FALSE(tk::failed());
        int status = 0;
        try {
            std::int32_t core = 0, ambient = 0, upper = 0;
            EXPECT_NE(sampler::latestThermalSettings(&core, &ambient, &upper), 0);
        } catch (const tk::Error& e) {
            status = int(e.status());
        }
        EXPECT_EQ(status, row.raised);
        tk::releaseInstances();
    }
}

TEST_F(Sampler, aSlowDriverNeverHoldsUpTheTick)
{
    auto gate = std::make_shared<Gate>();
    sampler::useSource(std::make_unique<GatedSource>(gate));
    Form1->load();
    sample();
    EXPECT_EQ(Form1->gputemp->caption(), "50°c");

    gate->close();
    Form1->Timer1->tick();
    ASSERT_TRUE(waitUntil([&] { return gate->blocked(); })) << "the tick waited for the driver";
    ManualClock::advance(1900ms);
    Form1->Timer1->tick();
    Form1->Timer1->tick();
    EXPECT_EQ(gate->calls, 2); // never asked twice at once
    EXPECT_EQ(Form1->gputemp->caption(), "50°c");

    ManualClock::advance(100ms);
    Form1->Timer1->tick();
    EXPECT_EQ(Form1->gputemp->caption(), "--°c");
    EXPECT_EQ(Form1->gputemp->tip(), "the GPU is not answering");
    EXPECT_EQ(Form1->piquegputemp->caption(), "50°c");

    // It answers at last: shown at once, without waiting for a tick.
    gate->release(61);
    EXPECT_TRUE(waitUntil([] { return Form1->gputemp->caption() == "61°c"; }));
    EXPECT_EQ(Form1->piquegputemp->caption(), "61°c");
}

TEST_F(Sampler, quittingDoesNotWaitForAHungDriver)
{
    auto gate = std::make_shared<Gate>();
    gate->open = false;
    sampler::useSource(std::make_unique<GatedSource>(gate));
    Form1->load();
    Form1->Timer1->tick();
    ASSERT_TRUE(waitUntil([&] { return gate->blocked(); }));
    Form1->unload();
    sampler::shutdown();
    EXPECT_TRUE(gate->blocked()) << "shutdown waited for the hung reading";
    gate->release(50);
    EXPECT_TRUE(waitUntil([] { return !sampler::readingInFlight(); }));
}

TEST_F(Sampler, aSlowReadingIsFollowedByNineTimesItsLengthOfRest)
{
    int calls = 0;
    sampler::useSource(std::make_unique<SlowSource>(&calls));
    Form1->load();
    sample();
    EXPECT_EQ(Form1->gputemp->caption(), "44°c");
    ManualClock::advance(2699ms);
    sample();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Form1->gputemp->caption(), "44°c"); // the last value meanwhile
    ManualClock::advance(1ms);
    sample();
    EXPECT_EQ(calls, 2);
}

// Says what the test tells it to, on each reading.
class ScriptedSource final : public sampler::Source {
public:
    explicit ScriptedSource(std::function<sampler::Outcome(int, sampler::Reading&)> step)
        : m_step(std::move(step))
    {
    }
    sampler::Outcome read(unsigned, sampler::Reading& reading) override
    {
        return m_step(m_calls++, reading);
    }

private:
    std::function<sampler::Outcome(int, sampler::Reading&)> m_step;
    int m_calls = 0;
};

TEST_F(Sampler, nothingThatGoesWrongOnTheReadingThreadStopsTheReadings)
{
    enum class First { Reads, Throws, WritesNothing };
    const struct {
        const char* row;
        bool refuseThread; // the system has no thread to give, once
        First first;       // what the first reading does
        std::string tip;   // after the first tick
    } rows[] = {
        {"a thread that cannot start is tried again on the next tick", true, First::Reads,
         "the reading could not start: "},
        {"an exception in a reading is that reading's failure", false, First::Throws,
         "the reading failed: stoul"},
        {"a source that says it read but wrote nothing gave no reading", false,
         First::WritesNothing, "no temperature from GPU"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        sampler::shutdown(); // no reading thread left over from other tests
        int refusals = row.refuseThread ? 1 : 0;
        sampler::setThreadStarter([&refusals](std::function<void()> body) {
            if (refusals-- > 0)
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            std::thread(std::move(body)).detach();
        });
        const First first = row.first;
        sampler::useSource(std::make_unique<ScriptedSource>([first](int call, sampler::Reading& r) {
            if (call == 0 && first == First::Throws)
                throw std::out_of_range("stoul");
            if (call > 0 || first == First::Reads)
                r.core = 50 + call;
            return sampler::Outcome{Cause::None, "GPU"};
        }));
        Form1->load();
        sample();
        EXPECT_EQ(Form1->gputemp->caption(), "--°c");
        EXPECT_EQ(Form1->gputemp->tip().rfind(row.tip, 0), 0u) << Form1->gputemp->tip();
        EXPECT_FALSE(sampler::readingInFlight());
        sample();
        EXPECT_EQ(Form1->gputemp->caption(), row.refuseThread ? "50°c" : "51°c");
        sampler::setThreadStarter({});
        tk::releaseInstances();
    }
}

TEST_F(Sampler, theTerminalHearsEachCauseOnceInPlainText)
{
    // A garbled sensor: a new absurd value every reading, then a driver
    // whose name is full of terminal escapes.
    sampler::useSource(std::make_unique<ScriptedSource>([](int call, sampler::Reading& r) {
        if (call < 20) {
            r.core = 300 + call;
            return sampler::Outcome{Cause::None, "GPU"};
        }
        return sampler::Outcome{Cause::QueryFailed, "\x1b[2J\x1b]0;x\x07"
                                                    "Evil\xc2\x9b GPU\r\n"};
    }));
    Form1->load();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 24; ++i)
        sample();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "kelvane: no GPU temperature: implausible value 300 from GPU\n"
                    "kelvane: no GPU temperature: [2J]0;xEvil GPU\n");
    EXPECT_EQ(Form1->gputemp->tip(), "[2J]0;xEvil GPU");
}

TEST_F(Sampler, onlyNewsWakesTheUserInterface)
{
    m_fake.script({50, 50, 50, 51, 0, 0, 51}, {0, 0, 0, 0, 15, 15, 0});
    Form1->load();
    int woken = 0;
    sampler::setReadingListener([&woken] { ++woken; });
    std::vector<int> wokenAfter;
    for (int i = 0; i < 7; ++i) {
        sample();
        wokenAfter.push_back(woken);
    }
    // The first reading, a new value, a failure, and the value again after it.
    EXPECT_EQ(wokenAfter, (std::vector<int>{1, 1, 1, 2, 3, 3, 4}));
}

TEST_F(Sampler, theSamplingTimerTicksEveryHalfSecond)
{
    m_fake.script({41});
    Form1->load();
    EXPECT_EQ(Form1->Timer1->interval(), 500);
    EXPECT_TRUE(Form1->Timer1->running());
    EXPECT_TRUE(waitUntil([] { return Form1->gputemp->caption() == "41°c"; }));
}

} // namespace
