#pragma once

#include "base/post.h"

#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace tk {

// Every event handler enters the program through here. An error the handler
// did not catch is reported to the user and ends the program with status 1.
void dispatch(const std::function<void()>& handler) noexcept;

// The road the program gives tk::post (base/post.h), where it starts: the
// work runs through the dispatch point once the current event is done, and
// is dropped when no application exists.
void postToDispatch(std::function<void()> work);

// The whole program, from main: an error that escapes it is reported as a
// handler's is, and the program's status is then 1.
int guardProgram(const std::function<int()>& program) noexcept;

// True once an uncaught error has been reported; no handler runs after that.
bool failed() noexcept;

// Replaces the message box of a fatal report, for tests that must not block.
using FatalReporter = std::function<void(const std::string& message)>;
void setFatalReporter(FatalReporter reporter);

// Runs a handler statement by statement, each statement's error swallowed:
// a failed statement leaves what it would have changed as it was.
class ResumeNext final {
public:
    template <class Statement> void operator()(Statement&& statement) noexcept
    {
        try {
            std::forward<Statement>(statement)();
        } catch (const std::exception&) {
        }
    }
};

namespace detail {
void reportFatal(const std::string& message) noexcept;
// Called by the application as it opens and before it closes.
void acceptPosts(bool accept);
// A number for the event whose handler is running now, the same for every
// handler it runs in turn; 0 between events.
unsigned long long currentEvent() noexcept;
} // namespace detail

} // namespace tk
