#pragma once

#include <functional>
#include <memory>
#include <string>

namespace app {

// One Kelvane per user and display. A lock decides who is first; a second
// start asks the running one, over a private channel, to bring its popup
// back, since without a notification area nothing else can.
class SingleInstance final {
public:
    enum class Role {
        First,          // this process is the one; show requests reach it
        Forwarded,      // another one runs and took the request
        AlreadyRunning, // another one runs but could not be asked
        Alone,          // no private folder: nothing could be decided
    };

    // The folder keeps the lock and the channel; it must be the user's own.
    explicit SingleInstance(std::string folder = privateFolder(),
                            std::string display = currentDisplay());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Role start(std::function<void()> onShowRequest);

    // Why single instance is not fully in force, for one line on stderr;
    // empty when it is.
    const std::string& problem() const { return m_problem; }

    std::string lockPath() const;
    std::string socketPath() const;

    // The user's runtime folder, or else a folder of the user's own under
    // the temporary folder; empty when neither is private to the user.
    static std::string privateFolder();
    // The display this session shows on, normalised.
    static std::string currentDisplay();
    // Host and display number: ":0", ":0.0" and "unix:0" are one display.
    static std::string normaliseDisplay(const std::string& display);

    // The one request a second start sends, and the answer it waits for.
    static constexpr char kRequest[] = "show\n";
    static constexpr char kAnswer[] = "ok\n";

private:
    struct State;
    static std::string nameFor(const std::string& display);
    bool takeLock();
    bool listen();
    bool forward();
    void serve();

    std::string m_folder;
    std::string m_name;
    std::string m_problem;
    std::unique_ptr<State> m_state;
    std::function<void()> m_onShow;
};

} // namespace app
