#include "hwmon.h"

#include <QDir>
#include <QRegularExpression>

namespace sampler {
namespace {

// Beyond a million degrees a value is garbage, not a temperature.
bool plausible(const std::optional<qint64>& millidegrees)
{
    constexpr qint64 limit = 1'000'000'000;
    return millidegrees && *millidegrees > -limit && *millidegrees < limit;
}

QStringList labelsFor(const QString& driver)
{
    if (driver == QStringLiteral("amdgpu") || driver == QStringLiteral("radeon"))
        return {QStringLiteral("edge")};
    if (driver == QStringLiteral("xe") || driver == QStringLiteral("i915"))
        return {QStringLiteral("pkg"), QStringLiteral("package"), QStringLiteral("gpu")};
    return {};
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

QString HwmonSource::gpuName() const
{
    return QStringLiteral("%1 GPU %2").arg(m_card.vendorName(), m_card.pciAddress);
}

std::optional<HwmonSource::Sensor> HwmonSource::findSensor() const
{
    static const QRegularExpression inputName(QStringLiteral("^temp([0-9]+)_input$"));
    const QDir hwmonRoot(m_card.device + QStringLiteral("/hwmon"));
    const QStringList wanted = labelsFor(m_card.driver);
    QStringList hwmons = hwmonRoot.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& hwmon : hwmons) {
        const QDir dir(hwmonRoot.filePath(hwmon));
        QStringList inputs =
            dir.entryList({QStringLiteral("temp*_input")}, QDir::Files | QDir::System);
        std::sort(inputs.begin(), inputs.end(), [](const QString& a, const QString& b) {
            return inputName.match(a).captured(1).toInt() < inputName.match(b).captured(1).toInt();
        });
        std::optional<Sensor> unlabelled;
        for (const QString& input : inputs) {
            const QString n = inputName.match(input).captured(1);
            if (n.isEmpty())
                continue;
            const QString base = dir.filePath(QStringLiteral("temp") + n);
            const std::optional<QString> label = m_sysfs.read(base + QStringLiteral("_label"));
            Sensor sensor{
                base + QStringLiteral("_input"), {}, label.value_or(QStringLiteral("temp") + n)};
            if (m_card.driver == QStringLiteral("amdgpu"))
                sensor.critical = dir.filePath(QStringLiteral("temp1_crit"));
            else
                sensor.critical = base + QStringLiteral("_crit");
            // The critical limit is fixed per sensor: read it once, not per tick.
            if (auto crit = m_sysfs.readInteger(sensor.critical); plausible(crit))
                sensor.upper = roundMillidegrees(*crit);
            if (label && wanted.contains(label->toLower()))
                return sensor;
            if (!label && n == QStringLiteral("1") && !unlabelled)
                unlabelled = sensor;
        }
        // nouveau and other single-sensor drivers label nothing: temp1 it is.
        // Intel's drivers only count with a package or GPU sensor.
        if (unlabelled && m_card.driver != QStringLiteral("xe") &&
            m_card.driver != QStringLiteral("i915"))
            return unlabelled;
    }
    return std::nullopt;
}

Outcome HwmonSource::read(unsigned, Reading& reading)
{
    if (!m_sensor)
        m_sensor = findSensor();
    if (!m_sensor)
        return {Cause::NoDevice, QStringLiteral("%1 has no temperature sensor").arg(gpuName())};

    const std::optional<qint64> value = m_sysfs.readInteger(m_sensor->input);
    if (!plausible(value)) {
        // Look the sensor up again next time: a card that comes back after a
        // reset or hot-plug may get a new hwmon folder.
        const QString input = m_sensor->input;
        m_sensor.reset();
        return {Cause::Unreadable,
                QStringLiteral("%1: %2 gave no temperature").arg(gpuName(), input)};
    }
    reading.core = roundMillidegrees(*value);
    reading.upper = m_sensor->upper;
    return {Cause::None, QStringLiteral("%1 via hwmon (%2)").arg(gpuName(), m_sensor->label)};
}

} // namespace sampler
