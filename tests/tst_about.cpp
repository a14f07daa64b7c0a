#include "testsupport.h"

#include "about/frmabout.h"
#include "app/exit.h"
#include "popup/form1.h"

#include <QApplication>
#include <QTest>

class AboutTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
    }

    void cleanup() { tk::releaseInstances(); }

    void dialogFollowsTheDesign()
    {
        frmabout->show();
        tk::FormWindow& w = frmabout->window();
        QCOMPARE(w.windowTitle(), QStringLiteral("Kelvane"));
        QCOMPARE(w.size(), QSize(138, 105));
        QCOMPARE(w.minimumSize(), w.maximumSize()); // fixed single
        QCOMPARE(frmabout->Command1->text(), QStringLiteral("Ok"));
        QCOMPARE(frmabout->Label3->caption(), QStringLiteral("Kelvane"));
        QVERIFY(frmabout->Label4->alignment() & Qt::AlignHCenter);
        QCOMPARE(frmabout->Label4->geometry().bottom() + 1, w.height());
        QCOMPARE(frmabout->Image19->pixmap().size(), QSize(32, 32));
        QCOMPARE(QApplication::focusWidget() ? QApplication::focusWidget() : w.focusWidget(),
                 &frmabout->Command1.get());
        const QFontMetrics metrics(frmabout->Label4->font());
        QVERIFY(metrics.horizontalAdvance(frmabout->Label4->caption()) <=
                frmabout->Label4->width());
    }

    void dialogIsCentredEachTimeItIsShown()
    {
        for (int round = 0; round < 2; ++round) {
            frmabout->show();
            const QRect frame = frmabout->window().frameGeometry();
            QVERIFY(qAbs(frame.center().x() - 480) <= 1);
            QVERIFY(qAbs(frame.center().y() - 360) <= 1);
            frmabout->window().move(10, 10); // the user drags it away
            QTest::mouseClick(&frmabout->Command1.get(), Qt::LeftButton);
            QVERIFY(!frmabout->isLoaded());
        }
    }

    void secondShowOpensNoSecondDialog()
    {
        Form1->show();
        QTest::mouseClick(&Form1->Label6.get(), Qt::LeftButton);
        QTest::mouseClick(&Form1->Label6.get(), Qt::LeftButton);
        int dialogs = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->objectName() == QStringLiteral("frmabout"))
                ++dialogs;
        }
        QCOMPARE(dialogs, 1);
    }

    void quitWithTheDialogOpenEndsWhenItCloses()
    {
        Form1->show();
        frmabout->show();
        app::exitSequence();
        QVERIFY(!Form1->isLoaded());
        QVERIFY(frmabout->isVisible());
        QCOMPARE(tk::loadedForms(), 1);
        QTimer::singleShot(0, [] { frmabout->window().close(); });
        QCOMPARE(tk::exec(), 0);
        QVERIFY(!frmabout->isLoaded());
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
