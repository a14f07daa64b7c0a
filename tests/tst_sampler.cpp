#include "testsupport.h"

#include "app/module1.h"
#include "popup/form1.h"
#include "sampler/nvml.h"
#include "sampler/thermal.h"
#include "toolkit/error.h"

#include <QApplication>
#include <QTest>

using testsupport::FakeNvml;

namespace {

const QString kOldOnly = QStringLiteral(KELVANE_FAKE_NVML_DIR "/oldonly/libnvidia-ml.so.1");
const QString kNoHandle = QStringLiteral(KELVANE_FAKE_NVML_DIR "/nohandle/libnvidia-ml.so.1");

} // namespace

class SamplerTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
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
        QList<int> seen;
        for (int i = 0; i < 3; ++i) {
            sampler::Reading r;
            const sampler::Outcome outcome = source.read(0, r);
            QVERIFY2(outcome.ok(), qPrintable(outcome.detail));
            seen << r.core;
            QCOMPARE(r.upper, 90);
        }
        QCOMPARE(seen, (QList<int>{40, 45, 43}));
        const fakenvml_counts c = fake.counts();
        QCOMPARE(c.init, 1);
        QCOMPARE(c.temperatureV + c.temperature, 3);
        QCOMPARE(c.threshold, 1);
    }

    void bindingReportsEachFailure_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("initResult");
        QTest::addColumn<int>("readResult");
        QTest::addColumn<int>("cause");
        QTest::newRow("no library on the machine") << QStringLiteral("libnvidia-ml-absent.so.1")
                                                   << 0 << 0 << int(sampler::Cause::LibraryMissing);
        QTest::newRow("a library without the device lookup")
            << kNoHandle << 0 << 0 << int(sampler::Cause::FunctionMissing);
        QTest::newRow("the driver is not loaded")
            << QStringLiteral("libnvidia-ml.so.1") << 9 << 0 << int(sampler::Cause::InitFailed);
        QTest::newRow("the GPU is lost")
            << QStringLiteral("libnvidia-ml.so.1") << 0 << 15 << int(sampler::Cause::QueryFailed);
        QTest::newRow("the sensor is not supported")
            << QStringLiteral("libnvidia-ml.so.1") << 0 << 3 << int(sampler::Cause::QueryFailed);
    }

    void bindingReportsEachFailure()
    {
        QFETCH(QString, library);
        QFETCH(int, initResult);
        QFETCH(int, readResult);
        QFETCH(int, cause);
        m_fake.setInitResult(initResult);
        m_fake.script({55}, {readResult});
        sampler::NvmlSource source(library);
        sampler::Reading r{-7, -7};
        const sampler::Outcome outcome = source.read(0, r);
        QCOMPARE(int(outcome.cause), cause);
        QVERIFY(!outcome.detail.isEmpty());
        QCOMPARE(r.core, -7); // nothing made up
    }

    void queryRaisesForMissingLibraryAndFunction_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("status");
        QTest::newRow("missing library")
            << QStringLiteral("libnvidia-ml-absent.so.1") << int(tk::Status::FileNotFound);
        QTest::newRow("missing function") << kNoHandle << int(tk::Status::EntryPointNotFound);
    }

    void queryRaisesForMissingLibraryAndFunction()
    {
        QFETCH(QString, library);
        QFETCH(int, status);
        sampler::useSource(std::make_unique<sampler::NvmlSource>(library));
        qint32 core = 0, ambient = 0, upper = 0;
        try {
            sampler::NvCplGetThermalSettings(0, &core, &ambient, &upper);
            QFAIL("expected an error");
        } catch (const tk::Error& e) {
            QCOMPARE(int(e.status()), status);
        }
    }

    void ticksShowCurrentAndPeak()
    {
        m_fake.script({40, 45, 43});
        Form1->load();
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        const QStringList expectedCurrent{"40°c", "45°c", "43°c"};
        const QStringList expectedPeak{"40°c", "45°c", "45°c"};
        for (int i = 0; i < 3; ++i) {
            runTick();
            QCOMPARE(Form1->gputemp->caption(), expectedCurrent[i]);
            QCOMPARE(Form1->piquegputemp->caption(), expectedPeak[i]);
        }
        QVERIFY(Form1->gputemp->toolTip().contains(QStringLiteral("Stand-in GPU via NVML")));
    }

    void equalReadingLeavesPeakTextAlone()
    {
        m_fake.script({45, 45});
        Form1->load();
        runTick();
        const QString before = Module1::peakText;
        const QChar* data = Module1::peakText.constData();
        runTick();
        QCOMPARE(Module1::peakText, before);
        QCOMPARE(Module1::peakText.constData(), data); // not rewritten
    }

    void zeroReadingKeepsPeakZero()
    {
        m_fake.script({0});
        Form1->load();
        runTick();
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("0°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("0°c"));
    }

    void negativeReadingKeepsItsSign()
    {
        m_fake.script({-5});
        Form1->load();
        runTick();
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("-5°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("0°c"));
    }

    void reloadRestartsThePeak()
    {
        m_fake.script({70, 50});
        Form1->load();
        runTick();
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("70°c"));
        Form1->unload();
        Form1->load();
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        runTick();
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("50°c"));
    }

    void failedQueriesShowNoNumber_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("initResult");
        QTest::addColumn<int>("readResult");
        QTest::newRow("library missing") << QStringLiteral("libnvidia-ml-absent.so.1") << 0 << 0;
        QTest::newRow("function missing") << kNoHandle << 0 << 0;
        QTest::newRow("initialisation fails") << QStringLiteral("libnvidia-ml.so.1") << 9 << 0;
        QTest::newRow("the temperature call fails")
            << QStringLiteral("libnvidia-ml.so.1") << 0 << 15;
    }

    void failedQueriesShowNoNumber()
    {
        QFETCH(QString, library);
        QFETCH(int, initResult);
        QFETCH(int, readResult);
        m_fake.setInitResult(initResult);
        m_fake.script({60}, {readResult});
        sampler::useSource(std::make_unique<sampler::NvmlSource>(library));
        Form1->load();
        runTick();
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("--°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("--°c"));
        QCOMPARE(Module1::peakText, QStringLiteral("0"));
        QVERIFY(!Form1->gputemp->toolTip().isEmpty());
        QVERIFY(!tk::failed());
    }

    void failureAfterAReadingKeepsThePeak()
    {
        m_fake.script({48, 0, 47}, {0, 15, 0});
        Form1->load();
        runTick();
        runTick();
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("--°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("48°c"));
        runTick();
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("47°c"));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("48°c"));
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
    static void runTick() { Form1->Timer1->tick(); }

    FakeNvml m_fake;
};

QTEST_MAIN(SamplerTest)
#include "tst_sampler.moc"
