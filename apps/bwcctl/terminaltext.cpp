#include "terminaltext.h"

namespace {

bool needsEscape(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || u == 0x7f || (u >= 0x80 && u <= 0x9f) ||
           c.category() == QChar::Other_Format || c.category() == QChar::Other_NotAssigned ||
           c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

} // namespace

QString TerminalText::escape(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate()) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else if (!needsEscape(c)) {
            out += c;
        } else if (c.unicode() < 0x80) {
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}
