#include "formats/Csv.h"

#include "formats/Encoding.h"

#include <QRegularExpression>
#include <QStringList>
#include <array>

namespace bank {

namespace {

QString placed(const QString& detail, int line, int column, const QString& cell) {
    QString place = QStringLiteral("строка %1").arg(line);
    if (!cell.isEmpty())
        place += QLatin1String(", ") + cell;
    else if (column > 0)
        place += QStringLiteral(", символ %1").arg(column);
    return place + QLatin1String(": ") + detail;
}

} // namespace

EInputError::EInputError(const QString& detail, int line, int column, const QString& cell)
    : Exception(placed(detail, line, column, cell)), detail_(detail), line_(line), column_(column) {
}

namespace csv {

namespace {

// Walks the text keeping the line and column of the next character. CRLF, LF and a lone CR
// each end one line; a character outside the basic plane counts as one column.
class Reader {
public:
    explicit Reader(const QString& text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    QChar peek() const { return text_.at(pos_); }
    bool atLineEnd() const { return !atEnd() && (peek() == u'\n' || peek() == u'\r'); }
    int line() const { return line_; }
    int column() const { return column_; }

    QChar take() {
        const QChar c = text_.at(pos_++);
        if (c == u'\n') {
            ++line_;
            column_ = 1;
        } else if (c == u'\r') {
            if (atEnd() || peek() != u'\n') {
                ++line_;
                column_ = 1;
            }
        } else if (!c.isLowSurrogate()) {
            ++column_;
        }
        return c;
    }

    void skipLineEnd() {
        if (take() == u'\r' && !atEnd() && peek() == u'\n')
            take();
    }

private:
    const QString& text_;
    qsizetype pos_ = 0;
    int line_ = 1;
    int column_ = 1;
};

QChar detectDelimiter(const QString& text) {
    const std::array<QChar, 3> candidates{u';', u'\t', u','};
    std::array<int, 3> counts{};
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted) {
            if (c == u'\n' || c == u'\r')
                break;
            for (size_t k = 0; k < candidates.size(); ++k)
                if (c == candidates[k])
                    ++counts[k];
        }
    }
    size_t best = 0;
    for (size_t k = 1; k < candidates.size(); ++k)
        if (counts[k] > counts[best])
            best = k;
    return candidates[best];
}

// Takes the next character of a cell, refusing one that is no text.
QChar takeText(Reader& r) {
    const int line = r.line(), column = r.column();
    const QChar c = r.take();
    if (isControlCharacter(c) && c != u'\n' && c != u'\r')
        throw EInputError(controlCharacterMessage(c), line, column);
    return c;
}

Cell readCell(Reader& r, QChar delimiter) {
    Cell cell;
    cell.line = r.line();
    cell.column = r.column();
    if (r.atEnd() || r.peek() != u'"') {
        while (!r.atEnd() && r.peek() != delimiter && !r.atLineEnd())
            cell.text += takeText(r);
        return cell;
    }
    r.take();
    cell.quoted = true;
    for (;;) {
        if (r.atEnd())
            throw EInputError(QStringLiteral("кавычка, открытая здесь, не закрыта"), cell.line,
                              cell.column);
        const QChar c = takeText(r);
        if (c != u'"') {
            cell.text += c;
        } else if (!r.atEnd() && r.peek() == u'"') {
            cell.text += r.take();
        } else {
            break;
        }
    }
    if (!r.atEnd() && r.peek() != delimiter && !r.atLineEnd())
        throw EInputError(QStringLiteral("после закрывающей кавычки ожидается разделитель или "
                                         "конец строки"),
                          r.line(), r.column());
    return cell;
}

} // namespace

bool isControlCharacter(QChar c) {
    const char16_t u = c.unicode();
    return (u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F);
}

bool Record::isBlank() const {
    for (const Cell& cell : cells)
        if (cell.quoted || !cell.text.trimmed().isEmpty())
            return false;
    return true;
}

Document parse(const QByteArray& bytes) {
    return parseText(
        decodeUtf8(bytes, QStringLiteral("; сохраните его из таблицы как «CSV UTF-8»")));
}

Document parseText(const QString& text) {
    Document doc;
    Reader r(text);
    // Spreadsheets write "sep=;" as the first line of a file to name its delimiter.
    static const QRegularExpression sepLine(QStringLiteral("^sep=([^\\r\\n])(\\r\\n|\\r|\\n|$)"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (const auto match = sepLine.match(text); match.hasMatch()) {
        doc.delimiter = match.captured(1).front();
        while (!r.atEnd() && !r.atLineEnd())
            r.take();
        if (!r.atEnd())
            r.skipLineEnd();
    } else {
        doc.delimiter = detectDelimiter(text);
    }
    while (!r.atEnd()) {
        Record record;
        record.line = r.line();
        for (;;) {
            record.cells.push_back(readCell(r, doc.delimiter));
            if (r.atEnd())
                break;
            if (r.peek() == doc.delimiter) {
                r.take();
                continue;
            }
            r.skipLineEnd();
            break;
        }
        doc.records.push_back(std::move(record));
    }
    return doc;
}

QString formatRecord(const QStringList& cells, QChar delimiter, const QList<int>& alwaysQuoted) {
    QStringList out;
    out.reserve(cells.size());
    for (const QString& cell : cells) {
        const bool needsQuotes =
            alwaysQuoted.contains(int(out.size())) || cell.contains(delimiter) ||
            cell.contains(u'"') || cell.contains(u'\n') || cell.contains(u'\r') ||
            (!cell.isEmpty() && (cell.front().isSpace() || cell.back().isSpace()));
        if (needsQuotes) {
            QString quotedCell = cell;
            quotedCell.replace(QLatin1String("\""), QLatin1String("\"\""));
            out << u'"' + quotedCell + u'"';
        } else {
            out << cell;
        }
    }
    return out.join(delimiter) + QLatin1String("\r\n");
}

} // namespace csv
} // namespace bank
