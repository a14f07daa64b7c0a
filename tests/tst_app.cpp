#include "support/support.h"

#include "about/frmabout.h"
#include "app/kelvane.h"
#include "app/signals.h"
#include "popup/form1.h"
#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

TEST(App, theAboutDialogIsFixedCentredOpenedOnceAndOutlivesQuitter)
{
    Form1->show();
    for (int round = 0; round < 2; ++round) {
        Form1->Label6->click();
        Form1->Label6->click();
        ASSERT_TRUE(frmabout->isVisible());
        EXPECT_TRUE(frmabout->Command1->hasFocus()); // "Ok"
        EXPECT_TRUE(frmabout->hasTaskbarEntry());
        const tk::Pixels at = frmabout->native().position();
        const tk::Pixels size = frmabout->native().frameSize();
        EXPECT_LE(std::abs(at.x + size.x / 2 - 480), 1);
        EXPECT_LE(std::abs(at.y + size.y / 2 - 360), 1);
        frmabout->setLeft(150); // the user drags it away
        frmabout->Command1->click();
        EXPECT_FALSE(frmabout->isLoaded());
    }
    // Quitter with the dialog open: the program ends when the dialog closes.
    frmabout->show();
    popup::exitSequence();
    EXPECT_FALSE(Form1->isLoaded());
    EXPECT_TRUE(frmabout->isVisible());
    tk::post([] { frmabout->closeRequested(); });
    EXPECT_EQ(tk::exec(), 0);
    EXPECT_FALSE(frmabout->isLoaded());
}

#ifndef _WIN32
TEST(App, theCommandLineNeedsNoDisplay)
{
    const struct {
        const char* arguments;
        int status;
        std::string output;
    } rows[] = {
        {"--version", 0, std::string("Kelvane ") + KELVANE_VERSION + "\n"},
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
        EXPECT_TRUE(r.status == 0 || output.starts_with("kelvane: ")) << output;
    }
}

TEST(App, aSessionEndThatCannotBeCaughtIsNamedAtStart)
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

#ifdef _WIN32
// Every later window of this thread is refused, as a full desktop heap or a
// session without a desktop refuses it.
void refuseWindows()
{
    SetWindowsHookExW(
        WH_CBT,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
}
#endif

// Each in a process of its own: after an uncaught error no handler runs in
// that process again.
TEST(App, anUncaughtErrorIsReportedAndEndsTheProgram)
{
    const struct {
        const char* row;
        std::function<int()> program;
        const char* reported; // the line on stderr, then what the user is shown
    } rows[] = {
        {"an error in a timer's handler",
         [] {
             Form1->show();
             Form1->Timer2->onTick([] { throw tk::Error(tk::Status::Overflow, "Overflow"); });
             Form1->Timer2->setEnabled(true);
             return tk::exec();
         },
         "kelvane: Overflow\nreported: Overflow\n"},
        {"an error that reaches main",
         [] {
             return tk::guardProgram([]() -> int { throw std::runtime_error("out of handles"); });
         },
         "kelvane: out of handles\nreported: out of handles\n"},
#ifdef _WIN32
        {"a window that cannot be made at start",
         [] {
             refuseWindows();
             return app::runForms();
         },
         "kelvane: CreateWindowExW.*\nreported: CreateWindowExW.*\n"},
        {"a window call that fails, in the system's own words",
         [] {
             Form1->show();
             // Gone behind the toolkit's back: every call on it now fails.
             DestroyWindow(reinterpret_cast<HWND>(Form1->hWnd()));
             return tk::guardProgram([] { return Form1->setTop(3000), 0; });
         },
         "kelvane: .*Invalid window handle.*\nreported: .*Invalid window handle.*\n"},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        EXPECT_EXIT(support::exitReporting(row.program), testing::ExitedWithCode(1),
                    std::string(row.reported) + "failed 1, status 1\n$");
    }
}

} // namespace
