#include "ratetext.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

const char* RateText::grammar()
{
    return "RATE is \"none\" or a number with an optional unit: K, M, G are kilo-, mega-,\n"
           "giga-BITS per second (decimal: 1K = 1000), a \"B\" makes it bytes, and a\n"
           "trailing \"bps\" or \"Bps\" is optional: 512K = 512Kbps = 512 kilobits/s,\n"
           "512KB = 512KBps = 512 kilobytes/s, 1.5M = 1.5Mbps, 64000 = 64000 bits/s.\n";
}

bool RateText::parse(const QString& text, qint32* bytesPerSecond, QString* error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
        *bytesPerSecond = -1;
        return true;
    }
    // number, optional prefix, optional b/B, optional "ps"
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+(?:\\.\\d+)?)\\s*([kKmMgG]?)(?:(b|B)(?:ps)?)?$"));
    const QRegularExpressionMatch match = pattern.match(trimmed);
    if (!match.hasMatch()) {
        *error = QStringLiteral("\"%1\" is not a rate").arg(text);
        return false;
    }
    double bits = match.captured(1).toDouble();
    const QString prefix = match.captured(2).toLower();
    switch (prefix.isEmpty() ? '\0' : prefix.at(0).toLatin1()) {
    case 'k':
        bits *= 1e3;
        break;
    case 'm':
        bits *= 1e6;
        break;
    case 'g':
        bits *= 1e9;
        break;
    default:
        break;
    }
    if (match.captured(3) == QLatin1String("B"))
        bits *= 8;
    const double bytes = std::floor(bits / 8 + 1e-9);
    if (bytes < 1) {
        *error = QStringLiteral("\"%1\" is less than one byte per second (to stop an "
                                "application altogether, block it)")
                     .arg(text);
        return false;
    }
    if (bytes > std::numeric_limits<qint32>::max()) {
        *error = QStringLiteral("\"%1\" is more than the service can express").arg(text);
        return false;
    }
    *bytesPerSecond = qint32(bytes);
    return true;
}

QString RateText::format(qint64 bytesPerSecond)
{
    const double bits = double(bytesPerSecond) * 8;
    static const struct
    {
        double factor;
        const char* unit;
    } scales[] = {{1e9, "Gbps"}, {1e6, "Mbps"}, {1e3, "Kbps"}};
    for (const auto& scale : scales) {
        if (bits >= scale.factor) {
            const double value = bits / scale.factor;
            // Three significant digits at most, no trailing zeros.
            const int decimals = value >= 100 ? 0 : (value >= 10 ? 1 : 2);
            QString number = QString::number(value, 'f', decimals);
            if (number.contains(QLatin1Char('.'))) {
                while (number.endsWith(QLatin1Char('0')))
                    number.chop(1);
                if (number.endsWith(QLatin1Char('.')))
                    number.chop(1);
            }
            return number + QLatin1Char(' ') + QLatin1String(scale.unit);
        }
    }
    return QStringLiteral("%1 bps").arg(qint64(bits));
}

QString RateText::formatLimit(qint32 bytesPerSecond)
{
    switch (bytesPerSecond) {
    case -1:
        return QStringLiteral("none");
    case -2:
        return QStringLiteral("default");
    case 0:
        return QStringLiteral("blocked");
    default:
        return bytesPerSecond < 0 ? QStringLiteral("?") : format(bytesPerSecond);
    }
}
