#pragma once

#include "shell.h"

#include "toolkit/form.h"

namespace tray {

// The hidden start-up window: owner of the notification-area icon, and a
// small window of test controls when shown from the popup.
class Form2 final : public tk::Form {
    Q_OBJECT
public:
    Form2();
    Q_DISABLE_COPY_MOVE(Form2)

    TrayIconRecord trayRecord;

    tk::Ref<tk::CommandButton> Command3;
    tk::Ref<tk::Timer> Timer1;
    tk::Ref<tk::CommandButton> Command2;
    tk::Ref<tk::CommandButton> Command1;
    tk::Ref<tk::Label> Label2;
    tk::Ref<tk::Label> Label1;

protected:
    void build(tk::FormWindow& window) override;
    void onLoad() override;
    void onUnload() override;
    void onTerminate() override;
    void onMouseMove(int button, int shift, float x, float y) override;
};

// What a left press on the icon asks for: slide a hidden popup back up,
// unless it is on its way down.
void requestPopup();

} // namespace tray

extern tk::Global<tray::Form2> Form2;
