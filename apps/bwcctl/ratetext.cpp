#include "ratetext.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

const char* RateText::grammar()
{
    return "RATE is \"none\" or a number with an optional unit: K, M, G are kilo-, mega-,\n"
           "giga-BITS per second (decimal: 1K = 1000; Ki, Mi, Gi are 1024-based), a \"B\"\n"
           "makes it bytes, and a trailing \"bps\" or \"Bps\" is optional: 512K = 512Kbps =\n"
           "512 kilobits/s, 512KB = 512KBps = 512 kilobytes/s, 1.5M = 1.5Mbps, 64000 = 64000\n"
           "bits/s. The spellings of tc and iperf3 work too, in any case: 2mbit, 2Mbit/s,\n"
           "10Mbits/sec, 2MByte/s, 512kibit (note that \"bps\" means bits here, as above).\n";
}

bool RateText::parse(const QString& text, qint32* bytesPerSecond, QString* error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
        *bytesPerSecond = -1;
        return true;
    }
    // A number, an optional prefix (binary with an "i"), an optional unit and
    // an optional "/s". The single letters b and B keep their case: bits and
    // bytes; the words bit and byte may be written in any case.
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+(?:\\.\\d+)?)\\s*([kKmMgG])?([iI])?"
                       "(?:(b|B)(?:ps)?|([bB][iI][tT][sS]?)|([bB][yY][tT][eE][sS]?))?"
                       "(?:/[sS](?:[eE][cC])?)?$"));
    const QRegularExpressionMatch match = pattern.match(trimmed);
    const bool binary = match.hasMatch() && !match.captured(3).isEmpty();
    if (!match.hasMatch() || (binary && match.captured(2).isEmpty())) {
        *error = QStringLiteral("\"%1\" is not a rate").arg(text);
        return false;
    }
    double bits = match.captured(1).toDouble();
    const double step = binary ? 1024 : 1000;
    const QString prefix = match.captured(2).toLower();
    switch (prefix.isEmpty() ? '\0' : prefix.at(0).toLatin1()) {
    case 'k':
        bits *= step;
        break;
    case 'm':
        bits *= step * step;
        break;
    case 'g':
        bits *= step * step * step;
        break;
    default:
        break;
    }
    if (match.captured(4) == QLatin1String("B") || !match.captured(6).isEmpty())
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
