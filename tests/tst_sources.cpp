#include "testsupport.h"

#include "app/module1.h"
#include "popup/form1.h"
#include "sampler/hwmon.h"
#include "sampler/nvml.h"
#include "sampler/select.h"
#include "sampler/thermal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <limits>
#include <sys/stat.h>

using sampler::Cause;
using testsupport::FakeNvml;
using testsupport::ManualClock;

namespace {

// A sysfs tree of the test's own: PCI devices with their DRM cards, drivers,
// power state and hwmon sensors.
class FakeSysfs final {
public:
    FakeSysfs() { QVERIFY(m_dir.isValid()); }

    QString root() const { return m_dir.path(); }
    sampler::Sysfs sysfs() const { return sampler::Sysfs(root()); }

    QString device(const QString& pci) const
    {
        return m_dir.filePath(QStringLiteral("sys/devices/pci0000:00/") + pci);
    }

    void addCard(const QString& card, const QString& pci, quint32 vendor, const QString& driver,
                 const QString& power = QStringLiteral("active"),
                 const QString& control = QStringLiteral("auto"))
    {
        const QString dev = device(pci);
        QDir().mkpath(dev + QStringLiteral("/power"));
        write(dev + QStringLiteral("/vendor"),
              QStringLiteral("0x%1\n").arg(vendor, 4, 16, QLatin1Char('0')));
        const QString drivers = m_dir.filePath(QStringLiteral("sys/bus/pci/drivers/") + driver);
        QDir().mkpath(drivers);
        QFile::link(drivers, dev + QStringLiteral("/driver"));
        setPower(pci, power, control);
        const QString drm = m_dir.filePath(QStringLiteral("sys/class/drm/") + card);
        QDir().mkpath(drm);
        QFile::link(dev, drm + QStringLiteral("/device"));
    }

    void setPower(const QString& pci, const QString& status,
                  const QString& control = QStringLiteral("auto"))
    {
        write(device(pci) + QStringLiteral("/power/runtime_status"), status + QLatin1Char('\n'));
        write(device(pci) + QStringLiteral("/power/control"), control + QLatin1Char('\n'));
    }

    // Adds tempN_input (and _label, _crit where given) to a hwmon folder.
    QString addSensor(const QString& pci, const QString& hwmon, int n, const QString& input,
                      const QString& label = {}, const QString& crit = {})
    {
        const QString dir = device(pci) + QStringLiteral("/hwmon/") + hwmon;
        QDir().mkpath(dir);
        const QString base = dir + QStringLiteral("/temp%1").arg(n);
        write(base + QStringLiteral("_input"), input);
        if (!label.isEmpty())
            write(base + QStringLiteral("_label"), label + QLatin1Char('\n'));
        if (!crit.isEmpty())
            write(base + QStringLiteral("_crit"), crit);
        return base + QStringLiteral("_input");
    }

    static void write(const QString& path, const QString& content)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content.toLatin1());
    }

private:
    QTemporaryDir m_dir;
};

// In a table of file contents: the file gives no reading.
constexpr int kUnreadable = 1 << 30;

sampler::Outcome readOnce(sampler::Source& source, sampler::Reading& reading)
{
    return source.read(0, reading);
}

} // namespace

class SourcesTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
        ManualClock::install();
    }

    void init() { m_fake.reset(); }
    void cleanup() { tk::releaseInstances(); }

    void millidegreesRoundHalfAwayFromZero_data()
    {
        QTest::addColumn<qint64>("milli");
        QTest::addColumn<int>("degrees");
        QTest::newRow("a half rounds up") << qint64(45500) << 46;
        QTest::newRow("just under a half rounds down") << qint64(45499) << 45;
        QTest::newRow("zero") << qint64(0) << 0;
        QTest::newRow("a negative half rounds down") << qint64(-500) << -1;
        QTest::newRow("just under a negative half rounds up") << qint64(-499) << 0;
        QTest::newRow("the largest value stays in range")
            << std::numeric_limits<qint64>::max() << std::numeric_limits<qint32>::max();
    }

    void millidegreesRoundHalfAwayFromZero()
    {
        QFETCH(qint64, milli);
        QFETCH(int, degrees);
        QCOMPARE(sampler::roundMillidegrees(milli), degrees);
    }

    void theRightSourceWinsAndReads_data()
    {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<int>("core");
        QTest::addColumn<int>("upper");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("an AMD card reads its edge sensor")
            << "amd" << 46 << 100 << "AMD GPU 0000:03:00.0 via hwmon (edge)";
        QTest::newRow("an AMD APU without a critical limit")
            << "apu" << 38 << 0 << "AMD GPU 0000:05:00.0 via hwmon (edge)";
        QTest::newRow("nouveau reads temp1")
            << "nouveau" << 51 << 95 << "NVIDIA GPU 0000:01:00.0 via hwmon (temp1)";
        QTest::newRow("Intel xe reads its package sensor")
            << "xe" << 40 << 0 << "Intel GPU 0000:00:02.0 via hwmon (pkg)";
        QTest::newRow("an Intel card without a sensor gives way to the next card")
            << "i915+amd" << 46 << 100 << "AMD GPU 0000:03:00.0 via hwmon (edge)";
        QTest::newRow("two cards: the first in PCI order, not in card order")
            << "two-amd" << 33 << 100 << "AMD GPU 0000:03:00.0 via hwmon (edge)";
        QTest::newRow("NVIDIA on the vendor driver goes through NVML")
            << "nvidia" << 57 << 90 << "Stand-in GPU via NVML";
    }

    void theRightSourceWinsAndReads()
    {
        QFETCH(QString, machine);
        QFETCH(int, core);
        QFETCH(int, upper);
        QFETCH(QString, tooltip);
        FakeSysfs tree;
        const QString amd = QStringLiteral("0000:03:00.0");
        if (machine == "amd" || machine == "i915+amd" || machine == "two-amd") {
            tree.addCard("card1", amd, 0x1002, "amdgpu");
            tree.addSensor(amd, "hwmon4", 1, "45500\n", "edge", "100000\n");
            tree.addSensor(amd, "hwmon4", 2, "61000\n", "junction", "110000\n");
            if (machine == "two-amd") {
                FakeSysfs::write(tree.device(amd) + "/hwmon/hwmon4/temp1_input", "33000\n");
                tree.addCard("card0", "0000:0a:00.0", 0x1002, "amdgpu");
                tree.addSensor("0000:0a:00.0", "hwmon2", 1, "70000\n", "edge", "100000\n");
            }
            if (machine == "i915+amd")
                tree.addCard("card0", "0000:00:02.0", 0x8086, "i915");
        } else if (machine == "apu") {
            tree.addCard("card0", "0000:05:00.0", 0x1002, "amdgpu");
            tree.addSensor("0000:05:00.0", "hwmon1", 1, "38000", "edge");
        } else if (machine == "nouveau") {
            tree.addCard("card0", "0000:01:00.0", 0x10de, "nouveau");
            tree.addSensor("0000:01:00.0", "hwmon0", 1, "51200\n", {}, "95000\n");
        } else if (machine == "xe") {
            tree.addCard("card0", "0000:00:02.0", 0x8086, "xe");
            tree.addSensor("0000:00:02.0", "hwmon3", 2, "40400\n", "pkg");
            tree.addSensor("0000:00:02.0", "hwmon3", 3, "52000\n", "vram");
        } else if (machine == "nvidia") {
            tree.addCard("card0", "0000:01:00.0", 0x10de, "nvidia");
            m_fake.script({57});
        }
        auto source = sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml.so.1"));
        sampler::Reading r;
        const sampler::Outcome outcome = readOnce(*source, r);
        QVERIFY2(outcome.ok(), qPrintable(outcome.detail));
        QCOMPARE(r.core, core);
        QCOMPARE(r.upper, upper);
        QVERIFY2(outcome.detail.contains(tooltip), qPrintable(outcome.detail));
        if (machine == "nvidia")
            QCOMPARE(QByteArray(fakenvml_last_bus_id_ptr()), QByteArray("0000:01:00.0"));
    }

    void cardsThatCannotBeReadSayWhy_data()
    {
        QTest::addColumn<quint32>("vendor");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("why");
        QTest::newRow("an Intel card without a sensor") << 0x8086u << "i915"
                                                        << "";
        QTest::newRow("an NVIDIA card without its library")
            << 0x10deu << "nvidia"
            << "libnvidia-ml-absent.so.1 was not found";
    }

    void cardsThatCannotBeReadSayWhy()
    {
        QFETCH(quint32, vendor);
        QFETCH(QString, driver);
        QFETCH(QString, why);
        FakeSysfs tree;
        tree.addCard("card0", "0000:01:00.0", vendor, driver);
        auto source =
            sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml-absent.so.1"));
        sampler::Reading r;
        const sampler::Outcome outcome = readOnce(*source, r);
        QCOMPARE(outcome.cause, Cause::NoDevice);
        QVERIFY2(!outcome.detail.isEmpty() && outcome.detail.contains(why),
                 qPrintable(outcome.detail));
    }

    void aSuspendedNvidiaGpuGetsNoCallAtAll()
    {
        FakeSysfs tree;
        const QString pci = QStringLiteral("0000:01:00.0");
        tree.addCard("card0", pci, 0x10de, "nvidia", "suspended");
        m_fake.script({60, 61});
        auto source = sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml.so.1"));
        sampler::Reading r;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(readOnce(*source, r).cause, Cause::Asleep);
        fakenvml_counts c = m_fake.counts();
        QCOMPARE(c.init, 0);
        QCOMPARE(c.handle, 0);
        QCOMPARE(c.temperature + c.temperatureV, 0);

        // Awake and managed by the kernel: NVML is let go after every read.
        tree.setPower(pci, QStringLiteral("active"), QStringLiteral("auto"));
        QVERIFY(readOnce(*source, r).ok());
        QCOMPARE(r.core, 60);
        QVERIFY(readOnce(*source, r).ok());
        QCOMPARE(r.core, 61);
        c = m_fake.counts();
        QCOMPARE(c.init, 2);
        QCOMPARE(c.shutdown, 2);

        // Kept on by the user: NVML stays open between reads.
        tree.setPower(pci, QStringLiteral("active"), QStringLiteral("on"));
        QVERIFY(readOnce(*source, r).ok());
        QVERIFY(readOnce(*source, r).ok());
        c = m_fake.counts();
        QCOMPARE(c.init, 3);
        QCOMPARE(c.shutdown, 2);

        // Going to sleep releases it too.
        tree.setPower(pci, QStringLiteral("suspended"), QStringLiteral("on"));
        QCOMPARE(readOnce(*source, r).cause, Cause::Asleep);
        QCOMPARE(m_fake.counts().shutdown, 3);
    }

    void aSuspendedCardsTemperatureFileIsNeverRead()
    {
        FakeSysfs tree;
        const QString pci = QStringLiteral("0000:03:00.0");
        tree.addCard("card0", pci, 0x1002, "amdgpu", "suspended");
        const QString input = tree.addSensor(pci, "hwmon4", 1, "45000\n", "edge", "100000\n");
        sampler::Sysfs sysfs = tree.sysfs();
        QStringList reads;
        sysfs.setReadObserver([&reads](const QString& path) { reads << path; });
        auto source = sampler::chooseSource(sysfs, QStringLiteral("libnvidia-ml.so.1"));
        sampler::Reading r;
        QCOMPARE(readOnce(*source, r).cause, Cause::Asleep);
        QCOMPARE(readOnce(*source, r).cause, Cause::Asleep);
        QVERIFY(!reads.contains(QFileInfo(input).canonicalFilePath()));
        QVERIFY(!reads.contains(input));
        QVERIFY(std::none_of(reads.cbegin(), reads.cend(),
                             [](const QString& p) { return p.endsWith("temp1_input"); }));

        tree.setPower(pci, QStringLiteral("active"));
        QVERIFY(readOnce(*source, r).ok());
        QCOMPARE(r.core, 45);
    }

    void sensorFilesHoldPlainDecimals_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("degrees");
        QTest::newRow("below zero keeps its sign") << "-5000\n" << -5;
        QTest::newRow("an explicit plus") << "+41000\n" << 41;
        QTest::newRow("no newline") << "38000" << 38;
        QTest::newRow("an empty file") << "" << kUnreadable;
        QTest::newRow("only a newline") << "\n" << kUnreadable;
        QTest::newRow("words") << "hot\n" << kUnreadable;
        QTest::newRow("a number with junk after it") << "45000abc\n" << kUnreadable;
        QTest::newRow("an overlong value") << QString(200, QLatin1Char('9')) << kUnreadable;
        QTest::newRow("an absurd temperature") << "999999999999\n" << kUnreadable;
        QTest::newRow("a leading zero, which is not octal") << "045000\n" << kUnreadable;
        QTest::newRow("hexadecimal") << "0xafc8\n" << kUnreadable;
        QTest::newRow("blanks around the number") << " 45000 \n" << kUnreadable;
    }

    void sensorFilesHoldPlainDecimals()
    {
        QFETCH(QString, content);
        QFETCH(int, degrees);
        FakeSysfs tree;
        const QString pci = QStringLiteral("0000:03:00.0");
        tree.addCard("card0", pci, 0x1002, "amdgpu");
        const QString input = tree.addSensor(pci, "hwmon4", 1, "45000\n", "edge");
        auto source = sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml.so.1"));
        FakeSysfs::write(input, content);
        sampler::Reading r{-7, -7};
        const sampler::Outcome outcome = readOnce(*source, r);
        if (degrees == kUnreadable) {
            QCOMPARE(outcome.cause, Cause::Unreadable);
            QCOMPARE(r.core, -7);
            // A good value afterwards is read again.
            FakeSysfs::write(input, QStringLiteral("47000\n"));
            QVERIFY(readOnce(*source, r).ok());
            QCOMPARE(r.core, 47);
        } else {
            QVERIFY2(outcome.ok(), qPrintable(outcome.detail));
            QCOMPARE(r.core, degrees);
        }
    }

    void aFifoWhereTheSensorShouldBeNeverBlocks()
    {
        FakeSysfs tree;
        const QString pci = QStringLiteral("0000:03:00.0");
        tree.addCard("card0", pci, 0x1002, "amdgpu");
        const QString input = tree.addSensor(pci, "hwmon4", 1, "45000\n", "edge");
        auto source = sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml.so.1"));
        QVERIFY(QFile::remove(input));
        QCOMPARE(::mkfifo(QFile::encodeName(input).constData(), 0600), 0);

        // Read on a thread of its own: a read that blocks on the FIFO fails
        // the test instead of hanging it, and is set free by a writer.
        sampler::Outcome outcome;
        std::unique_ptr<QThread> reader(QThread::create([&] {
            sampler::Reading r;
            outcome = readOnce(*source, r);
        }));
        reader->start();
        const bool finished = reader->wait(QDeadlineTimer(5000));
        if (!finished) {
            QFile writer(input);
            if (writer.open(QIODevice::WriteOnly))
                writer.write("0\n");
            reader->wait();
        }
        QVERIFY2(finished, "reading a FIFO blocked");
        QCOMPARE(outcome.cause, Cause::Unreadable);
    }

    void aVanishedCardIsReadAgainWhenItComesBack()
    {
        FakeSysfs tree;
        const QString pci = QStringLiteral("0000:03:00.0");
        tree.addCard("card0", pci, 0x1002, "amdgpu");
        tree.addSensor(pci, "hwmon4", 1, "45000\n", "edge");
        auto source = sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml.so.1"));
        sampler::Reading r;
        QVERIFY(readOnce(*source, r).ok());

        QVERIFY(QDir(tree.device(pci) + "/hwmon").removeRecursively());
        QCOMPARE(readOnce(*source, r).cause, Cause::Unreadable);
        QCOMPARE(readOnce(*source, r).cause, Cause::NoDevice);

        // Back after a reset, under a new hwmon number.
        tree.addSensor(pci, "hwmon9", 1, "52000\n", "edge");
        QVERIFY(readOnce(*source, r).ok());
        QCOMPARE(r.core, 52);
    }

    void nvmlErrorsGiveNoNumberAndALostGpuIsReadAgain_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("lookups");
        QTest::newRow("not supported: the handle is kept") << 3 << 1;
        QTest::newRow("no permission: the handle is kept") << 4 << 1;
        QTest::newRow("GPU is lost: looked up again") << 15 << 2;
    }

    void nvmlErrorsGiveNoNumberAndALostGpuIsReadAgain()
    {
        QFETCH(int, error);
        QFETCH(int, lookups);
        m_fake.script({50, 0, 52}, {0, error, 0});
        sampler::NvmlSource source(QStringLiteral("libnvidia-ml.so.1"));
        sampler::Reading r;
        QVERIFY(source.read(0, r).ok());
        const sampler::Outcome failed = source.read(0, r);
        QCOMPARE(failed.cause, Cause::QueryFailed);
        QCOMPARE(r.core, 50);
        QVERIFY(source.read(0, r).ok());
        QCOMPARE(r.core, 52);
        QCOMPARE(m_fake.counts().handle, lookups);
    }

    void anAsleepGpuShowsNoNumberAndKeepsThePeak()
    {
        FakeSysfs tree;
        const QString pci = QStringLiteral("0000:01:00.0");
        tree.addCard("card0", pci, 0x10de, "nvidia");
        m_fake.script({64});
        sampler::useSource(
            sampler::chooseSource(tree.sysfs(), QStringLiteral("libnvidia-ml.so.1")));
        Form1->load();
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("64°c"));
        tree.setPower(pci, QStringLiteral("suspended"));
        testsupport::sampleOnce(Form1->Timer1.get());
        QCOMPARE(Form1->gputemp->caption(), QStringLiteral("--°c"));
        QVERIFY(Form1->gputemp->toolTip().contains(QStringLiteral("asleep")));
        QCOMPARE(Form1->piquegputemp->caption(), QStringLiteral("64°c"));
        QCOMPARE(Module1::peakText, QStringLiteral("64"));
    }

private:
    static const char* fakenvml_last_bus_id_ptr()
    {
        static QLibrary lib(QStringLiteral("libnvidia-ml.so.1"));
        auto fn = reinterpret_cast<const char* (*)()>(lib.resolve("fakenvml_last_bus_id"));
        return fn ? fn() : "";
    }

    FakeNvml m_fake;
};

QTEST_MAIN(SourcesTest)
#include "tst_sources.moc"
