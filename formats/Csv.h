#pragma once

#include "core/ToolError.h"

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

namespace bank {

// A fault in an input file with the place it was found, counted from 1: the line, and the
// character on it where the fault lies (0 when the fault is the line as a whole). A fault in
// one cell names the cell instead, as "столбец 6 «Верный ответ»". The message starts with
// the place: "строка 7, символ 12: ...".
class EInputError : public Exception {
public:
    EInputError(const QString& detail, int line, int column, const QString& cell = {});
    int line() const { return line_; }
    int column() const { return column_; }
    const QString& detail() const { return detail_; }

private:
    QString detail_;
    int line_;
    int column_;
};

namespace csv {

struct Cell {
    QString text;
    int line = 0;   // where the cell starts
    int column = 0; // its first character on that line
    bool quoted = false;
};

struct Record {
    std::vector<Cell> cells;
    int line = 0;
    // Only empty or white-space cells, none of them quoted: an empty line, or a line of bare
    // delimiters as spreadsheets write below the data.
    bool isBlank() const;
};

struct Document {
    QChar delimiter;
    std::vector<Record> records; // blank lines included, for the caller to skip
};

// A character a cell's text may not hold: the control characters but tab, line feed and
// carriage return (the last two only inside quotes, where they break the text's lines).
bool isControlCharacter(QChar c);

// Reads a UTF-8 file (with or without a byte-order mark) in the quoting of RFC 4180, with
// CRLF, LF or CR line ends. A first line "sep=X" names the delimiter and is no record;
// otherwise the delimiter is whichever of ';', tab and ',' the first line holds most of
// outside quotes (';' on a tie, as Russian-locale spreadsheets write it).
// Throws EInputError for invalid UTF-8, an unterminated quote, text after a closing quote or a
// control character in a cell.
Document parse(const QByteArray& bytes);
// The same for a text already decoded.
Document parseText(const QString& text);

// One line of cells, quoted where a cell needs it (and the cells at the indexes alwaysQuoted in
// any case), ended by CRLF.
QString formatRecord(const QStringList& cells, QChar delimiter,
                     const QList<int>& alwaysQuoted = {});

} // namespace csv
} // namespace bank
