#include "xembed.h"

#include "toolkit/shell.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <qpa/qplatformnativeinterface.h>

namespace tk::qt {
namespace {

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

class IconWindow final : public QWidget {
public:
    IconWindow(const QIcon& icon, const std::function<void(int)>& onMouseMessage)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint),
          m_icon(icon), m_onMouseMessage(onMouseMessage)
    {
        // Qt's X11 platform docks the window of a widget of this name in the
        // notification area as it makes it, with the tray's visual, and maps
        // it once docked; it is how Qt's own tray icon gets there (Qt 6.4 to
        // 6.8), and there is no public way in.
        setObjectName(QStringLiteral("QSystemTrayIconSys"));
        setAttribute(Qt::WA_QuitOnClose, false);
        setAttribute(Qt::WA_TranslucentBackground);
        // Some trays (trayer) give an icon the room its size hints ask for.
        setMinimumSize(22, 22);
        resize(22, 22);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        switch (event->button()) {
        case Qt::LeftButton:
            m_onMouseMessage(WM_LBUTTONDOWN);
            break;
        case Qt::RightButton:
            m_onMouseMessage(WM_RBUTTONDOWN);
            break;
        case Qt::MiddleButton:
            m_onMouseMessage(WM_MBUTTONDOWN);
            break;
        default:
            break;
        }
    }

    // The second press of a double click comes as this alone, as Windows
    // gives its double-click message in place of the second button-down.
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_onMouseMessage(WM_LBUTTONDBLCLK);
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_icon.paint(&painter, rect());
    }

private:
    QIcon m_icon;
    std::function<void(int)> m_onMouseMessage;
};

} // namespace

XEmbedIcon::XEmbedIcon(const QIcon& icon, const QString& tip,
                       std::function<void(int)> onMouseMessage)
    : m_icon(icon), m_tip(tip), m_onMouseMessage(std::move(onMouseMessage))
{
    if (onX11())
        connect(QGuiApplication::platformNativeInterface(),
                SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(trayChanged()));
}

XEmbedIcon::~XEmbedIcon() = default;

bool XEmbedIcon::trayPresent()
{
    return onX11() && QGuiApplication::platformNativeInterface()->nativeResourceForScreen(
                          QByteArrayLiteral("traywindow"), QGuiApplication::primaryScreen());
}

void XEmbedIcon::dock()
{
    m_wanted = true;
    if (m_window || !trayPresent())
        return;
    m_window = std::make_unique<IconWindow>(m_icon, m_onMouseMessage);
    if (!m_tip.isEmpty())
        m_window->setToolTip(m_tip);
    m_window->show();
}

void XEmbedIcon::undock()
{
    m_wanted = false;
    // Destroyed rather than hidden: trays give the room back when the
    // window goes, some only then.
    m_window.reset();
}

void XEmbedIcon::onTrayChanged(std::function<void()> handler)
{
    m_onTrayChanged = std::move(handler);
}

void XEmbedIcon::trayChanged()
{
    // The window docked in a tray that went is no use in the next one.
    m_window.reset();
    if (m_wanted)
        dock();
    if (m_onTrayChanged)
        m_onTrayChanged();
}

} // namespace tk::qt
