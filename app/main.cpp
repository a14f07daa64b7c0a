#include "app/kelvane.h"
#include "toolkit/dispatch.h"

int main(int argc, char** argv)
{
    return tk::guardProgram([&] { return app::run(argc, argv); });
}
