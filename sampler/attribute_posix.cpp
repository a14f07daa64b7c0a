#include "attribute.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sampler {

std::optional<std::string> readAttributeFile(const std::string& path, std::size_t limit)
{
    // A FIFO, socket or device node where an attribute should be would block
    // the read or have side effects: only regular files are opened, and
    // without waiting.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string data(limit + 1, '\0');
    std::size_t total = 0;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (ok && total < data.size()) {
        const ssize_t n = ::read(fd, data.data() + total, data.size() - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok || total > limit)
        return std::nullopt;
    data.resize(total);
    return data;
}

} // namespace sampler
