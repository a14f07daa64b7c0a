#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace app {

// One Kelvane per user and display. A lock decides who is first; a second
// start asks the running one, over a private channel, to bring its popup
// back, since without a notification area nothing else can.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        First,          // this process is the one; show requests reach it
        Forwarded,      // another one runs and took the request
        AlreadyRunning, // another one runs but could not be asked
        Alone,          // no private folder: nothing could be decided
    };

    // The folder keeps the lock and the channel; it must be the user's own.
    explicit SingleInstance(QString folder = privateFolder(), QString display = currentDisplay());
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    Role start(std::function<void()> onShowRequest);

    // Why single instance is not fully in force, for one line on stderr;
    // empty when it is.
    QString problem() const { return m_problem; }

    QString lockPath() const;
    QString socketPath() const;

    // The user's runtime folder, or else a folder of the user's own under
    // the temporary folder; empty when neither is private to the user.
    static QString privateFolder();
    // The display this session shows on, normalised.
    static QString currentDisplay();
    // Host and display number: ":0", ":0.0" and "unix:0" are one display.
    static QString normaliseDisplay(const QString& display);

    // The one request a second start sends, and the answer it waits for.
    static constexpr char kRequest[] = "show\n";
    static constexpr char kAnswer[] = "ok\n";

private:
    struct State;
    static QString nameFor(QString display);
    bool takeLock();
    bool listen();
    bool forward();
    void serve();

    QString m_folder;
    QString m_name;
    QString m_problem;
    std::unique_ptr<State> m_state;
    std::function<void()> m_onShow;
};

} // namespace app
