#include "support/support.h"

#include "popup/form1.h"
#include "sampler/nvml.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"

#include <atomic>
#include <future>
#include <iterator>
#include <sstream>
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

// A row's words, one per reading: a temperature, "eN" for NVML's error N, or
// "blank" for a success that writes nothing.
std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST_F(Sampler, ticksShowCurrentAndPeakOrNoNumberAndWhy)
{
    const struct {
        const char* row;
        const char* readings;
        const char* current; // as shown, without the "°c"
        const char* peak;
        std::string tip = {};           // after the last reading, where it matters
        const char* libraries = "full"; // the stand-in's builds, or "absent"
        int initResult = 0;
        Cause cause = Cause::None; // of the last reading
        tk::Status raised = {};    // by the query, where it raises
        int newerResult = 0;       // the newer temperature call's refusal
    } rows[] = {
        {"the peak only rises, and a failure keeps it", "40 45 43 e15 44", "40 45 43 -- 44",
         "40 45 45 45 45"},
        {"a reading of 0 keeps the peak at 0", "0", "0", "0"},
        {"absurd values are no reading", "3000000000 2147483647 1000 52", "-- -- -- 52",
         "-- -- -- 52"},
        {"a success that writes nothing is no reading, before a reading and after one",
         "blank 47 blank", "-- 47 --", "-- 47 47",
         "Stand-in GPU: no temperature (the driver gave no value)", "full oldonly", 0,
         Cause::QueryFailed},
        {"through the signed call below freezing shows as it is, down to -50, under a peak of 0",
         "-5 -50 -1 -51", "-5 -50 -1 --", "0 0 0 0",
         "implausible value -51 from Stand-in GPU via NVML", "full", 0, Cause::Implausible},
        {"through the unsigned call 200 is plausible, and 201 and all ones (\"not available\") "
         "are no reading, never -1",
         "200 201 -1", "200 -- --", "200 200 200",
         "implausible value 4294967295 from Stand-in GPU via NVML", "oldonly", 0,
         Cause::Implausible},
        {"library missing", "60", "--", "--", "", "absent", 0, Cause::LibraryMissing,
         tk::Status::FileNotFound},
        {"function missing", "60", "--", "--", "", "nohandle", 0, Cause::FunctionMissing,
         tk::Status::EntryPointNotFound},
        {"initialisation fails", "60", "--", "--", "", "full", 9, Cause::InitFailed},
        {"the temperature call fails", "e15", "--", "--", "", "full", 0, Cause::QueryFailed},
        {"NVML that has lost its state (error 1) is started again at the next reading", "40 e1 43",
         "40 -- 43", "40 40 43", "Stand-in GPU via NVML", "full oldonly"},
        {"a newer call that wants another structure version (25) gives way to the older one",
         "52 53", "52 53", "52 53", "Stand-in GPU via NVML", "full", 0, Cause::None, tk::Status{},
         25},
        {"... and one that takes it from no GPU (3)", "52", "52", "52", "Stand-in GPU via NVML",
         "full", 0, Cause::None, tk::Status{}, 3},
    };
    for (const auto& row : rows) {
        for (const std::string& build : words(row.libraries)) {
            SCOPED_TRACE(build + ": " + row.row);
            const std::string library = build == "full"     ? kNvml
                                        : build == "absent" ? "libnvidia-ml-absent.so.1"
                                                            : support::fakeNvml(build);
            FakeNvml fake(build == "absent" ? kNvml : library);
            fake.setResults(row.initResult, row.newerResult);
            std::vector<int> readings, results;
            for (const std::string& word : words(row.readings)) {
                const bool error = word[0] == 'e';
                readings.push_back(error || word == "blank" ? 0 : int(std::stoll(word)));
                results.push_back(error             ? std::stoi(word.substr(1))
                                  : word == "blank" ? FAKENVML_UNWRITTEN
                                                    : 0);
            }
            fake.script(readings, results);
            sampler::useSource(std::make_unique<sampler::NvmlSource>(library));
            Form1->load();
            const auto current = words(row.current), peak = words(row.peak);
            for (std::size_t i = 0; i < readings.size(); ++i) {
                sample();
                EXPECT_EQ(Form1->gputemp->caption(), current[i] + "°c") << "reading " << i;
                EXPECT_EQ(Form1->piquegputemp->caption(), peak[i] + "°c") << "reading " << i;
            }
            EXPECT_EQ(sampler::lastOutcome().cause, row.cause);
            if (row.tip.empty())
                EXPECT_FALSE(Form1->gputemp->tip().empty());
            else
                EXPECT_EQ(Form1->gputemp->tip(), row.tip);
            EXPECT_FALSE(tk::failed());
            tk::Status raised = {};
            try {
                std::int32_t core = 0, ambient = 0, upper = 0;
                sampler::latestThermalSettings(&core, &ambient, &upper);
            } catch (const tk::Error& e) {
                raised = e.status();
            }
            EXPECT_EQ(raised, row.raised);
            tk::releaseInstances();
        }
    }
}

TEST_F(Sampler, aSlowDriverNeverHoldsUpTheTickAndIsLeftAloneNineTimesAsLong)
{
    // After its first reading the driver answers only once the test lets it;
    // bounded, so that a sampler that waits for it fails instead of hanging.
    auto answer = std::make_shared<std::promise<void>>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    sampler::useSource(std::make_unique<ScriptedSource>(
        [calls, answered = answer->get_future().share()](int call, sampler::Reading& r) {
            ++*calls;
            if (call > 0)
                answered.wait_for(5s);
            r.core = call == 0 ? 50 : 61;
            return sampler::Outcome{};
        }));
    Form1->load();
    sample();
    EXPECT_EQ(Form1->gputemp->caption(), "50°c");

    Form1->Timer1->tick();
    ASSERT_TRUE(waitUntil([&] { return *calls == 2; })) << "the tick waited for the driver";
    ManualClock::advance(1900ms);
    Form1->Timer1->tick();
    Form1->Timer1->tick();
    EXPECT_EQ(*calls, 2); // never asked twice at once
    EXPECT_EQ(Form1->gputemp->caption(), "50°c");

    ManualClock::advance(100ms);
    Form1->Timer1->tick();
    EXPECT_EQ(Form1->gputemp->caption(), "--°c");
    EXPECT_EQ(Form1->gputemp->tip(), "the GPU is not answering");
    EXPECT_EQ(Form1->piquegputemp->caption(), "50°c");

    // It answers at last: shown at once, without waiting for a tick.
    answer->set_value();
    EXPECT_TRUE(waitUntil([] { return Form1->gputemp->caption() == "61°c"; }));
    EXPECT_EQ(Form1->piquegputemp->caption(), "61°c");

    // That reading took 2 s: the driver is left alone for 18 s after it.
    ManualClock::advance(17999ms);
    sample();
    EXPECT_EQ(*calls, 2);
    ManualClock::advance(1ms);
    sample();
    EXPECT_EQ(*calls, 3);
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
