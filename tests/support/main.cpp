// Every test program runs its tests inside the toolkit's application, and an
// error report fails the test that caused it instead of opening a box.
#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    tk::Application application(argc, argv);
    tk::setFatalReporter([](const std::string& message) {
        ADD_FAILURE() << "unexpected error report: " << message;
    });
    return RUN_ALL_TESTS();
}
