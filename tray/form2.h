#pragma once

#include "toolkit/form.h"
#include "toolkit/shell.h"

namespace tray {

// The hidden start-up window: owner of the notification-area icon, and a
// small window of test controls when shown from the popup.
class Form2 final : public tk::Form {
public:
    Form2();

    tk::TrayIconRecord trayRecord;

    tk::Ref<tk::CommandButton> Command3;
    tk::Ref<tk::Timer> Timer1;
    tk::Ref<tk::CommandButton> Command2;
    tk::Ref<tk::CommandButton> Command1;
    tk::Ref<tk::Label> Label2;
    tk::Ref<tk::Label> Label1;

protected:
    void build() override;
    void onLoad() override;
    void onUnload() override;
    void onTerminate() override;
    void onMouseMove(int button, int shift, float x, float y) override;
};

// What a left press on the icon asks for: slide a hidden popup back up,
// unless it is on its way down.
void requestPopup();

// Turns the X of a notification back into its mouse message: X is pixels in
// twips, and a quotient halfway between two integers goes to the even one.
int decodeMouseMessage(float x, float twipsPerPixel);

} // namespace tray

extern tk::Global<tray::Form2> Form2;
