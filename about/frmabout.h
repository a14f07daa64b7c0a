#pragma once

#include "toolkit/form.h"

namespace about {

// The About dialog opened from the popup's credit label.
class frmabout final : public tk::Form {
public:
    frmabout();

    tk::Ref<tk::CommandButton> Command1;
    tk::Ref<tk::Image> Image19;
    tk::Ref<tk::Label> Label3;
    tk::Ref<tk::Label> Label4;

protected:
    void build() override;
};

} // namespace about

extern tk::Global<about::frmabout> frmabout;
