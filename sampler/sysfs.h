#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <functional>
#include <optional>

namespace sampler {

// Reads small sysfs attribute files below a root folder ("/" on a real
// machine, a tree of the test's own otherwise).
class Sysfs final {
public:
    explicit Sysfs(QString root = QStringLiteral("/"));

    QString root() const { return m_root; }
    QString path(const QString& relative) const;

    // The trimmed content of an attribute, or nothing when the file is
    // missing, unreadable, empty or longer than an attribute can be.
    std::optional<QString> read(const QString& absolutePath) const;

    // A decimal attribute: an optional sign, digits and an optional
    // newline; nothing for anything else.
    std::optional<qint64> readInteger(const QString& absolutePath) const;

    // A hexadecimal attribute written 0x..., such as a PCI vendor.
    std::optional<quint32> readHex(const QString& absolutePath) const;

    // Sees every read, for tests that must prove a file was left alone.
    void setReadObserver(std::function<void(const QString&)> observer);

private:
    // The raw bytes of a regular file, read without blocking.
    std::optional<QByteArray> readRaw(const QString& absolutePath) const;
    // Its content, trimmed, when all of it matches the format.
    std::optional<QByteArray> readMatching(const QString& absolutePath,
                                           const QRegularExpression& format) const;

    QString m_root;
    std::function<void(const QString&)> m_observer;
};

// A graphics card as the DRM subsystem lists it.
struct DrmCard {
    QString card;       // e.g. card0
    QString device;     // its PCI device folder, links resolved
    QString pciAddress; // e.g. 0000:01:00.0
    quint32 vendor = 0;
    QString driver; // e.g. amdgpu, nouveau, nvidia, i915, xe

    QString vendorName() const;
};

// The machine's graphics cards, first in PCI bus order first.
QList<DrmCard> drmCards(const Sysfs& sysfs);

// Millidegrees to whole degrees, halves away from zero.
qint32 roundMillidegrees(qint64 millidegrees);

} // namespace sampler
