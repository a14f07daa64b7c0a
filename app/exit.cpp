#include "exit.h"

#include "popup/form1.h"
#include "tray/form2.h"

namespace app {

void exitSequence()
{
    Form2->unload();
    Form1->unload();
}

} // namespace app
