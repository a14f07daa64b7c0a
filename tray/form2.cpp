#include "form2.h"

#include "popup/form1.h"
#include "resources/icons.h"
#include "toolkit/screen.h"

#include <QMenuBar>
#include <QVBoxLayout>

tk::Global<tray::Form2> Form2;

namespace tray {
namespace {

tk::Design design()
{
    tk::Design d;
    d.caption = QStringLiteral("Kelvane");
    d.border = tk::Border::Sizable;
    d.taskbarButton = true;
    d.placement = tk::Placement::WindowsDefault;
    d.clientWidth = 4680;
    d.clientHeight = 3195;
    d.icon = tk::Picture(resources::programIcon());
    return d;
}

} // namespace

Form2::Form2() : tk::Form(design())
{
    setObjectName(QStringLiteral("Form2"));
}

void Form2::build(tk::FormWindow& w)
{
    // The menu bar sits above the client area, which keeps its design size.
    auto* layout = new QVBoxLayout(&w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QMenuBar* bar = addMenuBar(w);
    QMenu* menu = bar->addMenu(QStringLiteral("mnutest"));
    menu->setObjectName(QStringLiteral("mnutest"));
    menu->addAction(QStringLiteral("fsdf"))->setObjectName(QStringLiteral("fdf"));
    menu->addAction(QStringLiteral("sdfds"))->setObjectName(QStringLiteral("dsfds"));
    layout->setMenuBar(bar);
    auto* client = new QWidget(&w);
    client->setObjectName(QStringLiteral("client"));
    layout->addWidget(client);
    w.resize(w.width(), w.height() + bar->sizeHint().height());

    auto* command3 = new tk::CommandButton(client, QStringLiteral("Command3"),
                                           QStringLiteral("Command3"), {240, 1560, 495, 375});
    Command3 = command3;
    Timer1 = new tk::Timer(&w, QStringLiteral("Timer1"), 100, true);
    auto* down = new tk::CommandButton(client, QStringLiteral("Command2"), QStringLiteral("down"),
                                       {240, 840, 855, 495});
    Command2 = down;
    auto* up = new tk::CommandButton(client, QStringLiteral("Command1"), QStringLiteral("up"),
                                     {240, 240, 855, 495});
    Command1 = up;
    auto* label2 = new tk::Label(client, QStringLiteral("Label2"), QStringLiteral("Label2"),
                                 {1200, 840, 1575, 255});
    label2->setBackColor(tk::bgr(0x0000C0));
    label2->setOpaque(true);
    Label2 = label2;
    auto* label1 = new tk::Label(client, QStringLiteral("Label1"), QStringLiteral("Label1"),
                                 {1200, 240, 1335, 255});
    label1->setBackColor(tk::bgr(0x0000C0));
    label1->setOpaque(true);
    Label1 = label1;

    tk::stackFrontToBack({label2, label1});
    QWidget::setTabOrder(up, down);
    QWidget::setTabOrder(down, command3);
    up->setFocus();

    up->onClick([] { ::Form1->slideUp(); });
    down->onClick([] { ::Form1->slideDown(); });
}

void Form2::onLoad()
{
    Form2& self = ::Form2.get();
    trayRecord.cbSize = kRecordSize;
    trayRecord.hWnd = self.hWnd();
    trayRecord.uID = 1;
    trayRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayRecord.uCallbackMessage = WM_MOUSEMOVE;
    trayRecord.hIcon = self.icon();
    Shell_NotifyIconA(NIM_ADD, trayRecord);
    ::Form1->show();
}

void Form2::onUnload()
{
    Shell_NotifyIconA(NIM_DELETE, trayRecord);
}

void Form2::onTerminate()
{
    Shell_NotifyIconA(NIM_DELETE, trayRecord);
}

void Form2::onMouseMove(int, int, float x, float)
{
    if (decodeMouseMessage(x, tk::screen().twipsPerPixelX()) != WM_LBUTTONDOWN)
        return;
    requestPopup();
}

void requestPopup()
{
    popup::Form1& popup = ::Form1.get();
    if (popup.Timer3->enabled())
        return;
    if (popup::Form1::restingTop() >= popup.top())
        popup.Timer2->setEnabled(false);
    else
        popup.slideUp();
}

} // namespace tray
