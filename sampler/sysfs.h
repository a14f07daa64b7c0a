#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sampler {

// Reads small sysfs attribute files below a root folder ("/" on a real
// machine, a tree of the test's own otherwise).
class Sysfs final {
public:
    explicit Sysfs(std::string root = "/");

    std::string path(const std::string& relative) const;

    // The trimmed content of an attribute, or nothing when the file is
    // missing, unreadable, empty or longer than an attribute can be.
    std::optional<std::string> read(const std::string& absolutePath) const;

    // A decimal attribute: an optional sign, digits and an optional
    // newline; nothing for anything else.
    std::optional<std::int64_t> readInteger(const std::string& absolutePath) const;

    // A hexadecimal attribute written 0x..., such as a PCI vendor.
    std::optional<std::uint32_t> readHex(const std::string& absolutePath) const;

    // Sees every read, for tests that must prove a file was left alone.
    void setReadObserver(std::function<void(const std::string&)> observer);

private:
    // The raw bytes of a regular file, read without blocking.
    std::optional<std::string> readRaw(const std::string& absolutePath) const;

    std::string m_root;
    std::function<void(const std::string&)> m_observer;
};

// A graphics card as the DRM subsystem lists it.
struct DrmCard {
    std::string card;       // e.g. card0
    std::string device;     // its PCI device folder, links resolved
    std::string pciAddress; // e.g. 0000:01:00.0
    std::uint32_t vendor = 0;
    std::string driver; // e.g. amdgpu, nouveau, nvidia, i915, xe

    std::string vendorName() const;
};

// The machine's graphics cards, first in PCI bus order first.
std::vector<DrmCard> drmCards(const Sysfs& sysfs);

// Millidegrees to whole degrees, halves away from zero.
std::int32_t roundMillidegrees(std::int64_t millidegrees);

} // namespace sampler
