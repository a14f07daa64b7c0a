#pragma once

#include "toolkit/form.h"

namespace popup {

// The temperature popup at the bottom-right corner of the screen.
class Form1 final : public tk::Form {
public:
    static constexpr float taskbarAllowance = 450;
    static constexpr float slideStep = 20;

    Form1();

    // Where the popup rests when shown: screen height minus popup height
    // minus the taskbar allowance, from the current screen and popup, but
    // never lower than the top of a taller taskbar.
    static float restingTop();
    static float restingTopOn(float screenHeight, float workAreaBottom, float popupHeight,
                              float twipsPerPixel);

    // Where a popup at rest goes when the screen changes under it: one that
    // was out of sight stays as far below the new bottom edge, one that was
    // shown goes back to its resting place.
    static float reanchoredTop(float top, float oldScreenHeight, float newScreenHeight,
                               float newRestingTop);

    // A newer slide request wins over one still running, so the two never
    // run at once and cancel each other out.
    void slideUp();
    void slideDown();

    // Alt+F4 or a close button hides the popup the way "Masqué" does; only
    // "Quitter" ends the program.
    void closeRequested() override;

    tk::Ref<tk::CommandButton> Command1;
    tk::Ref<tk::Timer> Timer3;
    tk::Ref<tk::Timer> Timer2;
    tk::Ref<tk::Timer> Timer1;
    tk::Ref<tk::Label> gputemp;
    tk::Ref<tk::Label> piquegputemp;
    tk::Ref<tk::Label> Label2;
    tk::Ref<tk::Label> Label4;
    tk::Ref<tk::Label> Label6;
    tk::Ref<tk::Shape> Shape4;
    tk::Ref<tk::Shape> Shape3;
    tk::Ref<tk::Shape> Shape2;
    tk::Ref<tk::Label> Label5;
    tk::Ref<tk::Shape> Shape1;
    tk::Ref<tk::Label> Label7;

protected:
    void build() override;
    void onLoad() override;
    void onUnload() override;

private:
    void timer1Tick();
    void readingArrived();
    // Shows what a query of the sampler answered.
    void showReading(std::int32_t (*query)(std::int32_t* core, std::int32_t* ambient,
                                           std::int32_t* upper));
    void timer2Tick();
    void timer3Tick();
    void screenChanged();

    // The screen the popup was last put in its corner of.
    struct Anchor {
        float width = 0;
        float height = 0;
        float workAreaBottom = 0;
        float twipsPerPixel = 0;
        bool operator==(const Anchor&) const = default;
    };
    static Anchor currentScreen();

    bool m_hasReading = false;
    Anchor m_anchor;
};

// "Quitter": unload the tray host, then the popup. The program ends by
// itself once no form is loaded.
void exitSequence();

} // namespace popup

extern tk::Global<popup::Form1> Form1;
