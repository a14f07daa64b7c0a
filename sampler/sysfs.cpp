#include "sysfs.h"

#include "attribute.h"
#include "cards.h"

#include "toolkit/base/error.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>
#include <regex>
#include <tuple>

namespace fs = std::filesystem;

namespace sampler {
namespace {

// Attributes are a few bytes; anything longer is not one.
constexpr std::size_t kMaxAttribute = 64;

// Domain, bus, device and function of a PCI address, for ordering.
std::optional<std::tuple<unsigned long, unsigned long, unsigned long, unsigned long>>
pciKey(const std::string& address)
{
    // This file's patterns are never destroyed: a reading still in the driver
    // when the program ends comes back during exit(), and goes on.
    static const std::regex& re =
        *new std::regex("^([0-9a-fA-F]{4,}):([0-9a-fA-F]{2}):([0-9a-fA-F]{2})\\.([0-7])$");
    std::smatch m;
    if (!std::regex_match(address, m, re))
        return std::nullopt;
    // A domain too long for a number is no PCI address either.
    unsigned long parts[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::string digits = m[i + 1].str();
        const char* end = digits.data() + digits.size();
        const auto [stop, error] = std::from_chars(digits.data(), end, parts[i], 16);
        if (error != std::errc() || stop != end)
            return std::nullopt;
    }
    return std::make_tuple(parts[0], parts[1], parts[2], parts[3]);
}

} // namespace

Sysfs::Sysfs(std::string root) : m_root(std::move(root)) {}

std::string Sysfs::path(const std::string& relative) const
{
    return (fs::path(m_root) / relative).string();
}

std::optional<std::string> Sysfs::readRaw(const std::string& absolutePath) const
{
    if (m_observer)
        m_observer(absolutePath);
    return readAttributeFile(absolutePath, kMaxAttribute);
}

std::optional<std::string> Sysfs::read(const std::string& absolutePath) const
{
    const std::optional<std::string> data = readRaw(absolutePath);
    if (!data)
        return std::nullopt;
    std::string text = tk::trimmed(*data);
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<std::int64_t> Sysfs::readInteger(const std::string& absolutePath) const
{
    // Strict decimal: "045000" is neither octal 19 nor, with its stray zero,
    // a number the kernel would write.
    static const std::regex& decimal = *new std::regex("[+-]?(0|[1-9][0-9]*)\n?");
    const std::optional<std::string> data = readRaw(absolutePath);
    if (!data || !std::regex_match(*data, decimal))
        return std::nullopt;
    const std::string digits = tk::trimmed(*data);
    const char* begin = digits.data() + (digits[0] == '+' ? 1 : 0);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(begin, digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

std::optional<std::uint32_t> Sysfs::readHex(const std::string& absolutePath) const
{
    static const std::regex& hex = *new std::regex("0x[0-9a-fA-F]{1,8}\n?");
    const std::optional<std::string> data = readRaw(absolutePath);
    if (!data || !std::regex_match(*data, hex))
        return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(data->substr(2), nullptr, 16));
}

void Sysfs::setReadObserver(std::function<void(const std::string&)> observer)
{
    m_observer = std::move(observer);
}

std::string DrmCard::vendorName() const
{
    const char* maker = makerName(vendor);
    return maker ? maker : "GPU";
}

std::vector<DrmCard> drmCards(const Sysfs& sysfs)
{
    static const std::regex& cardName = *new std::regex("card[0-9]+");
    std::vector<DrmCard> cards;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfs.path("sys/class/drm"), ec)) {
        const std::string name = entry.path().filename().string();
        if (!std::regex_match(name, cardName) || !entry.is_directory(ec))
            continue;
        const fs::path device = fs::canonical(entry.path() / "device", ec);
        if (ec)
            continue;
        DrmCard card;
        card.card = name;
        card.device = device.string();
        card.pciAddress = device.filename().string();
        if (!pciKey(card.pciAddress))
            continue; // not a PCI device
        if (auto vendor = sysfs.readHex(card.device + "/vendor"))
            card.vendor = *vendor;
        const fs::path driver = fs::canonical(device / "driver", ec);
        card.driver = ec ? std::string() : driver.filename().string();
        // One card may appear twice (render and display nodes share a device).
        if (std::none_of(cards.cbegin(), cards.cend(),
                         [&](const DrmCard& c) { return c.device == card.device; }))
            cards.push_back(card);
    }
    std::sort(cards.begin(), cards.end(), [](const DrmCard& a, const DrmCard& b) {
        return *pciKey(a.pciAddress) < *pciKey(b.pciAddress);
    });
    return cards;
}

std::int32_t roundMillidegrees(std::int64_t millidegrees)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        wholeDegrees(millidegrees, 1000), std::numeric_limits<std::int32_t>::min(),
        std::numeric_limits<std::int32_t>::max()));
}

} // namespace sampler
