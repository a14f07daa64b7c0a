#include "frmabout.h"

#include "resources/icons.h"

tk::Global<about::frmabout> frmabout;

namespace about {
namespace {

tk::Design design()
{
    tk::Design d;
    d.caption = QStringLiteral("Kelvane");
    d.border = tk::Border::FixedSingle;
    d.taskbarButton = true;
    d.placement = tk::Placement::CentreScreen;
    d.clientWidth = 2070;
    d.clientHeight = 1575;
    d.icon = tk::Picture(resources::aboutIcon());
    return d;
}

} // namespace

frmabout::frmabout() : tk::Form(design())
{
    setObjectName(QStringLiteral("frmabout"));
}

void frmabout::build(tk::FormWindow& w)
{
    auto* ok = new tk::CommandButton(&w, QStringLiteral("Command1"), QStringLiteral("Ok"),
                                     {480, 840, 1095, 375});
    Command1 = ok;
    auto* image = new tk::Image(&w, QStringLiteral("Image19"), icon(), {120, 120, 480, 480});
    Image19 = image;
    auto* title = new tk::Label(&w, QStringLiteral("Label3"), QStringLiteral("Kelvane"),
                                {840, 240, 1215, 255});
    title->setBackColor(tk::bgr(0x00FF00));
    Label3 = title;
    auto* credit = new tk::Label(&w, QStringLiteral("Label4"),
                                 QStringLiteral("Kelvane developers, 2026"), {0, 1320, 2055, 255});
    credit->setBackColor(tk::bgr(0x80FFFF));
    credit->setCentred(true);
    Label4 = credit;

    tk::stackFrontToBack({image, title, credit});
    ok->raise();
    ok->setFocus();
    ok->onClick([this] { unload(); });
}

} // namespace about
