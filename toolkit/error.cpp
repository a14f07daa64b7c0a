#include "error.h"

#include <cmath>

namespace tk {

Error::Error(Status status, const QString& message)
    : std::runtime_error(message.toStdString()), m_status(status)
{
}

float checked(float value)
{
    if (!std::isfinite(value))
        throw Error(Status::Overflow, QStringLiteral("Overflow in a position or size"));
    return value;
}

double toDouble(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok)
        throw Error(Status::TypeMismatch, QStringLiteral("Type mismatch: \"%1\"").arg(text));
    return value;
}

} // namespace tk
