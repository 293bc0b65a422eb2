#pragma once

#include <QList>
#include <QStringList>

class QTextStream;

// A table for people: a header, rows, columns padded to their widest cell,
// numbers aligned on the right. Cells are printed escaped (TerminalText):
// names and paths come from users.
class TextTable
{
public:
    explicit TextTable(const QStringList& header);

    void alignRight(int column);
    void addRow(const QStringList& cells);
    int rowCount() const { return int(m_rows.size()); }

    void print(QTextStream& stream) const;

private:
    QStringList m_header;
    QList<QStringList> m_rows;
    QList<bool> m_right;
};
