#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace tk::qt {

// The icon docked in an X11 notification area through XEmbed (trayer,
// IceWM, Fluxbox, Budgie's tray, GNOME Shell's legacy tray). Qt's own tray
// icon is not used: Qt makes it a StatusNotifierItem whenever a watcher runs,
// and on GNOME the icon is docked while the extension's watcher runs beside
// its tray (see IconHost). Clicks reach onMouseMessage as the mouse messages
// Windows' notification area gives.
class XEmbedIcon final : public QObject {
    Q_OBJECT

public:
    XEmbedIcon(const QIcon& icon, const QString& tip, std::function<void(int)> onMouseMessage);
    ~XEmbedIcon() override;
    Q_DISABLE_COPY_MOVE(XEmbedIcon)

    // Whether an XEmbed notification area runs on the display now.
    static bool trayPresent();

    // Docks the icon, now or as soon as a notification area runs, and again
    // whenever one restarts, until undock().
    void dock();
    void undock();
    // Called whenever a notification area starts or goes.
    void onTrayChanged(std::function<void()> handler);

private Q_SLOTS:
    void trayChanged();

private:
    QIcon m_icon;
    QString m_tip;
    std::function<void(int)> m_onMouseMessage;
    std::function<void()> m_onTrayChanged;
    std::unique_ptr<QWidget> m_window;
    bool m_wanted = false;
};

} // namespace tk::qt
