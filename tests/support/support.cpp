#include "support.h"

#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include "toolkit/qt/qt.h"
#include "toolkit/qt/sni.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QWidget>
#endif

namespace support {

bool waitUntil(const std::function<bool()>& condition, bool runEvents)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (runEvents)
            tk::processEvents(10);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool clickTrayIcon(const tk::TrayIconRecord& record, int mouseMessage)
{
#ifdef _WIN32
    SendMessageW(reinterpret_cast<HWND>(record.hWnd), static_cast<UINT>(record.uCallbackMessage),
                 static_cast<WPARAM>(record.uID), mouseMessage);
    return true;
#else
    const char* call = mouseMessage == WM_LBUTTONDOWN   ? "Activate"
                       : mouseMessage == WM_MBUTTONDOWN ? "SecondaryActivate"
                       : mouseMessage == WM_RBUTTONDOWN ? "ContextMenu"
                                                        : nullptr;
    tk::qt::StatusNotifierItem* item = tk::qt::statusNotifierItem(record.hWnd, record.uID);
    if (!call || !item)
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral(":1.1"), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.kde.StatusNotifierItem"), QString::fromLatin1(call));
    message << 0 << 0;
    return item->handleMessage(message, QDBusConnection::sessionBus());
#endif
}

int windowsCaptioned(const std::string& caption)
{
    tk::processEvents();
#ifdef _WIN32
    // Hidden ones too; a count of one at most, which is what the tests ask.
    return FindWindowW(nullptr, std::wstring(caption.begin(), caption.end()).c_str()) ? 1 : 0;
#else
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int found = 0;
    for (const QWidget* window : QApplication::topLevelWidgets())
        found += window->windowTitle() == QString::fromStdString(caption);
    return found;
#endif
}

void* standInFunction(const std::string& library, const char* name)
{
    static std::map<std::string, std::unique_ptr<tk::Library>> loaded;
    auto& lib = loaded[library];
    if (!lib)
        lib = std::make_unique<tk::Library>(library);
    void* fn = lib->load() ? lib->resolve(name) : nullptr;
    if (!fn)
        throw std::runtime_error(library + " has no " + name);
    return fn;
}

void FakeNvml::script(const std::vector<int>& readings, const std::vector<int>& results)
{
    standIn<void (*)(const int*, const int*, int)>(m_file, "fakenvml_script")(
        readings.data(), results.empty() ? nullptr : results.data(),
        static_cast<int>(readings.size()));
}

fakenvml_counts FakeNvml::counts() const
{
    fakenvml_counts c{};
    standIn<void (*)(fakenvml_counts*)>(m_file, "fakenvml_get_counts")(&c);
    return c;
}

using Clock = std::chrono::steady_clock;
static std::atomic<Clock::rep> g_ticks{Clock::duration(std::chrono::hours(1)).count()};

void ManualClock::install()
{
    sampler::setClock([] { return Clock::time_point(Clock::duration(g_ticks.load())); });
}

void ManualClock::advance(std::chrono::milliseconds by)
{
    g_ticks += std::chrono::duration_cast<Clock::duration>(by).count();
}

void sampleOnce(tk::Timer& sampling)
{
    sampling.tick();
    EXPECT_TRUE(waitUntil([] { return !sampler::readingInFlight(); }));
    // The reading thread posts its news before it says it is done.
    tk::processEvents(0);
}

int runUntilStopped(tk::Timer& timer, int limit)
{
    int ticks = 0;
    while (timer.enabled() && ticks < limit) {
        timer.tick();
        ++ticks;
    }
    return ticks;
}

TempDir::TempDir()
{
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("kelvane-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void TempDir::write(const std::string& relative, const std::string& content) const
{
    const auto file = m_path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

void TempDir::link(const std::string& target, const std::string& relative) const
{
    const auto at = m_path / relative;
    std::filesystem::create_directories(at.parent_path());
    std::filesystem::create_directory_symlink(target, at);
}

void exitReporting(const std::function<int()>& program)
{
    tk::setFatalReporter([](const std::string& message) {
        std::fputs(("reported: " + message + "\n").c_str(), stderr);
    });
    const int status = program();
    std::fprintf(stderr, "failed %d, status %d\n", tk::failed() ? 1 : 0, status);
    std::fflush(stderr);
    std::_Exit(status);
}

double expectedDpi()
{
    const char* dpi = std::getenv("KELVANE_TEST_DPI");
    return dpi ? std::atof(dpi) : 96.0;
}

} // namespace support
