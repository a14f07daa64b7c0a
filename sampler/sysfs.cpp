#include "sysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace sampler {
namespace {

// Attributes are a few bytes; anything longer is not one.
constexpr qsizetype kMaxAttribute = 64;

// Domain, bus, device and function of a PCI address, for ordering.
std::optional<std::tuple<uint, uint, uint, uint>> pciKey(const QString& address)
{
    static const QRegularExpression re(
        QStringLiteral("^([0-9a-fA-F]{4,}):([0-9a-fA-F]{2}):([0-9a-fA-F]{2})\\.([0-7])$"));
    const auto m = re.match(address);
    if (!m.hasMatch())
        return std::nullopt;
    return std::make_tuple(m.captured(1).toUInt(nullptr, 16), m.captured(2).toUInt(nullptr, 16),
                           m.captured(3).toUInt(nullptr, 16), m.captured(4).toUInt(nullptr, 16));
}

} // namespace

Sysfs::Sysfs(QString root) : m_root(std::move(root)) {}

QString Sysfs::path(const QString& relative) const
{
    return QDir(m_root).filePath(relative);
}

std::optional<QByteArray> Sysfs::readRaw(const QString& absolutePath) const
{
    if (m_observer)
        m_observer(absolutePath);
    const QByteArray path = QFile::encodeName(absolutePath);
    // A FIFO, socket or device node where an attribute should be would block
    // the read or have side effects: only regular files are opened, and
    // without waiting.
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray data(kMaxAttribute + 1, Qt::Uninitialized);
    ssize_t total = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        total = 0;
        while (total < data.size()) {
            const ssize_t n =
                ::read(fd, data.data() + total, static_cast<size_t>(data.size() - total));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0)
                    total = -1;
                break;
            }
            total += n;
        }
    }
    ::close(fd);
    if (total < 0 || total > kMaxAttribute)
        return std::nullopt;
    data.truncate(total);
    return data;
}

std::optional<QString> Sysfs::read(const QString& absolutePath) const
{
    const std::optional<QByteArray> data = readRaw(absolutePath);
    if (!data)
        return std::nullopt;
    const QString text = QString::fromLatin1(*data).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> Sysfs::readMatching(const QString& absolutePath,
                                              const QRegularExpression& format) const
{
    std::optional<QByteArray> data = readRaw(absolutePath);
    if (!data || !format.match(QString::fromLatin1(*data)).hasMatch())
        return std::nullopt;
    return data->trimmed();
}

std::optional<qint64> Sysfs::readInteger(const QString& absolutePath) const
{
    // Strict decimal: "045000" is neither octal 19 nor, with its stray zero,
    // a number the kernel would write.
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(0|[1-9][0-9]*)\\n?$"));
    const std::optional<QByteArray> digits = readMatching(absolutePath, decimal);
    bool ok = false;
    const qint64 value = digits ? digits->toLongLong(&ok, 10) : 0;
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<quint32> Sysfs::readHex(const QString& absolutePath) const
{
    static const QRegularExpression hex(QStringLiteral("^0x[0-9a-fA-F]{1,8}\\n?$"));
    const std::optional<QByteArray> digits = readMatching(absolutePath, hex);
    if (!digits)
        return std::nullopt;
    return digits->mid(2).toUInt(nullptr, 16);
}

void Sysfs::setReadObserver(std::function<void(const QString&)> observer)
{
    m_observer = std::move(observer);
}

QString DrmCard::vendorName() const
{
    switch (vendor) {
    case 0x10de:
        return QStringLiteral("NVIDIA");
    case 0x1002:
        return QStringLiteral("AMD");
    case 0x8086:
        return QStringLiteral("Intel");
    default:
        return QStringLiteral("GPU");
    }
}

QList<DrmCard> drmCards(const Sysfs& sysfs)
{
    static const QRegularExpression cardName(QStringLiteral("^card[0-9]+$"));
    QList<DrmCard> cards;
    const QDir drm(sysfs.path(QStringLiteral("sys/class/drm")));
    for (const QString& name : drm.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (!cardName.match(name).hasMatch())
            continue;
        const QFileInfo device(drm.filePath(name + QStringLiteral("/device")));
        if (!device.exists())
            continue;
        DrmCard card;
        card.card = name;
        card.device = device.canonicalFilePath();
        card.pciAddress = QFileInfo(card.device).fileName();
        if (!pciKey(card.pciAddress))
            continue; // not a PCI device
        if (auto vendor = sysfs.readHex(card.device + QStringLiteral("/vendor")))
            card.vendor = *vendor;
        card.driver =
            QFileInfo(QFileInfo(card.device + QStringLiteral("/driver")).canonicalFilePath())
                .fileName();
        // One card may appear twice (render and display nodes share a device).
        if (std::none_of(cards.cbegin(), cards.cend(),
                         [&](const DrmCard& c) { return c.device == card.device; }))
            cards << card;
    }
    std::sort(cards.begin(), cards.end(), [](const DrmCard& a, const DrmCard& b) {
        return *pciKey(a.pciAddress) < *pciKey(b.pciAddress);
    });
    return cards;
}

qint32 roundMillidegrees(qint64 millidegrees)
{
    qint64 whole = millidegrees / 1000;
    const qint64 rest = millidegrees % 1000;
    if (rest >= 500)
        ++whole;
    else if (rest <= -500)
        --whole;
    return static_cast<qint32>(std::clamp<qint64>(whole, std::numeric_limits<qint32>::min(),
                                                  std::numeric_limits<qint32>::max()));
}

} // namespace sampler
