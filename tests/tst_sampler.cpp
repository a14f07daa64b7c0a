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

// Says what the test tells it to, on each reading.
class ScriptedSource final : public sampler::Source {
public:
    using Step = std::function<sampler::Outcome(int call, sampler::Reading&)>;
    explicit ScriptedSource(Step step) : m_step(std::move(step)) {}
    sampler::Outcome read(unsigned, sampler::Reading& reading) override
    {
        return m_step(m_calls++, reading);
    }

private:
    Step m_step;
    int m_calls = 0;
};

// Reads the gate's value once the gate is open; bounded, so that a sampler
// that waits for its driver fails the test instead of hanging it.
std::unique_ptr<sampler::Source> gated(std::shared_ptr<Gate> gate)
{
    return std::make_unique<ScriptedSource>([gate](int, sampler::Reading& reading) {
        std::unique_lock lock(gate->mutex);
        ++gate->calls;
        gate->waiting = true;
        gate->changed.wait_for(lock, 5s, [&] { return gate->open; });
        gate->waiting = false;
        reading.core = gate->value;
        return sampler::Outcome{};
    });
}

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

    void sample() { support::sampleOnce(Form1->Timer1.get()); }

    FakeNvml m_fake;
};

TEST_F(Sampler, ticksShowCurrentAndPeakOrNoNumberAndWhy)
{
    const struct {
        const char* row;
        std::vector<std::int64_t> script;
        std::vector<std::string> current;
        std::vector<std::string> peak;
        std::string library = kNvml;
        int initResult = 0;
        Cause cause = Cause::None; // of the last reading
        int raised = 0;            // the error the query raises, 0 for none
    } rows[] = {
        {"the peak only rises, and a failure keeps it",
         {40, 45, 43, kFail, 44},
         {"40°c", "45°c", "43°c", "--°c", "44°c"},
         {"40°c", "45°c", "45°c", "45°c", "45°c"}},
        {"a reading of 0 keeps the peak at 0", {0}, {"0°c"}, {"0°c"}},
        {"absurd values are no reading",
         {3000000000, 2147483647, 1000, 52},
         {"--°c", "--°c", "--°c", "52°c"},
         {"--°c", "--°c", "--°c", "52°c"}},
        {"library missing",
         {60},
         {"--°c"},
         {"--°c"},
         "libnvidia-ml-absent.so.1",
         0,
         Cause::LibraryMissing,
         int(tk::Status::FileNotFound)},
        {"function missing",
         {60},
         {"--°c"},
         {"--°c"},
         kNoHandle,
         0,
         Cause::FunctionMissing,
         int(tk::Status::EntryPointNotFound)},
        {"initialisation fails", {60}, {"--°c"}, {"--°c"}, kNvml, 9, Cause::InitFailed},
        {"the temperature call fails", {kFail}, {"--°c"}, {"--°c"}, kNvml, 0, Cause::QueryFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        std::vector<int> readings, results;
        for (std::int64_t v : row.script) {
            readings.push_back(v == kFail ? 0 : static_cast<int>(static_cast<std::uint32_t>(v)));
            results.push_back(v == kFail ? 15 : 0);
        }
        m_fake.reset();
        m_fake.setInitResult(row.initResult);
        m_fake.script(readings, results);
        sampler::useSource(std::make_unique<sampler::NvmlSource>(row.library));
        Form1->load();
        for (std::size_t i = 0; i < row.script.size(); ++i) {
            sample();
            EXPECT_EQ(Form1->gputemp->caption(), row.current[i]) << "reading " << i;
            EXPECT_EQ(Form1->piquegputemp->caption(), row.peak[i]) << "reading " << i;
        }
        EXPECT_EQ(sampler::lastOutcome().cause, row.cause);
        EXPECT_FALSE(Form1->gputemp->tip().empty());
        EXPECT_FALSE(tk::failed());
        int status = 0;
        try {
            std::int32_t core = 0, ambient = 0, upper = 0;
            sampler::latestThermalSettings(&core, &ambient, &upper);
        } catch (const tk::Error& e) {
            status = int(e.status());
        }
        EXPECT_EQ(status, row.raised);
        tk::releaseInstances();
    }
}

TEST_F(Sampler, onlyWhatTheDriverWroteIsShownOnBothCallGenerations)
{
    constexpr int kUnwritten = FAKENVML_UNWRITTEN;
    const std::vector<std::string> both{kNvml, kOldOnly}, signedOnly{kNvml}, old{kOldOnly};
    const struct {
        const char* row;
        const std::vector<std::string>& libraries;
        std::vector<int> readings;
        std::vector<int> results;
        std::vector<std::string> current;
        std::string peak; // after the last reading
        std::string tip;  // after the last reading
    } rows[] = {
        {"a success that writes nothing is no reading, before a reading and after one",
         both,
         {0, 47, 0},
         {kUnwritten, 0, kUnwritten},
         {"--°c", "47°c", "--°c"},
         "47°c",
         "Stand-in GPU: no temperature (the driver gave no value)"},
        {"through the signed call below freezing shows as it is, down to -50, under a peak of 0",
         signedOnly,
         {-5, -50, -1, -51},
         {0, 0, 0, 0},
         {"-5°c", "-50°c", "-1°c", "--°c"},
         "0°c",
         "implausible value -51 from Stand-in GPU via NVML"},
        {"through the unsigned call 200 is plausible, and 201 and all ones (\"not available\") "
         "are no reading, never -1",
         old,
         {200, 201, -1},
         {0, 0, 0},
         {"200°c", "--°c", "--°c"},
         "200°c",
         "implausible value 4294967295 from Stand-in GPU via NVML"},
    };
    for (const auto& row : rows) {
        for (const std::string& library : row.libraries) {
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

TEST_F(Sampler, aSlowDriverNeverHoldsUpTheTick)
{
    auto gate = std::make_shared<Gate>();
    sampler::useSource(gated(gate));
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

TEST_F(Sampler, aSlowReadingIsFollowedByNineTimesItsLengthOfRest)
{
    int calls = 0; // each reading takes 300 ms of the sampler's clock
    sampler::useSource(std::make_unique<ScriptedSource>([&calls](int, sampler::Reading& r) {
        ++calls;
        ManualClock::advance(300ms);
        r.core = 44;
        return sampler::Outcome{};
    }));
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

} // namespace
