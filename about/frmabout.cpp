#include "frmabout.h"

#include "resources/icons.h"

tk::Global<about::frmabout> frmabout;

namespace about {
namespace {

tk::Design design()
{
    tk::Design d;
    d.name = "frmabout";
    d.caption = "Kelvane";
    d.border = tk::Border::FixedSingle;
    d.taskbarButton = true;
    d.placement = tk::Placement::CentreScreen;
    d.clientWidth = 2070;
    d.clientHeight = 1575;
    d.icon = resources::aboutIcon();
    return d;
}

} // namespace

frmabout::frmabout() : tk::Form(design()) {}

void frmabout::build()
{
    tk::CommandButton& ok = addButton("Command1", "Ok", {480, 840, 1095, 375});
    Command1 = ok;
    tk::Image& image = addImage("Image19", icon(), {120, 120, 480, 480});
    Image19 = image;
    tk::Label& title = addLabel("Label3", "Kelvane", {840, 240, 1215, 255});
    title.setBackColor(tk::bgr(0x00FF00));
    Label3 = title;
    tk::Label& credit = addLabel("Label4", "Kelvane developers, 2026", {0, 1320, 2055, 255});
    credit.setBackColor(tk::bgr(0x80FFFF));
    credit.setCentred(true);
    Label4 = credit;

    stackFrontToBack({&image, &title, &credit});
    bringToFront(ok);
    ok.setFocus();
    ok.onClick([this] { unload(); });
}

} // namespace about
