#include "form1.h"

#include "about/frmabout.h"
#include "module1.h"
#include "sampler/thermal.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#include <cmath>

tk::Global<popup::Form1> Form1;

namespace popup {
namespace {

const std::string kDegrees = "°c";
const std::string kNoReading = "--°c";

tk::Design design()
{
    tk::Design d;
    d.name = "Form1";
    d.caption = "Kelvane";
    d.border = tk::Border::None;
    d.taskbarButton = false;
    d.placement = tk::Placement::Stored;
    d.left = 7545;
    d.top = 2145;
    d.clientWidth = 2775;
    d.clientHeight = 1215;
    d.background = tk::bgr(0xFFFFFF);
    return d;
}

} // namespace

Form1::Form1() : tk::Form(design()) {}

void Form1::build()
{
    tk::CommandButton& command1 = addButton("Command1", "Command1", {1560, 2160, 615, 615});
    Command1 = command1;
    Timer3 = addTimer("Timer3", 1, false);
    Timer2 = addTimer("Timer2", 1, false);
    Timer1 = addTimer("Timer1", 500, true);

    tk::Label& temp = addLabel("gputemp", "xxx°c", {1680, 120, 735, 255});
    temp.setForeColor(tk::bgr(0x000000));
    temp.setBackColor(tk::bgr(0xC0C0FF));
    gputemp = temp;

    tk::Label& peak = addLabel("piquegputemp", "xxx°c", {2160, 360, 495, 255});
    peak.setBackColor(tk::bgr(0x8080FF));
    piquegputemp = peak;

    tk::Label& label2 = addLabel("Label2", "Pique GPU Temperature :", {240, 360, 1935, 255});
    label2.setBackColor(tk::bgr(0x0000FF));
    Label2 = label2;

    tk::Label& label4 = addLabel("Label4", "GPU Temperature :", {240, 120, 1455, 255});
    label4.setBackColor(tk::bgr(0x8080FF));
    Label4 = label4;

    tk::Label& label6 = addLabel("Label6", "Quillip2007", {120, 840, 855, 255});
    label6.setForeColor(tk::bgr(0x800000));
    label6.setPointer(tk::Pointer::SizeAll);
    Label6 = label6;

    tk::Shape& shape4 = addShape("Shape4", {0, 720, 2775, 495});
    tk::Shape& shape3 = addShape("Shape3", {1080, 840, 735, 255});
    tk::Shape& shape2 = addShape("Shape2", {1920, 840, 735, 255});
    Shape4 = shape4;
    Shape3 = shape3;
    Shape2 = shape2;

    tk::Label& label5 = addLabel("Label5", "Quitter", {1920, 840, 735, 255});
    label5.setBackColor(tk::bgr(0xE0E0E0));
    label5.setOpaque(true);
    label5.setCentred(true);
    label5.setPointer(tk::Pointer::SizeAll);
    Label5 = label5;

    tk::Shape& shape1 = addShape("Shape1", {0, 0, 2775, 735});
    Shape1 = shape1;

    tk::Label& label7 = addLabel("Label7", "Masqué", {1080, 840, 735, 255});
    label7.setBackColor(tk::bgr(0xE0E0E0));
    label7.setOpaque(true);
    label7.setCentred(true);
    label7.setPointer(tk::Pointer::SizeAll);
    Label7 = label7;

    stackFrontToBack({&temp, &peak, &label2, &label4, &label6, &shape4, &shape3, &shape2, &label5,
                      &shape1, &label7});
    bringToFront(command1);
    command1.setFocus();

    label5.onClick([] { exitSequence(); });
    label6.onClick([] { frmabout->show(); });
    label7.onClick([this] { slideDown(); });
    command1.onClick([] { Form2->show(); });
    Timer1->onTick([this] { timer1Tick(); });
    Timer2->onTick([this] { timer2Tick(); });
    Timer3->onTick([this] { timer3Tick(); });
}

float Form1::restingTop()
{
    const tk::Screen& s = tk::screen();
    return restingTopOn(s.height(), s.workAreaBottom(), ::Form1->height(), s.twipsPerPixelY());
}

float Form1::restingTopOn(float screenHeight, float workAreaBottom, float popupHeight,
                          float twipsPerPixel)
{
    const float allowed = tk::checked(screenHeight - popupHeight - taskbarAllowance);
    // A taskbar taller than the allowance (Windows 11's is 48 pixels, KDE's
    // and Xfce's panels 44 to 48) stays above ordinary windows and would
    // cover "Masqué" and "Quitter". The popup then rests on its top edge, at
    // a whole pixel so that rounding never puts its last row under it.
    const float onTaskbar = tk::checked(workAreaBottom - popupHeight);
    if (allowed <= onTaskbar)
        return allowed;
    return tk::checked(std::floor(onTaskbar / twipsPerPixel) * twipsPerPixel);
}

float Form1::reanchoredTop(float top, float oldScreenHeight, float newScreenHeight,
                           float newRestingTop)
{
    if (top >= oldScreenHeight)
        return tk::checked(newScreenHeight + (top - oldScreenHeight));
    return newRestingTop;
}

Form1::Anchor Form1::currentScreen()
{
    const tk::Screen& s = tk::screen();
    return {s.width(), s.height(), s.workAreaBottom(), s.twipsPerPixelX()};
}

void Form1::screenChanged()
{
    const Anchor now = currentScreen();
    if (now == m_anchor)
        return;
    const float oldHeight = m_anchor.height;
    m_anchor = now;
    setLeft(tk::checked(now.width - width()));
    // A slide on its way finishes against the new screen by itself.
    if (Timer2->enabled() || Timer3->enabled())
        return;
    setTop(reanchoredTop(top(), oldHeight, now.height, restingTop()));
}

void Form1::slideUp()
{
    Timer3->setEnabled(false);
    Timer2->setEnabled(true);
}

void Form1::slideDown()
{
    Timer2->setEnabled(false);
    Timer3->setEnabled(true);
}

void Form1::closeRequested()
{
    slideDown();
}

void Form1::onLoad()
{
    Form1& self = ::Form1.get();
    self.setLeft(tk::checked(tk::screen().width() - self.width()));
    self.setTop(restingTop());
    Module1::peakText = "0";
    self.m_hasReading = false;
    self.m_anchor = currentScreen();
    // A new resolution, scale or taskbar puts the popup back in its corner.
    tk::screen().onChange([] {
        if (::Form1.exists() && ::Form1->isLoaded())
            ::Form1->screenChanged();
    });
    // The peak counts from the first reading taken after the load.
    sampler::forgetReadings();
    // Readings arrive between ticks; the first one shows as soon as it is in.
    sampler::setReadingListener([] {
        if (::Form1.exists() && ::Form1->isLoaded())
            ::Form1->readingArrived();
    });
}

void Form1::onUnload()
{
    sampler::setReadingListener({});
    tk::screen().onChange({});
}

void Form1::timer1Tick()
{
    showReading([](std::int32_t* core, std::int32_t* ambient, std::int32_t* upper) {
        return sampler::NvCplGetThermalSettings(0, core, ambient, upper);
    });
}

void Form1::readingArrived()
{
    showReading(&sampler::latestThermalSettings);
}

void Form1::showReading(std::int32_t (*query)(std::int32_t* core, std::int32_t* ambient,
                                              std::int32_t* upper))
{
    tk::ResumeNext next;
    std::int32_t core = 0;
    std::int32_t ambient = 0;
    std::int32_t upper = 0;
    std::int32_t result = -1;
    next([&] { result = query(&core, &ambient, &upper); });
    if (result != 0) {
        // The first reading is still on its way: nothing to show yet.
        if (sampler::lastOutcome().cause == sampler::Cause::Pending)
            return;
        // Never show a number that was not read.
        next([&] { gputemp->setCaption(kNoReading); });
        next([&] { gputemp->setTip(sampler::lastOutcome().detail); });
        if (!m_hasReading)
            next([&] { piquegputemp->setCaption(kNoReading); });
        return;
    }
    m_hasReading = true;

    next([&] { gputemp->setCaption(std::to_string(core) + kDegrees); });
    next([&] { gputemp->setTip(sampler::lastOutcome().detail); });
    bool keep = false;
    next([&] { keep = tk::toDouble(Module1::peakText) >= core; });
    if (!keep)
        next([&] { Module1::peakText = std::to_string(core); });
    next([&] { piquegputemp->setCaption(Module1::peakText + kDegrees); });
}

void Form1::timer2Tick()
{
    if (restingTop() >= top())
        Timer2->setEnabled(false);
    setTop(tk::checked(top() - slideStep));
}

void Form1::timer3Tick()
{
    if (top() >= tk::screen().height())
        Timer3->setEnabled(false);
    setTop(tk::checked(top() + slideStep));
}

void exitSequence()
{
    ::Form2->unload();
    ::Form1->unload();
}

} // namespace popup
