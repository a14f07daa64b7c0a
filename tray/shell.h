#pragma once

#include <QByteArray>
#include <QString>
#include <QSystemTrayIcon>
#include <QtGlobal>

namespace tray {

constexpr qint32 NIM_ADD = 0;
constexpr qint32 NIM_DELETE = 2;
constexpr qint32 NIF_MESSAGE = 1;
constexpr qint32 NIF_ICON = 2;
constexpr qint32 NIF_TIP = 4;

// The mouse messages the notification area reports.
constexpr int WM_MOUSEMOVE = 512;
constexpr int WM_LBUTTONDOWN = 513;
constexpr int WM_LBUTTONUP = 514;
constexpr int WM_LBUTTONDBLCLK = 515;
constexpr int WM_RBUTTONDOWN = 516;
constexpr int WM_MBUTTONDOWN = 519;

constexpr int kTipLength = 64;
constexpr int kRecordSize = 88;

// The notification record of a tray icon, in the program's own form.
struct TrayIconRecord {
    qint32 cbSize = 0;
    quint32 hWnd = 0;
    qint32 uID = 0;
    qint32 uFlags = 0;
    qint32 uCallbackMessage = 0;
    quint32 hIcon = 0;
    QString szTip;
};

// The 88-byte ANSI layout handed to the shell: six little-endian 32-bit
// integers, then 64 bytes of zero-padded tip text.
QByteArray toAnsi(const TrayIconRecord& record);
TrayIconRecord fromAnsi(const QByteArray& bytes);

// Adds or deletes a notification-area icon. The icon's clicks reach the form
// whose window handle is in the record, as the mouse message in the X of a
// mouse-move event. Returns non-zero on success.
qint32 Shell_NotifyIconA(qint32 operation, TrayIconRecord& record);

// The mouse message a click on the icon stands for, or 0 for none.
int mouseMessageFor(QSystemTrayIcon::ActivationReason reason);

// Turns the X of a notification back into its mouse message: X is pixels in
// twips, and a quotient halfway between two integers goes to the even one.
int decodeMouseMessage(float x, float twipsPerPixel);

// Whether an icon with this window handle and identifier is registered.
bool iconRegistered(quint32 hWnd, qint32 id);

// The Qt tray icon behind a registered icon, for tests and diagnostics.
QSystemTrayIcon* trayIconFor(quint32 hWnd, qint32 id);

} // namespace tray
