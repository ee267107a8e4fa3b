#include "bank/Csv.h"

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

EToolError::EToolError(const QString& message) : Exception(message) {}

namespace csv {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and code points above U+10FFFF included), or -1.
qsizetype firstInvalidUtf8(const QByteArray& bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            if (c == 0xF4)
                high = 0x8F;
        } else {
            return i;
        }
        if (i + length > n)
            return i;
        if (s[i + 1] < low || s[i + 1] > high)
            return i;
        for (int k = 2; k < length; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF)
                return i;
        i += length;
    }
    return -1;
}

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

Cell readCell(Reader& r, QChar delimiter) {
    Cell cell;
    cell.line = r.line();
    cell.column = r.column();
    if (r.atEnd() || r.peek() != u'"') {
        while (!r.atEnd() && r.peek() != delimiter && !r.atLineEnd())
            cell.text += r.take();
        return cell;
    }
    r.take();
    cell.quoted = true;
    for (;;) {
        if (r.atEnd())
            throw EInputError(QStringLiteral("кавычка, открытая здесь, не закрыта"), cell.line,
                              cell.column);
        const QChar c = r.take();
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

bool Record::isBlank() const {
    for (const Cell& cell : cells)
        if (cell.quoted || !cell.text.trimmed().isEmpty())
            return false;
    return true;
}

Document parse(const QByteArray& input) {
    const QByteArray bytes = input.startsWith(kBom) ? input.mid(kBom.size()) : input;
    if (const qsizetype bad = firstInvalidUtf8(bytes); bad >= 0) {
        const QString before = QString::fromUtf8(bytes.left(bad));
        Reader r(before);
        while (!r.atEnd())
            r.take();
        const QString hex =
            QString::number(quint8(bytes.at(bad)), 16).toUpper().rightJustified(2, u'0');
        throw EInputError(
            QStringLiteral("файл не в кодировке UTF-8 (неверный байт 0x%1); сохраните его из "
                           "таблицы как «CSV UTF-8»")
                .arg(hex),
            r.line(), r.column());
    }
    const QString text = QString::fromUtf8(bytes);
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
