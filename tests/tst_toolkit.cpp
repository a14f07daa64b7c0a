#include "testsupport.h"

#include "toolkit/error.h"
#include "toolkit/form.h"
#include "toolkit/screen.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <limits>

namespace {

QStringList events;

// A form of the test's own, to exercise the layer without the program's.
class Probe final : public tk::Form {
public:
    Probe() : tk::Form(design()) { setObjectName(QStringLiteral("Probe")); }

    tk::Ref<tk::Label> label;

protected:
    void build(tk::FormWindow& w) override
    {
        label =
            new tk::Label(&w, QStringLiteral("label"), QStringLiteral("x"), {150, 300, 750, 255});
    }
    void onLoad() override { events << QStringLiteral("load"); }
    void onUnload() override { events << QStringLiteral("unload"); }
    void onTerminate() override { events << QStringLiteral("terminate"); }

private:
    static tk::Design design()
    {
        tk::Design d;
        d.border = tk::Border::None;
        d.placement = tk::Placement::Stored;
        d.left = 1500;
        d.top = 1500;
        d.clientWidth = 1500;
        d.clientHeight = 1500;
        return d;
    }
};

tk::Global<Probe> probe;

} // namespace

class ToolkitTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
    }

    void cleanup() { tk::releaseInstances(); }

    void screenIsMeasuredInTwips()
    {
        QCOMPARE(tk::screen().twipsPerPixelX(), 15.0f);
        QCOMPARE(tk::screen().width(), 14400.0f);
        QCOMPARE(tk::screen().height(), 10800.0f);
    }

    void positionsReadBackExactlyAndSitAtTheNearestPixel_data()
    {
        QTest::addColumn<float>("twips");
        QTest::addColumn<int>("pixel");
        QTest::newRow("a whole pixel") << 9135.0f << 609;
        QTest::newRow("a third of a pixel rounds down") << 10835.0f << 722;
        QTest::newRow("two thirds of a pixel rounds up") << 9115.0f << 608;
        QTest::newRow("below the screen") << 10820.5f << 721;
        QTest::newRow("above the screen") << -37.0f << -2;
    }

    void positionsReadBackExactlyAndSitAtTheNearestPixel()
    {
        QFETCH(float, twips);
        QFETCH(int, pixel);
        probe->show();
        probe->setTop(twips);
        probe->setLeft(twips);
        QCOMPARE(probe->top(), twips);
        QCOMPARE(probe->left(), twips);
        QCOMPARE(probe->window().pos(), QPoint(pixel, pixel));
    }

    void positionMovedByTheUserReadsAsPixels()
    {
        probe->show();
        probe->setTop(1507);
        probe->window().move(200, 300);
        QCOMPARE(probe->top(), 4500.0f);
        QCOMPARE(probe->left(), 3000.0f);
    }

    void nonFiniteTwipsRaise_data()
    {
        QTest::addColumn<float>("value");
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity();
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN();
    }

    void nonFiniteTwipsRaise()
    {
        QFETCH(float, value);
        probe->show();
        QVERIFY_THROWS_EXCEPTION(tk::Error, probe->setTop(value));
        QCOMPARE(probe->top(), 1500.0f);
    }

    void loadUnloadAndTerminateEventsComeInOrder()
    {
        events.clear();
        probe->load();
        probe->load();
        probe->unload();
        probe->unload();
        probe->show();
        QCOMPARE(events, (QStringList{"load", "unload", "load"}));
        tk::releaseInstances();
        QCOMPARE(events, (QStringList{"load", "unload", "load", "unload", "terminate"}));
        QVERIFY(!probe.exists());
    }

    void controlsOfAnUnloadedFormRaise()
    {
        probe->load();
        probe->unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        try {
            probe->label->setCaption(QStringLiteral("y"));
            QFAIL("expected an error");
        } catch (const tk::Error& e) {
            QCOMPARE(e.status(), tk::Status::ObjectUnloaded);
        }
    }

    void resumeNextRunsEveryStatement()
    {
        tk::ResumeNext next;
        QStringList ran;
        next([&] {
            ran << "a";
            throw tk::Error(tk::Status::Overflow, QStringLiteral("x"));
        });
        next([&] { ran << "b"; });
        next([&] { tk::toDouble(QStringLiteral("not a number")); });
        QCOMPARE(ran, (QStringList{"a", "b"}));
        QCOMPARE(next.errors(), 2);
    }

    void lastUnloadEndsTheEventLoop()
    {
        probe->show();
        QTimer::singleShot(0, [] { probe->window().close(); });
        QCOMPARE(tk::exec(), 0);
        QVERIFY(!probe->isLoaded());
    }
};

QTEST_MAIN(ToolkitTest)
#include "tst_toolkit.moc"
