#pragma once

#include "cards.h"

#include "toolkit/base/library.h"

#include <optional>
#include <string>

namespace sampler {

// What the vendor libraries' routes share: the library, whose functions are
// looked up once, and whether the card was ever read this way (a failure
// before the first reading means the route cannot read the card at all).
class VendorSource : public Source {
protected:
    VendorSource(Card card, std::string library)
        : m_card(std::move(card)), m_library(std::move(library))
    {
    }

    // Why the library cannot be used, if it cannot; looks its functions up
    // with lookUp the first time.
    template <class LookUp> std::optional<Outcome> unusableLibrary(LookUp lookUp)
    {
        if (!m_library.load())
            return Outcome{Cause::LibraryMissing, m_library.name() + " was not found"};
        if (!m_bound) {
            m_bound = true;
            lookUp();
        }
        if (!m_missing.empty())
            return Outcome{Cause::FunctionMissing,
                           m_library.name() + " has no function " + m_missing};
        return std::nullopt;
    }
    template <class F> void resolve(const char* symbol, F& fn, bool needed = true)
    {
        fn = reinterpret_cast<F>(m_library.resolve(symbol));
        if (!fn && needed && m_missing.empty())
            m_missing = symbol;
    }
    Outcome noTemperature(const char* via) const
    {
        return {m_readBefore ? Cause::QueryFailed : Cause::NoDevice,
                m_card.displayName() + " gives " + via + " no temperature"};
    }

    Card m_card;
    tk::Library m_library;
    bool m_readBefore = false;

private:
    bool m_bound = false;
    std::string m_missing;
};

} // namespace sampler
