#include "exit.h"

#include "about/frmabout.h"
#include "popup/form1.h"
#include "tray/form2.h"

namespace app {

void exitSequence()
{
    Form2->unload();
    Form1->unload();
}

void endSession()
{
    exitSequence();
    if (frmabout.exists() && frmabout->isLoaded())
        frmabout->unload();
}

} // namespace app
