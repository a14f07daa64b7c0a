#include "form1.h"

#include "about/frmabout.h"
#include "app/exit.h"
#include "app/module1.h"
#include "sampler/thermal.h"
#include "toolkit/dispatch.h"
#include "toolkit/error.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

tk::Global<popup::Form1> Form1;

namespace popup {
namespace {

const QString kDegrees = QStringLiteral("°c");
const QString kNoReading = QStringLiteral("--°c");

tk::Design design()
{
    tk::Design d;
    d.caption = QStringLiteral("Kelvane");
    d.border = tk::Border::None;
    d.taskbarButton = false;
    d.placement = tk::Placement::Stored;
    d.left = 7545;
    d.top = 2145;
    d.clientWidth = 2775;
    d.clientHeight = 1215;
    d.background = QColor(0xFF, 0xFF, 0xFF);
    return d;
}

} // namespace

Form1::Form1() : tk::Form(design())
{
    setObjectName(QStringLiteral("Form1"));
}

void Form1::build(tk::FormWindow& w)
{
    using tk::Label;
    using tk::Shape;
    using tk::Timer;

    auto* command1 = new tk::CommandButton(&w, QStringLiteral("Command1"),
                                           QStringLiteral("Command1"), {1560, 2160, 615, 615});
    Command1 = command1;
    Timer3 = new Timer(&w, QStringLiteral("Timer3"), 1, false);
    Timer2 = new Timer(&w, QStringLiteral("Timer2"), 1, false);
    Timer1 = new Timer(&w, QStringLiteral("Timer1"), 500, true);

    auto* temp =
        new Label(&w, QStringLiteral("gputemp"), QStringLiteral("xxx°c"), {1680, 120, 735, 255});
    temp->setForeColor(tk::bgr(0x000000));
    temp->setBackColor(tk::bgr(0xC0C0FF));
    gputemp = temp;

    auto* peak = new Label(&w, QStringLiteral("piquegputemp"), QStringLiteral("xxx°c"),
                           {2160, 360, 495, 255});
    peak->setBackColor(tk::bgr(0x8080FF));
    piquegputemp = peak;

    auto* label2 = new Label(&w, QStringLiteral("Label2"),
                             QStringLiteral("Pique GPU Temperature :"), {240, 360, 1935, 255});
    label2->setBackColor(tk::bgr(0x0000FF));
    Label2 = label2;

    auto* label4 = new Label(&w, QStringLiteral("Label4"), QStringLiteral("GPU Temperature :"),
                             {240, 120, 1455, 255});
    label4->setBackColor(tk::bgr(0x8080FF));
    Label4 = label4;

    auto* label6 = new Label(&w, QStringLiteral("Label6"), QStringLiteral("Quillip2007"),
                             {120, 840, 855, 255});
    label6->setForeColor(tk::bgr(0x800000));
    label6->setPointer(tk::Pointer::SizeAll);
    Label6 = label6;

    auto* shape4 = new Shape(&w, QStringLiteral("Shape4"), {0, 720, 2775, 495});
    auto* shape3 = new Shape(&w, QStringLiteral("Shape3"), {1080, 840, 735, 255});
    auto* shape2 = new Shape(&w, QStringLiteral("Shape2"), {1920, 840, 735, 255});
    Shape4 = shape4;
    Shape3 = shape3;
    Shape2 = shape2;

    auto* label5 =
        new Label(&w, QStringLiteral("Label5"), QStringLiteral("Quitter"), {1920, 840, 735, 255});
    label5->setBackColor(tk::bgr(0xE0E0E0));
    label5->setOpaque(true);
    label5->setCentred(true);
    label5->setPointer(tk::Pointer::SizeAll);
    Label5 = label5;

    auto* shape1 = new Shape(&w, QStringLiteral("Shape1"), {0, 0, 2775, 735});
    Shape1 = shape1;

    auto* label7 =
        new Label(&w, QStringLiteral("Label7"), QStringLiteral("Masqué"), {1080, 840, 735, 255});
    label7->setBackColor(tk::bgr(0xE0E0E0));
    label7->setOpaque(true);
    label7->setCentred(true);
    label7->setPointer(tk::Pointer::SizeAll);
    Label7 = label7;

    tk::stackFrontToBack(
        {temp, peak, label2, label4, label6, shape4, shape3, shape2, label5, shape1, label7});
    command1->raise();
    command1->setFocus();

    Label5->onClick([] { app::exitSequence(); });
    Label6->onClick([] { frmabout->show(); });
    Label7->onClick([this] { slideDown(); });
    command1->onClick([] { Form2->show(); });
    Timer1->onTick([this] { timer1Tick(); });
    Timer2->onTick([this] { timer2Tick(); });
    Timer3->onTick([this] { timer3Tick(); });
}

float Form1::restingTop()
{
    return tk::checked(tk::screen().height() - ::Form1->height() - taskbarAllowance);
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
    Module1::peakText = QStringLiteral("0");
    self.m_hasReading = false;
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
}

void Form1::timer1Tick()
{
    showReading([](qint32* core, qint32* ambient, qint32* upper) {
        return sampler::NvCplGetThermalSettings(0, core, ambient, upper);
    });
}

void Form1::readingArrived()
{
    showReading(&sampler::latestThermalSettings);
}

void Form1::showReading(qint32 (*query)(qint32* core, qint32* ambient, qint32* upper))
{
    tk::ResumeNext next;
    qint32 core = 0;
    qint32 ambient = 0;
    qint32 upper = 0;
    qint32 result = -1;
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

    next([&] { gputemp->setCaption(QString::number(core) + kDegrees); });
    next([&] { gputemp->setTip(sampler::lastOutcome().detail); });
    bool keep = false;
    next([&] { keep = tk::toDouble(Module1::peakText) >= core; });
    if (!keep)
        next([&] { Module1::peakText = QString::number(core); });
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

} // namespace popup
