// Single instance on Windows: a named mutex in the session's namespace
// decides who is first, and a hidden window of the first carries the show
// request.
#include "instance.h"

#include "toolkit/events.h"
#include "toolkit/base/wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <thread>

namespace app {
namespace {

// The program's hidden window (the toolkit's), found by its title.
const wchar_t kWindowClass[] = L"Kelvane";
constexpr UINT kShow = WM_APP + 7;
// How long a second start looks for the first, and waits for its answer:
// ten Kelvanes started at once take seconds to come up.
constexpr UINT kReachMs = 5000;
constexpr UINT kAnswerMs = 5000;

} // namespace

struct SingleInstance::State {
    HANDLE mutex = nullptr;
};

std::string SingleInstance::privateFolder()
{
    // Named objects under Local\ belong to the user's own session.
    return "Local";
}

std::string SingleInstance::currentDisplay()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return "session" + std::to_string(session);
}

SingleInstance::SingleInstance(std::string folder, std::string display)
    : m_folder(std::move(folder)), m_name(nameFor(display))
{
}

SingleInstance::~SingleInstance()
{
    if (!m_state)
        return;
    if (m_state->mutex)
        CloseHandle(m_state->mutex);
}

SingleInstance::Role SingleInstance::start(std::function<void()> onShowRequest)
{
    m_onShow = std::move(onShowRequest);
    m_state = std::make_unique<State>();
    if (m_folder.empty()) {
        m_problem = "no session namespace; running without the single-instance check";
        return Role::Alone;
    }
    const std::wstring name = tk::widen(lockPath());
    m_state->mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!m_state->mutex) {
        m_problem = "cannot create the single-instance lock; running without it";
        return Role::Alone;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(m_state->mutex);
        m_state->mutex = nullptr;
        if (forward())
            return Role::Forwarded;
        m_problem = "Kelvane is already running, but did not answer";
        return Role::AlreadyRunning;
    }
    listen();
    return Role::First;
}

bool SingleInstance::listen()
{
    tk::setProgramWindowTitle(m_name);
    tk::onProgramMessage(kShow, [this](std::uintptr_t, std::intptr_t) {
        if (m_onShow)
            m_onShow();
        return 1;
    });
    return true;
}

bool SingleInstance::forward()
{
    // The first instance takes its mutex a moment before its window exists.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReachMs);
    for (;;) {
        if (HWND first = FindWindowW(kWindowClass, tk::widen(m_name).c_str())) {
            DWORD_PTR answer = 0;
            return SendMessageTimeoutW(first, kShow, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &answer) &&
                   answer == 1;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string SingleInstance::normaliseDisplay(const std::string& display)
{
    // One name per Windows session, written one way only.
    return display;
}

} // namespace app
