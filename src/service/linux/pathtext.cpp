#include "pathtext.h"

namespace {

// The length of the valid UTF-8 sequence at i, 0 when there is none.
int sequenceAt(const QByteArray& bytes, int i)
{
    const auto at = [&](int k) { return k < bytes.size() ? uchar(bytes[k]) : 0u; };
    const uint lead = at(i);
    const auto continuation = [&](int k) { return (at(k) & 0xC0) == 0x80; };
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(i + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const uint second = at(i + 1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F))
            return 0; // overlong, or a surrogate
        return continuation(i + 1) && continuation(i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const uint second = at(i + 1);
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
            return 0;
        return continuation(i + 1) && continuation(i + 2) && continuation(i + 3) ? 4 : 0;
    }
    return 0;
}

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

QString PathText::fromBytes(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (int i = 0; i < bytes.size();) {
        if (bytes[i] == '\\') {
            text += QLatin1String("\\\\");
            ++i;
            continue;
        }
        const int length = sequenceAt(bytes, i);
        if (length == 0) {
            text += QStringLiteral("\\x%1").arg(uchar(bytes[i]), 2, 16, QLatin1Char('0'));
            ++i;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + i, length);
        i += length;
    }
    return text;
}

QByteArray PathText::toBytes(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            if (text[i + 1] == QLatin1Char('\\')) {
                bytes += '\\';
                ++i;
                continue;
            }
            if (text[i + 1] == QLatin1Char('x') && i + 3 < text.size() &&
                hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
                bytes += char(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
                i += 3;
                continue;
            }
        }
        const int length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        bytes += text.mid(i, length).toUtf8();
        i += length - 1;
    }
    return bytes;
}
