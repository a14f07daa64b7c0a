#include "exit.h"

#include "about/frmabout.h"
#include "popup/form1.h"

namespace app {

void endSession()
{
    popup::exitSequence();
    if (frmabout.exists() && frmabout->isLoaded())
        frmabout->unload();
}

} // namespace app
