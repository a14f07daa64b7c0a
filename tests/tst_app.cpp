#include "support/support.h"

#include "about/frmabout.h"
#include "app/signals.h"
#include "popup/form1.h"
#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

class App : public testing::Test {
protected:
    void TearDown() override { tk::releaseInstances(); }
};

TEST_F(App, onlyThePopupShowsAfterStart)
{
    Form2->load();
    EXPECT_TRUE(Form2->isLoaded());
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(frmabout.exists());
    EXPECT_TRUE(tk::iconRegistered(Form2->trayRecord.hWnd, 1));
}

TEST_F(App, unloadingAFormThatIsNotLoadedDoesNothing)
{
    Form1->show();
    Form2->unload();
    EXPECT_TRUE(Form1->isLoaded());
    EXPECT_EQ(tk::loadedForms(), 1);
}

TEST_F(App, theAboutDialogIsFixedCentredAndOpenedOnce)
{
    Form1->show();
    for (int round = 0; round < 2; ++round) {
        Form1->Label6->click();
        Form1->Label6->click();
        ASSERT_TRUE(frmabout->isVisible());
        EXPECT_EQ(frmabout->caption(), "Kelvane");
        EXPECT_EQ(frmabout->Command1->caption(), "Ok");
        EXPECT_TRUE(frmabout->Command1->hasFocus());
        EXPECT_EQ(frmabout->Label3->caption(), "Kelvane");
        EXPECT_EQ(frmabout->Label3->backColor(), (tk::Color{0, 0xFF, 0}));
        const tk::Pixels at = frmabout->native().position();
        const tk::Pixels size = frmabout->native().frameSize();
        EXPECT_LE(std::abs(at.x + size.x / 2 - 480), 1);
        EXPECT_LE(std::abs(at.y + size.y / 2 - 360), 1);
        frmabout->setLeft(150); // the user drags it away
        frmabout->Command1->click();
        EXPECT_FALSE(frmabout->isLoaded());
    }
}

TEST_F(App, quitWithTheAboutDialogOpenEndsWhenItCloses)
{
    Form1->show();
    frmabout->show();
    popup::exitSequence();
    EXPECT_FALSE(Form1->isLoaded());
    EXPECT_TRUE(frmabout->isVisible());
    EXPECT_EQ(tk::loadedForms(), 1);
    tk::post([] { frmabout->closeRequested(); });
    EXPECT_EQ(tk::exec(), 0);
    EXPECT_FALSE(frmabout->isLoaded());
}

#ifndef _WIN32
TEST_F(App, theCommandLineNeedsNoDisplay)
{
    const struct {
        const char* arguments;
        int status;
        std::string output;
    } rows[] = {
        {"--version", 0, "Kelvane 2.05.0003\n"},
        {"--help", 0, "core temperature"},
        {"--frobnicate", 2, ""},
        {"", 1, ""}, // no display is reported, not a toolkit abort
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string("kelvane ") + r.arguments);
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                                    std::string(KELVANE_BINARY) + "' " + r.arguments + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_TRUE(pipe);
        std::string output;
        char buffer[256];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        const int status = ::pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), r.status);
        EXPECT_NE(output.find(r.output), std::string::npos) << output;
        if (r.status != 0) {
            EXPECT_TRUE(output.starts_with("kelvane: ")) << output;
        }
    }
}

TEST_F(App, aSessionEndThatCannotBeCaughtIsNamedAtStart)
{
    // Out of descriptors, as under a tight "ulimit -n": the signal pipe
    // cannot be made, and the program says so instead of dying silently by
    // the signal later.
    EXPECT_EXIT(
        {
            while (::dup(STDERR_FILENO) >= 0) {
            }
            app::onEndRequest([] {});
            std::fflush(stderr);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "^kelvane: cannot catch the end of the session: .+\n$");
}

#endif

// In a process of its own: after an uncaught error no handler runs in that
// process again.
TEST_F(App, anUncaughtErrorIsReportedAndEndsTheProgram)
{
    EXPECT_EXIT(
        {
            tk::setFatalReporter([](const std::string& message) {
                std::fputs(("reported: " + message + "\n").c_str(), stderr);
            });
            Form1->show();
            Form1->Timer2->onTick([] { throw tk::Error(tk::Status::Overflow, "Overflow"); });
            Form1->Timer2->setEnabled(true);
            const int status = tk::exec();
            std::fprintf(stderr, "failed %d, status %d\n", tk::failed() ? 1 : 0, tk::exitStatus());
            std::fflush(stderr);
            std::_Exit(status);
        },
        testing::ExitedWithCode(1), "reported: Overflow\nfailed 1, status 1\n");
}

} // namespace
