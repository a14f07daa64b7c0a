#include "support/support.h"

#include "popup/form1.h"
#include "toolkit/dispatch.h"
#include "toolkit/picture.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

using support::runUntilStopped;

namespace {

void hide()
{
    Form1->slideDown();
    runUntilStopped(Form1->Timer3.get());
}

class Tray : public testing::Test {
protected:
    void SetUp() override { Form2->load(); }
    void TearDown() override { tk::observeShell({}); }
};

TEST_F(Tray, loadingTheHostShowsOnlyThePopupAndAddsTheIcon)
{
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_FALSE(tk::Picture::fromHandle(Form2->trayRecord.hIcon).isNull());
    EXPECT_TRUE(tk::iconRegistered(Form2->hWnd(), 1));
}

TEST_F(Tray, aLeftPressDependsOnWhereThePopupIs)
{
    const struct {
        const char* row;
        std::function<void()> state;
        bool up;
        bool down;
        int message = 513; // the left press
    } rows[] = {
        {"hidden: it slides up", [] { hide(); }, true, false},
        {"hidden: a left release does nothing", [] { hide(); }, false, false, 514},
        {"hidden: a double click does nothing", [] { hide(); }, false, false, 515},
        {"hidden: a middle press does nothing", [] { hide(); }, false, false, 519},
        {"hidden: a right press does nothing", [] { hide(); }, false, false, 516},
        {"sliding up: it keeps sliding",
         [] {
             hide();
             Form1->slideUp();
             Form1->Timer2->tick();
         },
         true, false},
        {"sliding down: ignored",
         [] {
             Form1->slideDown();
             Form1->Timer3->tick();
         },
         false, true},
        {"at rest: nothing moves", [] {}, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        tk::releaseInstances();
        Form2->load();
        r.state();
        const float top = Form1->top();
        // Status-notifier hosts report no release and no double click.
        if (!support::clickTrayIcon(Form2->trayRecord, r.message))
            continue;
        EXPECT_EQ(Form1->Timer2->enabled(), r.up);
        EXPECT_EQ(Form1->Timer3->enabled(), r.down);
        EXPECT_EQ(Form1->top(), top);
        if (r.up) {
            runUntilStopped(Form1->Timer2.get());
            EXPECT_EQ(Form1->top(), popup::Form1::restingTop() - 20);
        }
    }
}

TEST_F(Tray, theHostClosesAndComesBackAndItsButtonsDriveTheSlides)
{
    Form2->show();
    const tk::WindowHandle hWnd = Form2->trayRecord.hWnd;
    Form2->closeRequested();
    EXPECT_FALSE(Form2->isLoaded());
    EXPECT_FALSE(tk::iconRegistered(hWnd, 1));
    EXPECT_TRUE(Form1->isVisible());
    Form2->unload(); // as Quitter does after the user closed the host: nothing
    EXPECT_EQ(tk::loadedForms(), 1);

    Form1->Command1->click();
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_TRUE(tk::iconRegistered(Form2->trayRecord.hWnd, 1));
    // Only the windows a user switches to are listed as running.
    EXPECT_TRUE(Form2->hasTaskbarEntry());
    EXPECT_FALSE(Form1->hasTaskbarEntry());

    EXPECT_TRUE(Form2->Command1->hasFocus()); // "up"
    Form2->Command1->click();
    EXPECT_TRUE(Form1->Timer2->enabled());
    Form2->Command2->click();
    EXPECT_TRUE(Form1->Timer3->enabled());
    EXPECT_FALSE(Form1->Timer2->enabled()); // the newer request won
}

TEST_F(Tray, quitterRemovesTheIconBeforeThePopupClosesAndEndsTheProgram)
{
    const tk::WindowHandle hWnd = Form2->trayRecord.hWnd;
    std::vector<std::string> calls;
    tk::observeShell([&](std::int32_t operation) {
        calls.push_back(std::to_string(operation) +
                        (Form1->isLoaded() ? " with the popup loaded" : " after the popup"));
    });
    tk::post([] { Form1->Label5->click(); }); // "Quitter"
    EXPECT_EQ(tk::exec(), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"2 with the popup loaded"}));
    EXPECT_FALSE(tk::iconRegistered(hWnd, 1));
    EXPECT_FALSE(Form1->isLoaded());
    EXPECT_FALSE(Form2->isLoaded());
}

} // namespace
