#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace app {

// One Kelvane per user and display. A second start asks the running one to
// bring its popup back, since without a notification area nothing else can.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString socketPath = defaultSocketPath());
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    static QString defaultSocketPath();

    // True when another instance took the request; this one should then exit.
    bool forwardToRunning();

    // Starts listening; false when the channel could not be opened, in which
    // case the program runs on without it.
    bool listen(std::function<void()> onShowRequest);

    // The one request a second start sends, and the answer it waits for.
    static constexpr char kRequest[] = "show\n";
    static constexpr char kAnswer[] = "ok\n";

private:
    struct Channel;
    void serve();

    QString m_path;
    std::unique_ptr<Channel> m_channel;
    std::function<void()> m_onShow;
};

} // namespace app
