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

namespace {

struct Scale
{
    double factor;
    const char* unit;
};

// Three significant digits at most, no trailing zeros, with the largest
// unit the value reaches; below all of them the plain number and lastUnit.
template <size_t N> QString withPrefix(double value, const Scale (&scales)[N], const char* lastUnit)
{
    for (const Scale& scale : scales) {
        if (value >= scale.factor) {
            const double scaled = value / scale.factor;
            const int decimals = scaled >= 100 ? 0 : (scaled >= 10 ? 1 : 2);
            QString number = QString::number(scaled, 'f', decimals);
            if (number.contains(QLatin1Char('.'))) {
                while (number.endsWith(QLatin1Char('0')))
                    number.chop(1);
                if (number.endsWith(QLatin1Char('.')))
                    number.chop(1);
            }
            return number + QLatin1Char(' ') + QLatin1String(scale.unit);
        }
    }
    return QStringLiteral("%1 %2").arg(qint64(value)).arg(QLatin1String(lastUnit));
}

} // namespace

QString RateText::format(qint64 bytesPerSecond)
{
    static const Scale scales[] = {{1e9, "Gbps"}, {1e6, "Mbps"}, {1e3, "Kbps"}};
    return withPrefix(double(bytesPerSecond) * 8, scales, "bps");
}

QString RateText::formatBytes(quint64 bytes)
{
    static const Scale scales[] = {{1e12, "TB"}, {1e9, "GB"}, {1e6, "MB"}, {1e3, "kB"}};
    return withPrefix(double(bytes), scales, "B");
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
