#include "cards.h"

#include <algorithm>
#include <cstddef>
#include <tuple>

namespace sampler {
namespace {

static_assert(offsetof(KmtAdapterPerfData, temperature) == 56 && sizeof(KmtAdapterPerfData) == 64,
              "the graphics kernel's layout");
constexpr std::int32_t kAdapterPerfData = 62; // KMTQAITYPE_ADAPTERPERFDATA

constexpr unsigned kMicrosoft = 0x1414; // the Basic Render Driver and other software adapters

bool unusable(Cause cause)
{
    return cause == Cause::LibraryMissing || cause == Cause::FunctionMissing ||
           cause == Cause::InitFailed || cause == Cause::NoDevice;
}

const char* vendorName(unsigned vendor)
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

class KernelSource final : public Source {
public:
    KernelSource(Card card, KernelApi api) : m_card(std::move(card)), m_api(std::move(api)) {}

    // The adapter is opened for each reading only, so no handle of ours is
    // left on it between readings.
    Outcome read(unsigned, Reading& reading) override
    {
        const std::string name = m_card.displayName();
        if (!m_api.missing.empty())
            return {Cause::FunctionMissing,
                    "Windows has no " + m_api.missing +
                        " (Windows 10 1803 or later reads GPU temperatures)"};
        KmtOpenAdapter open{m_card.interfacePath.c_str(), 0, 0, 0};
        if (m_api.open(&open) != 0)
            return fail(name + " could not be opened through Windows");
        KmtAdapterPerfData data{};
        const KmtQueryAdapterInfo query{open.adapter, kAdapterPerfData, &data, sizeof data};
        const std::int32_t status = m_api.query(&query);
        m_api.close(&open.adapter);
        if (status != 0)
            return fail(name + " gives no performance data to Windows (its driver predates "
                               "WDDM 2.4)");
        if (data.temperature == 0)
            return fail(name + " has no temperature sensor that Windows reads");
        // Tenths, to whole degrees with halves away from zero, as hwmon's
        // millidegrees are.
        reading.core = (static_cast<std::int64_t>(data.temperature) + 5) / 10;
        m_readBefore = true;
        return {Cause::None, name + " via Windows"};
    }

private:
    // A card that never answered cannot be read this way at all; one that
    // did has only failed this once.
    Outcome fail(std::string why) const
    {
        return {m_readBefore ? Cause::QueryFailed : Cause::NoDevice, std::move(why)};
    }

    Card m_card;
    KernelApi m_api;
    bool m_readBefore = false;
};

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
            Candidate c{Card{}, {}, 0};
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

std::string Card::pciAddress() const
{
    // By hand: mingw's printf family would more than double the program.
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
    const char* maker = vendorName(vendor);
    return std::string(maker ? maker : "The") + " GPU" + (bus ? " " + pciAddress() : "");
}

std::unique_ptr<Source> chooseCard(CardLister lister, Routes routes)
{
    return std::make_unique<Chooser>(std::move(lister), std::move(routes));
}

std::unique_ptr<Source> kernelSource(const Card& card, const KernelApi& api)
{
    return std::make_unique<KernelSource>(card, api);
}

} // namespace sampler
