#include "icons.h"

namespace resources {

tk::Picture programIcon()
{
    return tk::Picture("kelvane");
}

tk::Picture aboutIcon()
{
    return tk::Picture("kelvane_about");
}

} // namespace resources
