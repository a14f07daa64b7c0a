#include "support/support.h"

#include "about/frmabout.h"
#include "popup/form1.h"
#include "toolkit/backend.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#ifdef _WIN32
#include <windows.h>
#endif

using support::runUntilStopped;

namespace {

bool at144dpi()
{
    return support::expectedDpi() == 144;
}

class Popup : public testing::Test {
protected:
    void SetUp() override { Form1->show(); }
    void TearDown() override { tk::releaseInstances(); }

    static int pixelTop() { return Form1->native().position().y; }
};

TEST_F(Popup, itRestsAtTheBottomRightCornerOfTheWholeScreen)
{
    EXPECT_EQ(Form1->width(), 2775.0f);
    EXPECT_EQ(Form1->height(), 1215.0f);
    EXPECT_EQ(Form1->left(), tk::screen().width() - 2775);
    EXPECT_EQ(Form1->top(), tk::screen().height() - 1215 - 450);
    EXPECT_EQ(popup::Form1::restingTop(), Form1->top());
    // Its right edge on the screen's: 185 pixels at 96 dpi, 278 at 144.
    const tk::Pixels at = Form1->native().position();
    const tk::Pixels size = Form1->native().frameSize();
    EXPECT_EQ(size.x, at144dpi() ? 278 : 185);
    EXPECT_EQ(size.y, at144dpi() ? 122 : 81);
    EXPECT_EQ(at.x + size.x, 960);
    EXPECT_EQ(at.y, at144dpi() ? 554 : 609);
}

// Twips of a screen so many pixels high, at this many twips per pixel.
constexpr float px(float pixels, float twipsPerPixel)
{
    return pixels * twipsPerPixel;
}

TEST(PopupPlacement, itRestsAboveTheTaskbarOnlyWhereTheAllowanceIsTooSmall)
{
    const struct {
        const char* row;
        float screen; // height, twips
        float workBottom;
        float top;
    } rows[] = {
        {"no taskbar: 450 twips above the bottom", 10800, 10800, 9135},
        {"a 30 px taskbar at 100 % fills the allowance exactly", 10800, px(690, 15), 9135},
        {"a 24 px taskbar changes nothing", 10800, px(696, 15), 9135},
        {"a taskbar at the top, left or right leaves the bottom free", 10800, 10800, 9135},
        {"Windows 10's 40 px taskbar at 100 %", 10800, px(680, 15), 8985},
        {"Windows 11's 48 px taskbar at 100 %", 10800, px(672, 15), 8865},
        {"Windows 11's 72 px taskbar at 150 %", px(720, 10), px(648, 10), 5265},
        {"a 30 px taskbar at 150 % is within the allowance", px(720, 10), px(690, 10), 5535},
        {"a 48 px panel on a 1280 x 1024 screen", px(1024, 15), px(976, 15), 13425},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(popup::Form1::restingTopOn(r.screen, r.workBottom, 1215), r.top);
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
        {"shown, 1024 x 768 to 1280 x 1024", 9435, 11520, 15360, 13695, 13695},
        {"shown after a slide-up, screen shrunk to 800 x 600", 9415, 11520, 9000, 7335, 7335},
        {"hidden, 1024 x 768 to 800 x 600: stays below the new bottom", 11555, 11520, 9000, 7335,
         9035},
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

TEST_F(Popup, hidingTakes85TicksAndShowingTakes86)
{
    const float rest = Form1->top();
    Form1->slideDown();
    Form1->Timer3->tick();
    EXPECT_EQ(Form1->top(), rest + 20);
    EXPECT_EQ(runUntilStopped(Form1->Timer3.get()), 84);
    EXPECT_EQ(Form1->top(), rest + 1700);
    EXPECT_GE(Form1->top(), tk::screen().height());
    EXPECT_EQ(pixelTop(), at144dpi() ? 724 : 722);

    Form1->slideUp();
    EXPECT_EQ(runUntilStopped(Form1->Timer2.get()), 86);
    EXPECT_EQ(Form1->top(), rest - 20);
    EXPECT_EQ(pixelTop(), at144dpi() ? 552 : 608);
    EXPECT_FALSE(Form1->Timer2->enabled());
    EXPECT_FALSE(Form1->Timer3->enabled());
}

TEST_F(Popup, aSlideUpAtRestMovesOneStepEachTime)
{
    const float rest = Form1->top();
    for (float step : {20.0f, 40.0f}) {
        Form1->slideUp();
        EXPECT_EQ(runUntilStopped(Form1->Timer2.get()), 1);
        EXPECT_EQ(Form1->top(), rest - step);
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

TEST_F(Popup, slidesRunOnTheirOwnOneMillisecondTimers)
{
    EXPECT_EQ(Form1->Timer2->interval(), 1);
    EXPECT_EQ(Form1->Timer3->interval(), 1);
    Form1->Label7->click();
    EXPECT_TRUE(support::waitUntil([] { return !Form1->Timer3->enabled(); }));
    EXPECT_GE(Form1->top(), tk::screen().height());
    Form1->slideUp();
    EXPECT_TRUE(support::waitUntil([] { return !Form1->Timer2->enabled(); }));
    EXPECT_EQ(Form1->top(), popup::Form1::restingTop() - 20);
}

TEST_F(Popup, hideRequestsSlideItDownAndKeepItLoaded)
{
    for (bool closeRequest : {false, true}) {
        SCOPED_TRACE(closeRequest ? "a close request from the window system" : "Masqué");
        Form1->Timer3->setEnabled(false);
        if (closeRequest)
            Form1->closeRequested();
        else
            Form1->Label7->click();
        EXPECT_TRUE(Form1->isLoaded());
        EXPECT_TRUE(Form1->Timer3->enabled());
        EXPECT_FALSE(Form1->Timer2->enabled());
    }
}

TEST_F(Popup, labelsReadAndLookAsDesigned)
{
    constexpr tk::Color grey{0xE0, 0xE0, 0xE0};
    const struct {
        tk::Ref<tk::Label>& label;
        std::string caption;
        tk::Color back;
        bool opaque;
    } rows[] = {
        {Form1->gputemp, "xxx°c", {0xFF, 0xC0, 0xC0}, false},
        {Form1->piquegputemp, "xxx°c", {0xFF, 0x80, 0x80}, false},
        {Form1->Label2, "Pique GPU Temperature :", {0xFF, 0x00, 0x00}, false},
        {Form1->Label4, "GPU Temperature :", {0xFF, 0x80, 0x80}, false},
        {Form1->Label5, "Quitter", grey, true},
        {Form1->Label7, "Masqué", grey, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.label->name());
        EXPECT_EQ(r.label->caption(), r.caption);
        EXPECT_EQ(r.label->backColor(), r.back);
        EXPECT_EQ(r.label->isOpaque(), r.opaque);
    }
    EXPECT_EQ(Form1->gputemp->foreColor(), (tk::Color{0, 0, 0}));
    EXPECT_EQ(Form1->Label6->foreColor(), (tk::Color{0x00, 0x00, 0x80}));
    EXPECT_EQ(Form1->Label6->caption(), "Quillip2007");
}

TEST_F(Popup, onlyTheWindowsAUserSwitchesToAreListedAsRunning)
{
    EXPECT_FALSE(Form1->hasTaskbarEntry());
    Form1->Command1->click();
    ASSERT_TRUE(Form2->isVisible());
    EXPECT_TRUE(Form2->hasTaskbarEntry());
    Form1->Label6->click();
    ASSERT_TRUE(frmabout->isVisible());
    EXPECT_TRUE(frmabout->hasTaskbarEntry());
}

#ifdef _WIN32
// The work area as Windows' taskbar sets it, told to every window.
bool setWorkAreaBottom(int bottom)
{
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), bottom};
    return SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, SPIF_SENDCHANGE) != FALSE;
}

// Puts the whole screen back as the work area, however the test ends.
struct WholeWorkArea {
    ~WholeWorkArea() { setWorkAreaBottom(GetSystemMetrics(SM_CYSCREEN)); }
};

TEST_F(Popup, aTallerTaskbarLiftsThePopupAtOnce)
{
    const WholeWorkArea restore;
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const int shown = at144dpi() ? 554 : 609;
    ASSERT_EQ(pixelTop(), shown);
    // 48 pixels at 100 %, 72 at 150 %.
    const int taskbar = at144dpi() ? 72 : 48;
    ASSERT_TRUE(setWorkAreaBottom(height - taskbar));
    const int lifted = height - taskbar - (at144dpi() ? 122 : 81);
    EXPECT_TRUE(support::waitUntil([&] { return pixelTop() == lifted; }))
        << "the popup stays at " << pixelTop();
    Form1->Label7->click();
    EXPECT_TRUE(support::waitUntil([] { return !Form1->Timer3->enabled(); }));
    EXPECT_FALSE(IsWindowVisible(reinterpret_cast<HWND>(Form1->hWnd())))
        << "out of sight below the screen, it still shows on a monitor below";
    EXPECT_TRUE(Form1->isVisible());
    ASSERT_TRUE(setWorkAreaBottom(height));
    tk::processEvents();
    EXPECT_GE(Form1->top(), tk::screen().height());
    Form1->slideUp();
    EXPECT_TRUE(support::waitUntil([] { return !Form1->Timer2->enabled(); }));
    EXPECT_TRUE(IsWindowVisible(reinterpret_cast<HWND>(Form1->hWnd())));
    EXPECT_EQ(Form1->top(), popup::Form1::restingTop() - 20);
}
#endif

TEST_F(Popup, theOffScreenButtonHoldsTheKeyboard)
{
    EXPECT_EQ(Form1->Command1->caption(), "Command1");
    EXPECT_TRUE(Form1->Command1->hasFocus());
}

} // namespace
