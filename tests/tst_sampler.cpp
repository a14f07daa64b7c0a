#include "testsupport.h"

#include "app/module1.h"
#include "popup/form1.h"
#include "sampler/nvml.h"
#include "sampler/thermal.h"
#include "toolkit/error.h"

#include <QApplication>
#include <QTest>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;
using testsupport::FakeNvml;
using testsupport::ManualClock;

namespace {

const QString kOldOnly = QStringLiteral(KELVANE_FAKE_NVML_DIR "/oldonly/libnvidia-ml.so.1");
const QString kNoHandle = QStringLiteral(KELVANE_FAKE_NVML_DIR "/nohandle/libnvidia-ml.so.1");
constexpr int kFail = 1 << 30; // in a script: the temperature call fails (GPU lost)

// A GPU whose driver answers only when the test lets it.
class GatedSource final : public sampler::Source {
public:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = true;
        bool waiting = false;
        int calls = 0;
        qint64 value = 50;

        bool blocked()
        {
            std::lock_guard lock(mutex);
            return waiting;
        }
        void release(qint64 next)
        {
            std::lock_guard lock(mutex);
            value = next;
            open = true;
            changed.notify_all();
        }
    };

    explicit GatedSource(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}

    sampler::Outcome read(unsigned, sampler::Reading& reading) override
    {
        std::unique_lock lock(m_gate->mutex);
        ++m_gate->calls;
        m_gate->waiting = true;
        m_gate->changed.notify_all();
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

// A driver whose every reading takes a while of the sampler's clock.
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

} // namespace

class SamplerTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
        ManualClock::install();
    }

    void init()
    {
        m_fake.reset();
        sampler::useSource(std::make_unique<sampler::NvmlSource>());
    }

    void cleanup() { tk::releaseInstances(); }

    void bindingReadsTheScriptedTemperatures_data()
    {
        QTest::addColumn<QString>("library");
        QTest::newRow("a library with the versioned temperature call")
            << QStringLiteral("libnvidia-ml.so.1");
        QTest::newRow("an older library with only the plain temperature call") << kOldOnly;
    }

    void bindingReadsTheScriptedTemperatures()
    {
        QFETCH(QString, library);
        FakeNvml fake(library);
        fake.script({40, 45, 43});
        sampler::NvmlSource source(library);
        QList<qint64> seen;
        for (int i = 0; i < 3; ++i) {
            sampler::Reading r;
            const sampler::Outcome outcome = source.read(0, r);
            QVERIFY2(outcome.ok(), qPrintable(outcome.detail));
            seen << r.core;
            QCOMPARE(r.upper, 90);
        }
        QCOMPARE(seen, (QList<qint64>{40, 45, 43}));
        const fakenvml_counts c = fake.counts();
        QCOMPARE(c.init, 1);
        QCOMPARE(c.temperatureV + c.temperature, 3);
        QCOMPARE(c.threshold, 1);
    }

    void ticksShowCurrentAndPeak_data()
    {
        QTest::addColumn<QList<qint64>>("script");
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<QStringList>("peak");
        QTest::newRow("the peak only rises")
            << QList<qint64>{40, 45, 43} << QStringList{"40°c", "45°c", "43°c"}
            << QStringList{"40°c", "45°c", "45°c"};
        QTest::newRow("a reading of 0 keeps the peak at 0")
            << QList<qint64>{0} << QStringList{"0°c"} << QStringList{"0°c"};
        QTest::newRow("a failure after a reading keeps the peak")
            << QList<qint64>{48, kFail, 47} << QStringList{"48°c", "--°c", "47°c"}
            << QStringList{"48°c", "48°c", "48°c"};
        QTest::newRow("NVML's all-ones and other absurd values are no reading")
            << QList<qint64>{4294967295, 2147483647, 1000, 52}
            << QStringList{"--°c", "--°c", "--°c", "52°c"}
            << QStringList{"--°c", "--°c", "--°c", "52°c"};
        QTest::newRow("-50 and 200 are plausible, 201 is not")
            << QList<qint64>{50, 201, 200} << QStringList{"50°c", "--°c", "200°c"}
            << QStringList{"50°c", "50°c", "200°c"};
    }

    void ticksShowCurrentAndPeak()
    {
        QFETCH(QList<qint64>, script);
        QFETCH(QStringList, current);
        QFETCH(QStringList, peak);
        std::vector<int> readings, results;
        for (qint64 v : script) {
            readings.push_back(v == kFail ? 0 : static_cast<int>(static_cast<quint32>(v)));
            results.push_back(v == kFail ? 15 : 0);
        }
        m_fake.script(readings, results);
        Form1->load();
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        for (qsizetype i = 0; i < script.size(); ++i) {
            testsupport::sampleOnce(Form1->Timer1.get());
            QCOMPARE(Form1->gputemp->caption(), current[i]);
            QCOMPARE(Form1->piquegputemp->caption(), peak[i]);
        }
        const QString tip = Form1->gputemp->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("Stand-in GPU via NVML")), qPrintable(tip));
    }

    void theLowestPlausibleValueIsShown()
    {
        class Cold final : public sampler::Source {
            sampler::Outcome read(unsigned, sampler::Reading& r) override
            {
                r.core = m_next--;
                return {};
            }
            qint64 m_next = -50;
        };
        sampler::useSource(std::make_unique<Cold>());
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("-50°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("0°c"));
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("--°c"));
        QVERIFY(Form1->gputemp->toolTip().contains(QStringLiteral("implausible value -51")));
    }

    void equalReadingLeavesPeakTextAlone()
    {
        m_fake.script({45, 45});
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        const QString before = Module1::peakText;
        const QChar* data = Module1::peakText.constData();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Module1::peakText, before);
        QCOMPARE(Module1::peakText.constData(), data); // not rewritten
    }

    void reloadRestartsThePeak()
    {
        m_fake.script({70, 50});
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("70°c"));
        Form1->unload();
        Form1->load();
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("50°c"));
    }

    void failedQueriesShowNoNumber_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("initResult");
        QTest::addColumn<int>("readResult");
        QTest::addColumn<int>("cause");
        QTest::addColumn<int>("raised"); // the error the query raises, 0 for none
        QTest::newRow("library missing")
            << QStringLiteral("libnvidia-ml-absent.so.1") << 0 << 0
            << int(sampler::Cause::LibraryMissing) << int(tk::Status::FileNotFound);
        QTest::newRow("function missing")
            << kNoHandle << 0 << 0 << int(sampler::Cause::FunctionMissing)
            << int(tk::Status::EntryPointNotFound);
        QTest::newRow("initialisation fails") << QStringLiteral("libnvidia-ml.so.1") << 9 << 0
                                              << int(sampler::Cause::InitFailed) << 0;
        QTest::newRow("the temperature call fails") << QStringLiteral("libnvidia-ml.so.1") << 0
                                                    << 15 << int(sampler::Cause::QueryFailed) << 0;
    }

    void failedQueriesShowNoNumber()
    {
        QFETCH(QString, library);
        QFETCH(int, initResult);
        QFETCH(int, readResult);
        QFETCH(int, cause);
        QFETCH(int, raised);
        m_fake.setInitResult(initResult);
        m_fake.script({60}, {readResult});
        sampler::useSource(std::make_unique<sampler::NvmlSource>(library));
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("--°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("--°c"));
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        QCOMPARE(int(sampler::lastOutcome().cause), cause);
        QVERIFY(!Form1->gputemp->toolTip().isEmpty());
        QVERIFY(!tk::failed());

        qint32 core = 0, ambient = 0, upper = 0;
        int status = 0;
        try {
            QVERIFY(sampler::latestThermalSettings(&core, &ambient, &upper) != 0);
        } catch (const tk::Error& e) {
            status = int(e.status());
        }
        QCOMPARE(status, raised);
    }

    void aSlowDriverNeverHoldsUpTheTick()
    {
        auto gate = std::make_shared<GatedSource::Gate>();
        sampler::useSource(std::make_unique<GatedSource>(gate));
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("50°c"));

        {
            std::lock_guard lock(gate->mutex);
            gate->open = false;
        }
        Form1->Timer1->tick();
        QTRY_VERIFY2(gate->blocked(), "the tick waited for the driver");
        ManualClock::advance(1900ms);
        Form1->Timer1->tick();
        Form1->Timer1->tick();
        QCOMPARE(gate->calls, 2); // never asked twice at once
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("50°c"));

        ManualClock::advance(100ms);
        Form1->Timer1->tick();
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("--°c"));
        QCOMPARE(Form1->gputemp->toolTip(), QStringLiteral("the GPU is not answering"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("50°c"));

        // It answers at last: shown at once, without waiting for a tick.
        gate->release(61);
        QTRY_COMPARE(Form1->gputemp->caption(), QStringLiteral("61°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("61°c"));
    }

    void quittingDoesNotWaitForAHungDriver()
    {
        auto gate = std::make_shared<GatedSource::Gate>();
        gate->open = false;
        sampler::useSource(std::make_unique<GatedSource>(gate));
        Form1->load();
        Form1->Timer1->tick();
        QTRY_VERIFY(gate->blocked());
        Form1->unload();
        sampler::shutdown();
        QVERIFY2(gate->blocked(), "shutdown waited for the hung reading");
        gate->release(50);
        QTRY_VERIFY(!sampler::readingInFlight());
    }

    void aSlowReadingIsFollowedByNineTimesItsLengthOfRest()
    {
        int calls = 0;
        sampler::useSource(std::make_unique<SlowSource>(&calls));
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("44°c"));
        ManualClock::advance(2699ms);
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(calls, 1);
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("44°c")); // the last value meanwhile
        ManualClock::advance(1ms);
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(calls, 2);
    }

    void samplingTimerTicksEveryHalfSecond()
    {
        m_fake.script({41});
        Form1->load();
        QCOMPARE(Form1->Timer1->interval(), 500);
        QVERIFY(Form1->Timer1->enabled());
        QTRY_COMPARE_WITH_TIMEOUT(Form1->gputemp->caption(), QStringLiteral("41°c"), 2000);
    }

private:
    FakeNvml m_fake;
};

QTEST_MAIN(SamplerTest)
#include "tst_sampler.moc"
