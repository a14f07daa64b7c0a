#include "support/support.h"

#include "popup/form1.h"
#include "toolkit/backend.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#ifdef _WIN32
#include "toolkit/win32/win32.h"
#endif

using support::runUntilStopped;

namespace {

class Popup : public testing::Test {
protected:
    void SetUp() override { Form1->show(); }
};

TEST(PopupPlacement, itRestsAboveTheTaskbarOnlyWhereTheAllowanceIsTooSmall)
{
    const struct {
        const char* row;
        float twipsPerPixel;
        float screen; // pixels high
        float workBottom;
        float top; // twips
    } rows[] = {
        {"a 30 px taskbar at 100 % fills the allowance exactly", 15, 720, 690, 9135},
        {"Windows 10's 40 px taskbar at 100 %", 15, 720, 680, 8985},
        {"Windows 11's 72 px taskbar at 150 %: on its top, at a whole pixel", 10, 720, 648, 5260},
        {"a 30 px taskbar at 150 % is within the allowance", 10, 720, 690, 5535},
        {"a 48 px panel on a 1280 x 1024 screen", 15, 1024, 976, 13425},
        {"a 48 px panel at 200 % is within the allowance", 7.5f, 720, 672, 3735},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        const float t = r.twipsPerPixel;
        EXPECT_EQ(popup::Form1::restingTopOn(r.screen * t, r.workBottom * t, 1215, t), r.top);
    }
}

TEST(PopupPlacement, aChangedScreenPutsAPopupAtRestBackInItsCorner)
{
    const struct {
        const char* row;
        float top;
        float oldScreen; // heights, twips
        float newScreen;
        float newRestingTop;
        float expected;
    } rows[] = {
        {"shown after a slide-up, screen shrunk to 800 x 600", 9415, 11520, 9000, 7335, 7335},
        {"hidden, screen grown: stays below the new bottom", 10835, 10800, 15360, 13695, 15395},
        {"hidden, scale from 100 % to 200 %", 10835, 10800, 5400, 3735, 5435},
        {"shown, a taller taskbar appeared", 9135, 10800, 10800, 8865, 8865},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(popup::Form1::reanchoredTop(r.top, r.oldScreen, r.newScreen, r.newRestingTop),
                  r.expected);
    }
}

TEST_F(Popup, theNewerSlideWins)
{
    for (bool downFirst : {true, false}) {
        SCOPED_TRACE(downFirst ? "shown while hiding" : "hidden while showing");
        Form1->setTop(popup::Form1::restingTop() + 600);
        if (downFirst)
            Form1->slideDown();
        else
            Form1->slideUp();
        for (int i = 0; i < 10; ++i)
            (downFirst ? Form1->Timer3 : Form1->Timer2)->tick();
        if (downFirst)
            Form1->slideUp();
        else
            Form1->Label7->click(); // "Masqué"
        EXPECT_NE(Form1->Timer2->enabled(), Form1->Timer3->enabled()) << "both slides run";
        tk::Timer& winner = downFirst ? Form1->Timer2.get() : Form1->Timer3.get();
        EXPECT_TRUE(winner.enabled());
        runUntilStopped(winner);
        if (downFirst)
            EXPECT_LT(Form1->top(), popup::Form1::restingTop());
        else
            EXPECT_GE(Form1->top(), tk::screen().height());
    }
}

TEST_F(Popup, masqueSlidesItAwayOnItsOwnTimerAndKeepsItLoaded)
{
    EXPECT_TRUE(Form1->Command1->hasFocus()); // off the screen, it takes the space bar
    Form1->Label7->click();                   // "Masqué"
    EXPECT_FALSE(Form1->Timer2->enabled());
    EXPECT_TRUE(support::waitUntil([] { return !Form1->Timer3->enabled(); }));
    EXPECT_GE(Form1->top(), tk::screen().height());
    EXPECT_TRUE(Form1->isLoaded());
    Form1->slideUp();
    EXPECT_TRUE(support::waitUntil([] { return !Form1->Timer2->enabled(); }));
    EXPECT_EQ(Form1->top(), popup::Form1::restingTop() - 20);
    // Above its resting place, a slide up moves it one step further each time.
    Form1->slideUp();
    EXPECT_EQ(runUntilStopped(Form1->Timer2.get()), 1);
    EXPECT_EQ(Form1->top(), popup::Form1::restingTop() - 40);
}

#ifdef _WIN32
// What Windows sends a per-monitor aware window whose monitor takes another
// scale.
void scaleTo(const tk::Form& form, int dpi)
{
    RECT suggested{};
    SendMessageW(reinterpret_cast<HWND>(form.hWnd()), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
}

TEST_F(Popup, aNewScaleLaysEveryWindowOutAgainAndThePopupGoesBackToItsCorner)
{
    const int from = static_cast<int>(support::expectedDpi());
    const int to = from == 144 ? 96 : 144;
    struct Back {
        int dpi;
        ~Back() { scaleTo(*Form1, dpi); }
    } back{from};
    Form1->Command1->click(); // the tray host, laid out again too
    scaleTo(*Form1, to);
    ASSERT_TRUE(support::waitUntil([&] {
        return Form1->native().position().x + Form1->native().frameSize().x == 960;
    })) << "at "
        << Form1->native().position().x;
    const tk::Pixels at = Form1->native().position();
    const tk::Pixels size = Form1->native().frameSize();
    EXPECT_EQ(size.x, to == 144 ? 278 : 185);
    EXPECT_EQ(size.y, to == 144 ? 122 : 81);
    EXPECT_EQ(at.x + size.x, 960);
    EXPECT_EQ(at.y, to == 144 ? 554 : 609);
    RECT quitter;
    GetWindowRect(tk::win32::handleOf(Form1->Label5.get()), &quitter);
    EXPECT_EQ(quitter.left - at.x, to == 144 ? 192 : 128);
    EXPECT_EQ(quitter.bottom - quitter.top, to == 144 ? 26 : 17);
    RECT up;
    GetWindowRect(tk::win32::handleOf(Form2->Command1.get()), &up);
    EXPECT_EQ(up.right - up.left, to == 144 ? 86 : 57);

    // Out of sight, the popup stays so at the next scale.
    Form1->Label7->click();
    ASSERT_TRUE(support::waitUntil([] { return !Form1->Timer3->enabled(); }));
    scaleTo(*Form1, from);
    tk::processEvents();
    EXPECT_GE(Form1->top(), tk::screen().height());
    EXPECT_FALSE(IsWindowVisible(reinterpret_cast<HWND>(Form1->hWnd())));
}
#endif

} // namespace
