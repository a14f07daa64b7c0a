#pragma once

#include "types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// The program's one hidden top-level window on Windows, of the class
// "Kelvane": where the system and other programs (a second start, the
// installer) reach the program. They find it by its title, and their
// messages go to the handler for that message number. Windows only; while
// the application exists.
void setProgramWindowTitle(const std::string& title);
using ProgramMessageHandler = std::function<std::intptr_t(std::uintptr_t, std::intptr_t)>;
void onProgramMessage(unsigned message, ProgramMessageHandler handler);

} // namespace tk
