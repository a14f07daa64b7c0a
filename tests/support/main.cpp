// Every test program runs its tests inside the toolkit's application, an
// error report fails the test that caused it instead of opening a box, and
// every test ends with the global instances released.
#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    tk::Application application(argc, argv);
    tk::setPoster(tk::postToDispatch);
    tk::setFatalReporter([](const std::string& message) {
        ADD_FAILURE() << "unexpected error report: " << message;
    });
    // No test leaves a form or an instance behind for the next.
    struct ReleaseInstances final : testing::EmptyTestEventListener {
        void OnTestEnd(const testing::TestInfo&) override { tk::releaseInstances(); }
    };
    testing::UnitTest::GetInstance()->listeners().Append(new ReleaseInstances);
    return RUN_ALL_TESTS();
}
