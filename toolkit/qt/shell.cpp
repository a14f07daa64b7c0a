#include "qt.h"
#include "sni.h"
#include "xembed.h"

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
// GNOME Shell is the exception: its AppIndicator extension calls an item
// without a menu only on a double click (from version 58; 53 let the first
// single click through), while it hands every click straight to an icon in
// its legacy XEmbed tray. Where the watcher is GNOME Shell's and that tray
// runs, the icon is docked there and the item is passive, which the
// extension does not show.
class IconHost final {
public:
    explicit IconHost(const TrayIconRecord& in)
        : m_hWnd(in.hWnd), m_message((in.uFlags & NIF_MESSAGE) ? in.uCallbackMessage : 0)
    {
        const QIcon icon = (in.uFlags & NIF_ICON) ? iconOf(Picture::fromHandle(in.hIcon)) : QIcon();
        auto notify = [this](int mouseMessage) {
            if (m_message)
                deliver(m_hWnd, m_message, mouseMessage);
        };
        const QString tip = (in.uFlags & NIF_TIP) ? QString::fromStdString(in.szTip) : QString();
        m_xembed = std::make_unique<XEmbedIcon>(icon, tip, notify);
        m_sni = std::make_unique<StatusNotifierItem>(icon, notify);
        m_sni->onChanged([this] { choose(); });
        m_xembed->onTrayChanged([this] { choose(); });
        choose();
    }

    StatusNotifierItem& item() const { return *m_sni; }

private:
    void choose()
    {
        const bool tray = XEmbedIcon::trayPresent();
        const bool gnome = tray && m_sni->watcherIsGnomeShell();
        const bool noItem = !m_sni->exportFailure().isEmpty();
        m_sni->setPassive(gnome);
        if (gnome ||
            (tray && (noItem || (!m_sni->registered() && !StatusNotifierItem::watcherPresent()))))
            m_xembed->dock();
        else
            m_xembed->undock();
        if (noItem && !tray && !std::exchange(m_saidNoItem, true)) {
            std::fprintf(stderr,
                         "kelvane: the icon could not be offered on the session bus (%s), and "
                         "there is no X11 notification area; run kelvane again to bring a "
                         "hidden popup back.\n",
                         qPrintable(m_sni->exportFailure()));
            std::fflush(stderr);
        }
    }

    WindowHandle m_hWnd;
    std::int32_t m_message;
    std::unique_ptr<XEmbedIcon> m_xembed;
    std::unique_ptr<StatusNotifierItem> m_sni;
    bool m_saidNoItem = false;
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
    if (warned || StatusNotifierItem::watcherPresent() || XEmbedIcon::trayPresent())
        return;
    warned = true;
    std::fprintf(stderr, "kelvane: no notification area found; the icon will appear when one "
                         "starts. Until then, run kelvane again to bring a hidden popup back.\n");
    std::fflush(stderr);
}

} // namespace

StatusNotifierItem* statusNotifierItem(WindowHandle hWnd, std::int32_t id)
{
    const auto it = icons().find({hWnd, id});
    return it == icons().end() ? nullptr : &it->second->item();
}

} // namespace tk::qt

namespace tk {

using namespace qt;

std::int32_t backend::notifyIcon(std::int32_t operation, TrayIconRecord& record)
{
    const Key key{record.hWnd, record.uID};
    if (operation == NIM_ADD) {
        warnNoNotificationArea();
        icons().emplace(key, std::make_unique<IconHost>(record));
        return 1;
    }
    if (operation == NIM_DELETE)
        return icons().erase(key) ? 1 : 0;
    return 0;
}

std::int32_t trayRecordSize()
{
    return kRecordSize;
}

} // namespace tk
