#include "texttable.h"

#include "terminaltext.h"

#include <QTextStream>

TextTable::TextTable(const QStringList& header) : m_header(header), m_right(header.size(), false) {}

void TextTable::alignRight(int column)
{
    if (column >= 0 && column < m_right.size())
        m_right[column] = true;
}

void TextTable::addRow(const QStringList& cells)
{
    QStringList safe;
    safe.reserve(cells.size());
    for (const QString& cell : cells)
        safe.append(TerminalText::escape(cell));
    m_rows.append(safe);
}

void TextTable::print(QTextStream& stream) const
{
    QList<int> widths(m_header.size(), 0);
    const auto measure = [&](const QStringList& cells) {
        for (int i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], int(cells.value(i).size()));
    };
    measure(m_header);
    for (const QStringList& row : m_rows)
        measure(row);
    const auto line = [&](const QStringList& cells) {
        QString text;
        for (int i = 0; i < widths.size(); ++i) {
            const QString cell = cells.value(i);
            const bool last = i == widths.size() - 1;
            if (i > 0)
                text += QStringLiteral("  ");
            if (m_right[i])
                text += cell.rightJustified(widths[i]);
            else
                text += last ? cell : cell.leftJustified(widths[i]);
        }
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        stream << text << '\n';
    };
    line(m_header);
    for (const QStringList& row : m_rows)
        line(row);
    stream.flush();
}
