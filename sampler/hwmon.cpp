#include "hwmon.h"

#include <algorithm>
#include <filesystem>
#include <regex>
#include <vector>

namespace fs = std::filesystem;

namespace sampler {
namespace {

// Beyond a million degrees a value is garbage, not a temperature.
bool plausible(const std::optional<std::int64_t>& millidegrees)
{
    constexpr std::int64_t limit = 1'000'000'000;
    return millidegrees && *millidegrees > -limit && *millidegrees < limit;
}

// amdgpu numbers edge before junction; a card without an edge sensor (some
// APUs and server parts) still has its junction.
std::vector<std::string> labelsFor(const std::string& driver)
{
    if (driver == "amdgpu" || driver == "radeon")
        return {"edge", "junction"};
    if (driver == "xe")
        return {"pkg", "package", "gpu"};
    return {};
}

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The entries of a folder, sorted by name; none when it cannot be listed.
std::vector<fs::directory_entry> entries(const fs::path& folder)
{
    std::vector<fs::directory_entry> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        found.push_back(entry);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

HwmonSource::HwmonSource(Sysfs sysfs, DrmCard card)
    : m_sysfs(std::move(sysfs)), m_card(std::move(card))
{
}

bool HwmonSource::hasSensor()
{
    m_sensor = findSensor();
    return m_sensor.has_value();
}

std::string HwmonSource::gpuName() const
{
    return m_card.vendorName() + " GPU " + m_card.pciAddress;
}

std::string HwmonSource::noSensor() const
{
    return gpuName() + " (" + m_card.driver + ") has no temperature sensor";
}

std::optional<HwmonSource::Sensor> HwmonSource::findSensor() const
{
    // Never destroyed, for a reading that comes back during exit().
    static const std::regex& inputName = *new std::regex("temp([0-9]+)_input");
    const std::vector<std::string> wanted = labelsFor(m_card.driver);
    std::error_code ec;
    for (const auto& hwmon : entries(fs::path(m_card.device) / "hwmon")) {
        if (!hwmon.is_directory(ec))
            continue;
        const fs::path dir = hwmon.path();
        std::vector<std::pair<long, std::string>> inputs;
        for (const auto& entry : entries(dir)) {
            const std::string name = entry.path().filename().string();
            std::smatch m;
            if (std::regex_match(name, m, inputName) && !entry.is_directory(ec) &&
                m[1].length() < 9)
                inputs.emplace_back(std::stol(m[1].str()), m[1].str());
        }
        std::sort(inputs.begin(), inputs.end());
        std::optional<Sensor> unlabelled;
        for (const auto& [number, n] : inputs) {
            const std::string base = (dir / ("temp" + n)).string();
            const std::optional<std::string> label = m_sysfs.read(base + "_label");
            Sensor sensor{base + "_input", label.value_or("temp" + n)};
            if (label && std::find(wanted.begin(), wanted.end(), lower(*label)) != wanted.end())
                return sensor;
            if (!label && n == "1" && !unlabelled)
                unlabelled = sensor;
        }
        // nouveau, radeon and other single-sensor drivers label nothing:
        // temp1 it is. Intel's only count with a package or GPU sensor (i915
        // has none at all).
        if (unlabelled && m_card.driver != "xe" && m_card.driver != "i915")
            return unlabelled;
    }
    return std::nullopt;
}

Outcome HwmonSource::read(unsigned, Reading& reading)
{
    if (!m_sensor)
        m_sensor = findSensor();
    if (!m_sensor)
        return {Cause::NoDevice, noSensor()};

    const std::optional<std::int64_t> value = m_sysfs.readInteger(m_sensor->input);
    if (!plausible(value)) {
        // Look the sensor up again next time: a card that comes back after a
        // reset or hot-plug may get a new hwmon folder.
        const std::string input = m_sensor->input;
        m_sensor.reset();
        return {Cause::Unreadable, gpuName() + ": " + input + " gave no temperature"};
    }
    reading.core = roundMillidegrees(*value);
    return {Cause::None, gpuName() + " via hwmon (" + m_sensor->label + ")"};
}

} // namespace sampler
