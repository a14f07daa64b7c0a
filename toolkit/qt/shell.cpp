#include "qt.h"
#include "sni.h"

#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/form.h"
#include "toolkit/picture.h"
#include "toolkit/screen.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <utility>

namespace tk::qt {
namespace {

using Key = std::pair<WindowHandle, std::int32_t>;

void deliver(WindowHandle hWnd, std::int32_t callbackMessage, int mouseMessage)
{
    Q_UNUSED(callbackMessage);
    if (mouseMessage == 0)
        return;
    Form* form = Form::fromHandle(hWnd);
    if (!form)
        return;
    const float x = static_cast<float>(mouseMessage) * screen().twipsPerPixelX();
    form->deliverMouseMove(0, 0, x, 0);
}

// One icon, shown in exactly one notification area: a StatusNotifierItem
// host while one is registered on the session bus, else the XEmbed tray.
// Qt 6.4 chooses its own tray backend once per process, at the first icon,
// so an XEmbed icon is only ever made while no StatusNotifierWatcher runs.
class IconHost final {
public:
    explicit IconHost(const TrayIconRecord& in)
        : m_icon((in.uFlags & NIF_ICON) ? iconOf(Picture::fromHandle(in.hIcon)) : QIcon()),
          m_tip((in.uFlags & NIF_TIP) ? QString::fromStdString(in.szTip) : QString()),
          m_hWnd(in.hWnd), m_message((in.uFlags & NIF_MESSAGE) ? in.uCallbackMessage : 0)
    {
        m_sni = std::make_unique<StatusNotifierItem>(
            m_icon, [this](int mouseMessage) { notify(mouseMessage); });
        m_sni->onRegisteredChanged([this](bool registered) {
            if (registered)
                m_xembed.reset();
            else
                showXEmbed();
        });
        if (!StatusNotifierItem::watcherPresent())
            showXEmbed();
    }

private:
    void notify(int mouseMessage) const
    {
        if (m_message)
            deliver(m_hWnd, m_message, mouseMessage);
    }

    void showXEmbed()
    {
        if (m_xembed || StatusNotifierItem::watcherPresent())
            return;
        m_xembed = std::make_unique<QSystemTrayIcon>();
        if (!m_icon.isNull())
            m_xembed->setIcon(m_icon);
        if (!m_tip.isEmpty())
            m_xembed->setToolTip(m_tip);
        QObject::connect(m_xembed.get(), &QSystemTrayIcon::activated, m_xembed.get(),
                         [this](auto reason) { notify(mouseMessageFor(reason)); });
        // Shown even without a notification area: Qt docks it as soon as one
        // appears, and again whenever one restarts.
        m_xembed->show();
    }

    QIcon m_icon;
    QString m_tip;
    WindowHandle m_hWnd;
    std::int32_t m_message;
    std::unique_ptr<StatusNotifierItem> m_sni;
    std::unique_ptr<QSystemTrayIcon> m_xembed;
};

std::map<Key, std::unique_ptr<IconHost>>& icons()
{
    // Left to the process's end rather than destroyed by exit(), which may
    // come after the application (see tk::releaseInstances()).
    static auto* table = new std::map<Key, std::unique_ptr<IconHost>>;
    return *table;
}

void warnNoNotificationArea()
{
    static bool warned = false;
    if (warned || StatusNotifierItem::watcherPresent() || QSystemTrayIcon::isSystemTrayAvailable())
        return;
    warned = true;
    std::fprintf(stderr, "kelvane: no notification area found; the icon will appear when one "
                         "starts. Until then, run kelvane again to bring a hidden popup back.\n");
    std::fflush(stderr);
}

} // namespace

int mouseMessageFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONDOWN;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONDOWN;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONDOWN;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return 0;
}

} // namespace tk::qt

namespace tk {

using namespace qt;

std::int32_t backend::notifyIcon(std::int32_t operation, TrayIconRecord& record)
{
    const Key key{record.hWnd, record.uID};
    std::int32_t result = 0;

    if (operation == NIM_ADD && icons().find(key) == icons().end()) {
        warnNoNotificationArea();
        icons().emplace(key, std::make_unique<IconHost>(record));
        result = 1;
    } else if (operation == NIM_DELETE) {
        auto it = icons().find(key);
        if (it != icons().end()) {
            icons().erase(it);
            result = 1;
        }
    }

    return result;
}

std::int32_t trayRecordSize()
{
    return kRecordSize;
}

bool iconRegistered(WindowHandle hWnd, std::int32_t id)
{
    return icons().find({hWnd, id}) != icons().end();
}

} // namespace tk
