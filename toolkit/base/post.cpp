#include "post.h"

#include <atomic>

namespace tk {
namespace {

std::atomic<Poster> g_poster{nullptr};

} // namespace

void post(std::function<void()> work)
{
    if (const Poster poster = g_poster.load())
        poster(std::move(work));
}

void setPoster(Poster poster)
{
    g_poster.store(poster);
}

} // namespace tk
