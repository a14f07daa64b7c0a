#include "support/support.h"

#include "sampler/cards.h"
#include "sampler/nvml.h"

#include <map>

using sampler::Card;
using sampler::Cause;
using sampler::PowerData;

namespace {

#ifdef _WIN32
const std::string kFakeAdl = KELVANE_FAKE_NVML_DIR "/adl/atiadlxx.dll";
const std::string kFakeIgcl = KELVANE_FAKE_NVML_DIR "/igcl/ControlLib.dll";
#else
const std::string kFakeAdl = KELVANE_FAKE_NVML_DIR "/adl/libatiadlxx.so";
const std::string kFakeIgcl = KELVANE_FAKE_NVML_DIR "/igcl/libControlLib.so";
#endif

const Card kGeForce{0x10de, 0x2204, 1, 0, 0, L"\\\\?\\pci#ven_10de", "NVIDIA GeForce RTX 3090"};
const Card kRadeon{0x1002, 0x747e, 3, 0, 0, L"\\\\?\\pci#ven_1002", "AMD Radeon RX 7800 XT"};
const Card kArc{0x8086, 0x56a0, 4, 0, 0, L"\\\\?\\pci#ven_8086&dev_56a0", "Intel Arc A770"};
const Card kArcTwin{
    0x8086, 0x56a0, 5, 0, 0, L"\\\\?\\pci#ven_8086&dev_56a0&2", "Intel Arc A770 #2"};
const Card kUhd{0x8086, 0x9bc4, 0, 2, 0, L"\\\\?\\pci#ven_8086&dev_9bc4", "Intel UHD Graphics"};
const Card kBasicRender{0x1414, 0x8c, 0, 0, 0, L"\\\\?\\root#basicrender", "Basic Render"};
const Card kUnplaced{0x1002, 0x1638, std::nullopt, std::nullopt, std::nullopt, L"\\\\?\\apu", ""};

// The graphics kernel as the test describes it: tenths of a degree by
// interface path; an adapter not described cannot be opened.
std::map<std::wstring, std::uint32_t> g_tenths;
int g_openAdapters = 0, g_opens = 0;

sampler::KernelApi fakeKernel(std::string missing = {})
{
    sampler::KernelApi api;
    api.open = [](sampler::KmtOpenAdapter* open) -> std::int32_t {
        if (!g_tenths.contains(open->deviceName))
            return -1;
        open->adapter = static_cast<std::uint32_t>(g_tenths.find(open->deviceName)->second) + 1;
        ++g_openAdapters;
        ++g_opens;
        return 0;
    };
    api.query = [](const sampler::KmtQueryAdapterInfo* query) -> std::int32_t {
        if (query->type != 62 || query->size != 64)
            return -1;
        static_cast<sampler::KmtAdapterPerfData*>(query->data)->temperature = query->adapter - 1;
        return 0;
    };
    api.close = [](const std::uint32_t*) -> std::int32_t {
        --g_openAdapters;
        return 0;
    };
    api.missing = std::move(missing);
    return api;
}

struct Machine {
    std::vector<Card> cards = {};
    std::optional<int> nvml = {}; // the stand-in NVML's reading (1000: it fails); none: no NVML
    std::map<std::string, PowerData> power = {}; // by name; absent: the card has no power data
    std::string kernelMissing = {};
    std::map<std::wstring, std::uint32_t> tenths = {}; // over the usual ones
    std::optional<std::pair<int, int>> adl = {};       // Overdrive version, millidegrees
    std::optional<std::pair<double, int>> igcl = {};   // the Arc's °C; 1 unavailable, 2 lost
};

// The machine the chooser sees: the row's, set up on its stand-ins.
Machine g_machine;

std::unique_ptr<sampler::Source> choose(const Machine& machine, support::FakeNvml& nvml)
{
    g_machine = machine;
    g_tenths = {{kRadeon.interfacePath, 523},   {kArc.interfacePath, 615},
                {kUhd.interfacePath, 0},        {kGeForce.interfacePath, 601},
                {kUnplaced.interfacePath, 480}, {kBasicRender.interfacePath, 300}};
    for (const auto& [path, tenths] : machine.tenths)
        g_tenths[path] = tenths;
    g_openAdapters = g_opens = 0;
    nvml.reset();
    if (machine.nvml)
        nvml.script({*machine.nvml}, {*machine.nvml == 1000 ? 999 : 0});
    if (machine.adl)
        support::standIn<void (*)(int, int, int)>(kFakeAdl, "fakeadl_set")(machine.adl->first,
                                                                           machine.adl->second, 3);
    if (machine.igcl)
        support::standIn<void (*)(unsigned, double, int)>(kFakeIgcl, "fakeigcl_set")(
            kArc.device, machine.igcl->first, machine.igcl->second);
    sampler::CardLister lister{[] {
                                   std::vector<Card> cards = g_machine.cards;
                                   for (std::size_t i = 0; i < cards.size(); ++i)
                                       cards[i].token = i;
                                   return cards;
                               },
                               [](const Card& card) -> std::optional<PowerData> {
                                   const auto it = g_machine.power.find(card.name);
                                   return it == g_machine.power.end() ? std::nullopt
                                                                      : std::optional(it->second);
                               }};
    sampler::Routes routes{
        [](const Card& c) {
            return std::make_unique<sampler::NvmlSource>(
                g_machine.nvml ? support::kNvmlName : "absent-nvml", c.pciAddress());
        },
        [](const Card& c) { return sampler::kernelSource(c, fakeKernel(g_machine.kernelMissing)); },
        [](const Card& c) {
            return sampler::adlSource(c, g_machine.adl ? kFakeAdl : "absent-adl");
        },
        [](const Card& c) {
            return sampler::igclSource(c, g_machine.igcl ? kFakeIgcl : "absent-igcl");
        }};
    return sampler::chooseCard(std::move(lister), std::move(routes));
}

TEST(Cards, theFirstCardInPciOrderThatGivesAReadingIsReadByTheBestRoute)
{
    const struct {
        const char* row;
        Machine machine;
        std::int64_t core;                     // sampler::kUnread: no reading
        std::string tooltip;                   // NVML's stand-in names itself "Stand-in GPU"
        std::optional<std::int64_t> next = {}; // the next reading, where it matters
    } rows[] = {
        {"an awake NVIDIA card is read through NVML",
         {{kGeForce}, 64, {{kGeForce.name, {1, false}}}},
         64,
         "Stand-in GPU via NVML"},
        {"without NVML an NVIDIA card is read through Windows",
         {{kGeForce}},
         60,
         "NVIDIA GeForce RTX 3090 via Windows"},
        {"an AMD card's 523 tenths show as 52, through Windows before ADL",
         {{kRadeon}, {}, {}, "", {}, std::pair{8, 70000}},
         52,
         "AMD Radeon RX 7800 XT via Windows"},
        {"a graphics kernel without a sensor falls back to ADL's Overdrive 5, in millidegrees",
         {{kRadeon}, {}, {}, "", {{kRadeon.interfacePath, 0}}, std::pair{5, 57500}},
         58,
         "AMD Radeon RX 7800 XT via ADL"},
        {"... to its Overdrive 7 core sensor, in millidegrees",
         {{kRadeon}, {}, {}, "", {{kRadeon.interfacePath, 0}}, std::pair{7, 61400}},
         61,
         "AMD Radeon RX 7800 XT via ADL"},
        {"... to its Overdrive 6 temperature, in millidegrees",
         {{kRadeon}, {}, {}, "", {{kRadeon.interfacePath, 0}}, std::pair{6, 59600}},
         60,
         "AMD Radeon RX 7800 XT via ADL"},
        {"a system without the kernel's query falls back to IGCL's GPU sensor, 46.5 °C as 47",
         {{kArc}, {}, {}, "D3DKMTQueryAdapterInfo", {}, {}, std::pair{46.5, 0}},
         47,
         "Intel Arc A770 via IGCL"},
        {"IGCL's \"device unavailable\" is a card asleep",
         {{kArc}, {}, {}, "D3DKMTQueryAdapterInfo", {}, {}, std::pair{46.5, 1}},
         sampler::kUnread,
         "Intel Arc A770 is asleep; Kelvane does not wake it"},
        {"of two identical Intel cards IGCL reads the one at the card's bus location",
         {{kArcTwin}, {}, {}, "D3DKMTQueryAdapterInfo", {}, {}, std::pair{46.5, 0}},
         57,
         "Intel Arc A770 #2 via IGCL"},
        {"a device IGCL lost is that reading's failure, and IGCL starts again for the next",
         {{kArc}, {}, {}, "D3DKMTQueryAdapterInfo", {}, {}, std::pair{46.5, 2}},
         sampler::kUnread,
         "Intel Arc A770 was lost to IGCL; it is looked up again",
         47},
        {"an Intel iGPU on bus 0 without a sensor gives way to the NVIDIA card on bus 1",
         {{kGeForce, kUhd}, 66, {}, "", {}, {}, std::pair{50.0, 0}},
         66,
         "Stand-in GPU via NVML"},
        {"the Basic Render adapter is never chosen",
         {{kBasicRender, kRadeon}},
         52,
         "AMD Radeon RX 7800 XT via Windows"},
        {"a card without a location comes after those with one",
         {{kUnplaced, kArc}},
         62,
         "Intel Arc A770 via Windows"},
        {"with no card listed NVML finds its own first GPU", {{}, 41}, 41, "Stand-in GPU via NVML"},
        {"no route at all is one cause: the first card's",
         {{kUhd, kBasicRender}},
         sampler::kUnread,
         "Intel UHD Graphics has no temperature sensor that Windows reads"},
        {"a card in D3 is never called, through NVML",
         {{kGeForce}, 64, {{kGeForce.name, {4, true}}}},
         sampler::kUnread,
         "NVIDIA GeForce RTX 3090 is asleep (D3); Kelvane does not wake it"},
        {"... or through Windows",
         {{kGeForce}, {}, {{kGeForce.name, {4, true}}}},
         sampler::kUnread,
         "NVIDIA GeForce RTX 3090 is asleep (D3); Kelvane does not wake it"},
        {"a failing query is that reading's failure, not the card's end",
         {{kGeForce}, 1000},
         sampler::kUnread,
         "Stand-in GPU: no temperature (Stand-in error)"},
    };
    support::FakeNvml nvml;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        auto source = choose(r.machine, nvml);
        sampler::Reading reading;
        const sampler::Outcome outcome = source->read(0, reading);
        EXPECT_EQ(reading.core, r.core);
        EXPECT_EQ(outcome.detail, r.tooltip);
        EXPECT_EQ(outcome.ok(), r.core != sampler::kUnread);
        // NVML is read only for the card it names.
        EXPECT_EQ(nvml.counts().temperature + nvml.counts().temperatureV,
                  r.tooltip.starts_with("Stand-in GPU") ? 1 : 0);
        EXPECT_EQ(g_openAdapters, 0) << "an adapter left open";
        if (r.next) {
            EXPECT_TRUE(source->read(0, reading).ok());
            EXPECT_EQ(reading.core, *r.next);
        }
        if (outcome.cause == Cause::Asleep && !r.machine.power.empty()) {
            EXPECT_EQ(nvml.counts().init + g_opens, 0) << "a sleeping card was called";
            // Awake again, though it may sleep: read, and let go at once.
            g_machine.power.begin()->second = {1, true};
            EXPECT_TRUE(source->read(0, reading).ok());
            EXPECT_EQ(reading.core, r.machine.nvml.value_or(60));
            EXPECT_EQ(nvml.counts().shutdown, nvml.counts().init);
            EXPECT_EQ(g_openAdapters, 0);
        }
    }
}

} // namespace
