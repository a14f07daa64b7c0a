#include "testsupport.h"

#include "about/frmabout.h"
#include "popup/form1.h"
#include "sampler/thermal.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#include <QApplication>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <qpa/qplatformnativeinterface.h>

namespace {

// Gives the offscreen platform's only screen a new size in pixels.
bool resizeScreen(int width, int height)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    using Getter = QJsonObject (*)(QPlatformNativeInterface*);
    using Setter = void (*)(const QJsonObject&, QPlatformNativeInterface*);
    auto get = reinterpret_cast<Getter>(native->nativeResourceForIntegration("configuration"));
    auto set = reinterpret_cast<Setter>(native->nativeResourceForIntegration("setConfiguration"));
    if (!get || !set)
        return false;
    QJsonObject config = get(native);
    QJsonArray screens = config.value(QStringLiteral("screens")).toArray();
    QJsonObject screen = screens.at(0).toObject();
    screen.insert(QStringLiteral("width"), width);
    screen.insert(QStringLiteral("height"), height);
    screens.replace(0, screen);
    config.insert(QStringLiteral("screens"), screens);
    set(config, native);
    return QGuiApplication::primaryScreen()->geometry().size() == QSize(width, height);
}

QRect pixels(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace

class PopupTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
        QCOMPARE(tk::screen().twipsPerPixelX(), 15.0f);
        QCOMPARE(tk::screen().width(), 14400.0f);
        QCOMPARE(tk::screen().height(), 10800.0f);
    }

    void init() { Form1->show(); }
    void cleanup() { tk::releaseInstances(); }

    void loadPlacesThePopupAtTheBottomRightCorner()
    {
        QCOMPARE(Form1->width(), 2775.0f);
        QCOMPARE(Form1->height(), 1215.0f);
        QCOMPARE(Form1->left(), 11625.0f);
        QCOMPARE(Form1->top(), 9135.0f);
        QCOMPARE(popup::Form1::restingTop(), 9135.0f);
        QCOMPARE(Form1->window().pos(), QPoint(775, 609));
        QCOMPARE(Form1->window().size(), QSize(185, 81));
    }

    void hideTakes85TicksAndShowTakes86()
    {
        Form1->slideDown();
        Form1->Timer3->tick();
        QCOMPARE(Form1->top(), 9155.0f);
        Form1->Timer3->tick();
        QCOMPARE(Form1->top(), 9175.0f);
        QCOMPARE(testsupport::runUntilStopped(Form1->Timer3.get()), 83);
        QCOMPARE(Form1->top(), 10835.0f);
        QCOMPARE(Form1->window().y(), 722);

        Form1->slideUp();
        Form1->Timer2->tick();
        QCOMPARE(Form1->top(), 10815.0f);
        QCOMPARE(testsupport::runUntilStopped(Form1->Timer2.get()), 85);
        QCOMPARE(Form1->top(), 9115.0f);
        QCOMPARE(Form1->window().y(), 608);
        QVERIFY(!Form1->Timer2->enabled());
        QVERIFY(!Form1->Timer3->enabled());
    }

    void slideUpAtRestMovesOneStepEachTime()
    {
        for (float expected : {9115.0f, 9095.0f}) {
            Form1->slideUp();
            QCOMPARE(testsupport::runUntilStopped(Form1->Timer2.get()), 1);
            QCOMPARE(Form1->top(), expected);
        }
    }

    void hideDuringSlideUpReversesIt()
    {
        Form1->slideDown();
        testsupport::runUntilStopped(Form1->Timer3.get());
        Form1->slideUp();
        for (int i = 0; i < 30; ++i)
            Form1->Timer2->tick();
        QCOMPARE(Form1->top(), 10235.0f);

        // "Masqué" while the popup is on its way up.
        QTest::mouseClick(&Form1->Label7.get(), Qt::LeftButton);
        QVERIFY(!Form1->Timer2->enabled());
        QVERIFY(Form1->Timer3->enabled());
        testsupport::runUntilStopped(Form1->Timer3.get());
        QVERIFY(Form1->top() >= tk::screen().height());
        QVERIFY(!Form1->Timer2->enabled());
    }

    void slidesRunOnTheirOwnOneMillisecondTimers()
    {
        QCOMPARE(Form1->Timer2->interval(), 1);
        QCOMPARE(Form1->Timer3->interval(), 1);
        QTest::mouseClick(&Form1->Label7.get(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!Form1->Timer3->enabled(), 5000);
        QCOMPARE(Form1->top(), 10835.0f);
        Form1->slideUp();
        QTRY_VERIFY_WITH_TIMEOUT(!Form1->Timer2->enabled(), 5000);
        QCOMPARE(Form1->top(), 9115.0f);
    }

    void screenSizeChangeMovesTheStopsOnTheNextTick()
    {
        Form1->slideDown();
        Form1->Timer3->tick();
        QCOMPARE(Form1->top(), 9155.0f);
        // A smaller screen: the bottom edge is now at 9000 twips.
        QVERIFY(resizeScreen(960, 600));
        QCOMPARE(popup::Form1::restingTop(), 7335.0f);
        Form1->Timer3->tick();
        QVERIFY(!Form1->Timer3->enabled());
        QCOMPARE(Form1->top(), 9175.0f);

        Form1->slideUp();
        QCOMPARE(testsupport::runUntilStopped(Form1->Timer2.get()), 93);
        QCOMPARE(Form1->top(), 7315.0f);
        QVERIFY(resizeScreen(960, 720));
    }

    void controlsFollowTheDesign_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("the current temperature") << "gputemp"
                                                 << "xxx°c" << pixels(1680, 120, 735, 255);
        QTest::newRow("the peak temperature") << "piquegputemp"
                                              << "xxx°c" << pixels(2160, 360, 495, 255);
        QTest::newRow("the peak caption")
            << "Label2"
            << "Pique GPU Temperature :" << pixels(240, 360, 1935, 255);
        QTest::newRow("the current caption") << "Label4"
                                             << "GPU Temperature :" << pixels(240, 120, 1455, 255);
        QTest::newRow("the credit label") << "Label6"
                                          << "Quillip2007" << pixels(120, 840, 855, 255);
        QTest::newRow("the quit label") << "Label5"
                                        << "Quitter" << pixels(1920, 840, 735, 255);
        QTest::newRow("the hide label") << "Label7"
                                        << "Masqué" << pixels(1080, 840, 735, 255);
        QTest::newRow("the off-screen button") << "Command1"
                                               << "Command1" << pixels(1560, 2160, 615, 615);
        QTest::newRow("the temperature band frame")
            << "Shape1" << QString() << pixels(0, 0, 2775, 735);
        QTest::newRow("the command band frame")
            << "Shape4" << QString() << pixels(0, 720, 2775, 495);
        QTest::newRow("the quit frame") << "Shape2" << QString() << pixels(1920, 840, 735, 255);
        QTest::newRow("the hide frame") << "Shape3" << QString() << pixels(1080, 840, 735, 255);
    }

    void controlsFollowTheDesign()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        auto* control = Form1->window().findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        if (auto* label = qobject_cast<QLabel*>(control))
            QCOMPARE(label->text(), caption);
        else if (auto* button = qobject_cast<QPushButton*>(control))
            QCOMPARE(button->text(), caption);
    }

    void controlsAreStackedFrontToBack()
    {
        QStringList order;
        for (QObject* child : Form1->window().children()) {
            if (qobject_cast<QWidget*>(child))
                order.prepend(child->objectName()); // last child paints on top
        }
        const QStringList expected{"Command1", "gputemp", "piquegputemp", "Label2",
                                   "Label4",   "Label6",  "Shape4",       "Shape3",
                                   "Shape2",   "Label5",  "Shape1",       "Label7"};
        QCOMPARE(order, expected);
    }

    void commandLabelsLookLikeFramedGreyBlocks()
    {
        for (const char* name : {"Label5", "Label7"}) {
            auto* label = Form1->window().findChild<tk::Label*>(QString::fromLatin1(name));
            QVERIFY(label->isOpaque());
            QCOMPARE(label->palette().color(QPalette::Window), QColor(0xE0, 0xE0, 0xE0));
            QVERIFY(label->alignment() & Qt::AlignHCenter);
            QCOMPARE(label->cursor().shape(), Qt::SizeAllCursor);
        }
        QVERIFY(!Form1->gputemp->isOpaque());
        QCOMPARE(Form1->Label6->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0x80));
        QCOMPARE(Form1->window().palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(Form1->window().windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!(Form1->window().windowFlags() & Qt::WindowStaysOnTopHint));

        // The frames are drawn: the corner of the quit frame is dark, its
        // inside light grey.
        const QImage image = Form1->window().grab().toImage();
        const QPoint corner(1920 / 15, 840 / 15);
        QVERIFY(qGray(image.pixel(corner)) < 100);
        QCOMPARE(QColor(image.pixel(corner + QPoint(3, 3))), QColor(0xE0, 0xE0, 0xE0));
    }

    void clicksReachTheLabelsThroughTheirFrames_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("Masqué") << "Label7";
        QTest::newRow("Quitter") << "Label5";
    }

    void clicksReachTheLabelsThroughTheirFrames()
    {
        QFETCH(QString, label);
        auto* target = Form1->window().findChild<QWidget*>(label);
        const QPoint centre = target->geometry().center();
        QCOMPARE(Form1->window().childAt(centre), target);
        // On the frame's own one-pixel line too.
        QCOMPARE(Form1->window().childAt(target->geometry().topLeft()), target);
    }

    void hideRequestsSlideThePopupDown_data()
    {
        QTest::addColumn<bool>("closeRequest");
        QTest::newRow("a click on Masqué") << false;
        QTest::newRow("a close request from the window system (Alt+F4)") << true;
    }

    void hideRequestsSlideThePopupDown()
    {
        QFETCH(bool, closeRequest);
        if (closeRequest) {
            QVERIFY(!Form1->window().close());
        } else {
            // Where a user clicks: on the window, at the middle of the framed block.
            QWidget* hit = Form1->window().childAt(Form1->Label7->geometry().center());
            QVERIFY(hit);
            QTest::mouseClick(hit, Qt::LeftButton);
        }
        QVERIFY(Form1->isLoaded());
        QVERIFY(Form1->Timer3->enabled());
        QVERIFY(!Form1->Timer2->enabled());
    }

    void otherClicksDoNothing()
    {
        for (const char* name : {"gputemp", "piquegputemp", "Label2", "Label4"}) {
            auto* w = Form1->window().findChild<QWidget*>(QString::fromLatin1(name));
            QTest::mouseClick(w, Qt::LeftButton);
        }
        QTest::mouseClick(Form1->window().windowHandle(), Qt::LeftButton, {}, QPoint(3, 70));
        QVERIFY(!Form1->Timer2->enabled());
        QVERIFY(!Form1->Timer3->enabled());
        QVERIFY(!frmabout.exists() || !frmabout->isVisible());
        QVERIFY(!Form2.exists() || !Form2->isVisible());
        QVERIFY(Form1->isLoaded());
    }

    void spaceOnTheActivePopupShowsTheTrayHost()
    {
        Form1->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&Form1->window()));
        QCOMPARE(QApplication::focusWidget(), &Form1->Command1.get());
        QTest::keyClick(Form1->window().windowHandle(), Qt::Key_Space);
        QVERIFY(Form2->isVisible());
    }

    void captionsFitTheirLabels_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("caption");
        QTest::newRow("the current caption") << "Label4"
                                             << "GPU Temperature :";
        QTest::newRow("the peak caption") << "Label2"
                                          << "Pique GPU Temperature :";
        QTest::newRow("the credit") << "Label6"
                                    << "Quillip2007";
        QTest::newRow("quit") << "Label5"
                              << "Quitter";
        QTest::newRow("hide") << "Label7"
                              << "Masqué";
        QTest::newRow("a three-digit temperature") << "gputemp"
                                                   << "100°c";
        QTest::newRow("a three-digit peak") << "piquegputemp"
                                            << "100°c";
        QTest::newRow("no reading") << "piquegputemp"
                                    << "--°c";
    }

    void captionsFitTheirLabels()
    {
        QFETCH(QString, label);
        QFETCH(QString, caption);
        auto* w = Form1->window().findChild<QLabel*>(label);
        const QFontMetrics metrics(w->font());
        QVERIFY2(metrics.horizontalAdvance(caption) <= w->width(),
                 qPrintable(QStringLiteral("%1 px in %2 px (%3)")
                                .arg(metrics.horizontalAdvance(caption))
                                .arg(w->width())
                                .arg(QFontInfo(w->font()).family())));
        QVERIFY(metrics.height() <= w->height());
    }
};

QTEST_MAIN(PopupTest)
#include "tst_popup.moc"
