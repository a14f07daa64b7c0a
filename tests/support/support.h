#pragma once

#include "fakenvml/fakenvml.h"

#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/base/library.h"
#include "toolkit/controls.h"
#include "toolkit/shell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace support {

// The stand-in library's file name, as the program looks for it.
#ifdef _WIN32
inline const std::string kNvmlName = "nvml.dll";
#else
inline const std::string kNvmlName = "libnvidia-ml.so.1";
#endif
// A build of the stand-in other than the complete one, by its full path.
inline std::string fakeNvml(const std::string& variant)
{
#ifdef _WIN32
    return KELVANE_FAKE_NVML_DIR "/" + variant + "/nvml-" + variant + ".dll";
#else
    return KELVANE_FAKE_NVML_DIR "/" + variant + "/" + kNvmlName;
#endif
}

// Runs the event loop until the condition holds or five seconds pass; off
// the user-interface thread, or once exit() has begun, it only waits.
bool waitUntil(const std::function<bool()>& condition, bool runEvents = true);

// A stand-in library's own function, by the library's name or path; the
// library stays loaded until the test program ends.
void* standInFunction(const std::string& library, const char* name);
template <class F> F standIn(const std::string& library, const char* name)
{
    return reinterpret_cast<F>(standInFunction(library, name));
}

// The stand-in NVML as the program itself finds it, on the search path.
class FakeNvml final {
public:
    explicit FakeNvml(const std::string& file = kNvmlName) : m_file(file) { reset(); }

    void script(const std::vector<int>& readings, const std::vector<int>& results = {});
    fakenvml_counts counts() const;
    void reset() { standIn<void (*)()>(m_file, "fakenvml_reset")(); }
    void setResults(int init, int newer)
    {
        standIn<void (*)(int, int)>(m_file, "fakenvml_set_results")(init, newer);
    }

private:
    std::string m_file;
};

// The sampler's clock, moved only by the test, so that deadlines and pauses
// never depend on how fast the machine is.
class ManualClock final {
public:
    static void install();
    static void advance(std::chrono::milliseconds by);
};

// One sampling tick, then the reading it started, shown as it arrives.
void sampleOnce(tk::Timer& sampling);

// Runs a slide timer's ticks by hand until it stops; returns how many ran.
int runUntilStopped(tk::Timer& timer, int limit = 1000);

// A folder of the test's own, removed with everything in it.
class TempDir final {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return m_path; }
    // Writes a file, making its folders.
    void write(const std::string& relative, const std::string& content) const;
    void link(const std::string& target, const std::string& relative) const;

private:
    std::filesystem::path m_path;
};

// A death test's statement: runs the program with each error report on
// stderr as "reported: MESSAGE", then says "failed F, status S" (F 1 once an
// error was reported) and exits with that status.
[[noreturn]] void exitReporting(const std::function<int()>& program);

// A click on a registered tray icon as the notification area reports it,
// decoded by the backend: on Windows the shell's callback with this mouse
// message; under Qt the status-notifier host's call that stands for it
// (left, middle and right presses only: false for any other).
bool clickTrayIcon(const tk::TrayIconRecord& record, int mouseMessage);

// The program's top-level windows with this caption, once those already let
// go of are freed (on Windows 1 for any).
int windowsCaptioned(const std::string& caption);

// The screen's scale in this run: 96 dpi unless the run says otherwise.
double expectedDpi();

} // namespace support
