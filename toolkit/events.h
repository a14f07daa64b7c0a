#pragma once

#include "types.h"

#include <memory>

namespace tk {

// Runs a handler on the user-interface thread whenever a file descriptor has
// something to read, until destroyed. Unix only.
class ReadWatch final : Fixed {
public:
    ReadWatch(int fd, Handler onReadable);
    ~ReadWatch();

private:
    struct Native;
    std::unique_ptr<Native> m_native;
};

// Runs a handler once, after a delay, unless stopped or destroyed first.
class OneShot final : Fixed {
public:
    OneShot();
    ~OneShot();

    void start(int delayMs, Handler handler);
    void stop();

private:
    struct Native;
    std::unique_ptr<Native> m_native;
};

} // namespace tk
