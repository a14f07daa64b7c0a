#include "form2.h"

#include "popup/form1.h"
#include "resources/icons.h"
#include "toolkit/base/error.h"
#include "toolkit/screen.h"

#include <cmath>
#include <limits>

tk::Global<tray::Form2> Form2;

namespace tray {
namespace {

tk::Design design()
{
    tk::Design d;
    d.name = "Form2";
    d.caption = "Kelvane";
    d.border = tk::Border::Sizable;
    d.taskbarButton = true;
    d.placement = tk::Placement::WindowsDefault;
    d.clientWidth = 4680;
    d.clientHeight = 3195;
    d.icon = resources::programIcon();
    d.menus = {{"mnutest", "mnutest", {{"fdf", "fsdf"}, {"dsfds", "sdfds"}}}};
    return d;
}

} // namespace

Form2::Form2() : tk::Form(design()) {}

void Form2::build()
{
    tk::CommandButton& command3 = addButton("Command3", "Command3", {240, 1560, 495, 375});
    Command3 = command3;
    Timer1 = addTimer("Timer1", 100, true);
    tk::CommandButton& down = addButton("Command2", "down", {240, 840, 855, 495});
    Command2 = down;
    tk::CommandButton& up = addButton("Command1", "up", {240, 240, 855, 495});
    Command1 = up;
    tk::Label& label2 = addLabel("Label2", "Label2", {1200, 840, 1575, 255});
    label2.setBackColor(tk::bgr(0x0000C0));
    label2.setOpaque(true);
    Label2 = label2;
    tk::Label& label1 = addLabel("Label1", "Label1", {1200, 240, 1335, 255});
    label1.setBackColor(tk::bgr(0x0000C0));
    label1.setOpaque(true);
    Label1 = label1;

    stackFrontToBack({&label2, &label1});
    setTabOrder({&up, &down, &command3});
    up.setFocus();

    up.onClick([] { ::Form1->slideUp(); });
    down.onClick([] { ::Form1->slideDown(); });
}

void Form2::onLoad()
{
    Form2& self = ::Form2.get();
    trayRecord.cbSize = tk::trayRecordSize();
    trayRecord.hWnd = self.hWnd();
    trayRecord.uID = 1;
    trayRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayRecord.uCallbackMessage = WM_MOUSEMOVE;
    trayRecord.hIcon = self.icon();
    tk::Shell_NotifyIconA(NIM_ADD, trayRecord);
    ::Form1->show();
}

void Form2::onUnload()
{
    tk::Shell_NotifyIconA(NIM_DELETE, trayRecord);
}

void Form2::onTerminate()
{
    tk::Shell_NotifyIconA(NIM_DELETE, trayRecord);
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

int decodeMouseMessage(float x, float twipsPerPixel)
{
    const float quotient = tk::checked(x / twipsPerPixel);
    const float rounded = std::nearbyint(quotient);
    if (rounded < static_cast<float>(std::numeric_limits<std::int32_t>::min()) ||
        rounded >= static_cast<float>(std::numeric_limits<std::int32_t>::max()))
        throw tk::Error(tk::Status::Overflow, "Overflow");
    return static_cast<int>(rounded);
}

} // namespace tray
