#include "cards.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <tuple>

namespace sampler {
namespace {

constexpr unsigned kMicrosoft = 0x1414; // the Basic Render Driver and other software adapters

bool unusable(Cause cause)
{
    return cause == Cause::LibraryMissing || cause == Cause::FunctionMissing ||
           cause == Cause::InitFailed || cause == Cause::NoDevice;
}

std::vector<Route Routes::*> routesFor(unsigned vendor)
{
    switch (vendor) {
    case 0x10de:
        return {&Routes::nvml, &Routes::kernel};
    case 0x1002:
        return {&Routes::kernel, &Routes::adl};
    case 0x8086:
        return {&Routes::kernel, &Routes::igcl};
    default:
        return {&Routes::kernel};
    }
}

class Chooser final : public Source {
public:
    Chooser(CardLister lister, Routes routes)
        : m_lister(std::move(lister)), m_routes(std::move(routes))
    {
    }

    Outcome read(unsigned index, Reading& reading) override
    {
        if (!m_listed)
            list();
        for (Candidate& c : m_candidates) {
            if (c.next == c.sources.size())
                continue;
            const std::optional<PowerData> power = m_lister.power(c.card);
            if (power && power->state != 1) {
                release(c);
                const bool known = power->state >= 2 && power->state <= 4;
                return {Cause::Asleep,
                        c.card.displayName() +
                            (known ? " is asleep (D" + std::to_string(power->state - 1) + ")"
                                   : " is in an unknown power state") +
                            "; Kelvane does not wake it"};
            }
            while (c.next < c.sources.size()) {
                Source& source = *c.sources[c.next];
                const Outcome outcome = source.read(index, reading);
                if (!unusable(outcome.cause)) {
                    // A card that sleeps at run time is never held open.
                    if (power && power->canSleep)
                        source.shutdown();
                    return outcome;
                }
                source.shutdown();
                if (m_why.empty())
                    m_why = outcome.detail; // the first card's reason
                ++c.next;
            }
        }
        return {Cause::NoDevice,
                m_why.empty() ? "No graphics card with a temperature sensor was found" : m_why};
    }

    void shutdown() override
    {
        for (Candidate& c : m_candidates)
            release(c);
    }

private:
    struct Candidate {
        Card card;
        std::vector<std::unique_ptr<Source>> sources;
        std::size_t next = 0;
    };

    void list()
    {
        m_listed = true;
        std::vector<Card> cards = m_lister.cards();
        // Software adapters and Wine's own read nothing; a card without a
        // location comes after those with one.
        std::erase_if(cards, [](const Card& c) { return c.vendor == 0 || c.vendor == kMicrosoft; });
        const auto key = [](const Card& c) {
            return std::make_tuple(!c.bus, c.bus.value_or(0), c.slot.value_or(0),
                                   c.function.value_or(0), c.token);
        };
        std::sort(cards.begin(), cards.end(),
                  [&key](const Card& a, const Card& b) { return key(a) < key(b); });
        if (cards.empty() && m_routes.nvml) {
            // Nothing listed (an older system, or Wine): NVML finds its own
            // first GPU.
            Card none;
            none.token = SIZE_MAX; // no device of the lister's, nor its power
            Candidate c{none, {}, 0};
            c.sources.push_back(m_routes.nvml(c.card));
            m_candidates.push_back(std::move(c));
        }
        for (Card& card : cards) {
            Candidate c{std::move(card), {}, 0};
            for (Route Routes::*route : routesFor(c.card.vendor)) {
                if (const Route& make = m_routes.*route; make)
                    if (auto source = make(c.card))
                        c.sources.push_back(std::move(source));
            }
            m_candidates.push_back(std::move(c));
        }
    }

    static void release(Candidate& c)
    {
        for (auto& source : c.sources)
            source->shutdown();
    }

    CardLister m_lister;
    Routes m_routes;
    bool m_listed = false;
    std::vector<Candidate> m_candidates;
    std::string m_why;
};

} // namespace

const char* makerName(unsigned vendor)
{
    switch (vendor) {
    case 0x10de:
        return "NVIDIA";
    case 0x1002:
        return "AMD";
    case 0x8086:
        return "Intel";
    default:
        return nullptr;
    }
}

std::string Card::pciAddress() const
{
    // By hand: mingw's printf family would add some 40 KB to the program.
    const auto hex = [](unsigned value, int digits) {
        std::string text(digits, '0');
        for (int i = digits - 1; i >= 0; --i, value >>= 4)
            text[i] = "0123456789abcdef"[value & 0xf];
        return text;
    };
    return "0000:" + hex(bus.value_or(0), 2) + ":" + hex(slot.value_or(0), 2) + "." +
           hex(function.value_or(0), 1);
}

std::string Card::displayName() const
{
    if (!name.empty())
        return name;
    const char* maker = makerName(vendor);
    return std::string(maker ? maker : "The") + " GPU" + (bus ? " " + pciAddress() : "");
}

std::unique_ptr<Source> chooseCard(CardLister lister, Routes routes)
{
    return std::make_unique<Chooser>(std::move(lister), std::move(routes));
}

} // namespace sampler
