#include "formats/Encoding.h"

#include "formats/Csv.h"

#include <QStringDecoder>

namespace bank {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const char* const kWindows1251 = "windows-1251";

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, or -1.
qsizetype firstInvalidUtf8(QByteArrayView bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
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

// Line and character just after the text, counted as the readers count them: CRLF, LF and a
// lone CR each end a line, a character outside the basic plane is one.
std::pair<int, int> endOf(QStringView text) {
    int line = 1, column = 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || (c == u'\r' && (i + 1 == text.size() || text.at(i + 1) != u'\n'))) {
            ++line;
            column = 1;
        } else if (c != u'\r' && !c.isLowSurrogate()) {
            ++column;
        }
    }
    return {line, column};
}

// Mostly Cyrillic letters among the characters outside ASCII: what a Russian text is, and what
// UTF-8 or another single-byte encoding misread as Windows-1251 is not.
bool looksCyrillic(const QString& text) {
    int cyrillic = 0, other = 0;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            continue;
        if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF)
            ++cyrillic;
        else
            ++other;
    }
    return cyrillic > 0 && cyrillic >= 4 * other;
}

} // namespace

bool nextLine(QStringView text, qsizetype& at, QStringView& line) {
    if (at > text.size())
        return false;
    qsizetype end = at;
    while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
        ++end;
    line = text.sliced(at, end - at);
    at = end + (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n' ? 2 : 1);
    return true;
}

qsizetype firstControlCharacter(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (csv::isControlCharacter(text[i]) && text[i] != u'\n' && text[i] != u'\r')
            return i;
    return -1;
}

QString controlCharacterMessage(QChar c) {
    return QStringLiteral("в тексте управляющий символ U+%1; уберите его")
        .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0'));
}

void refuseControlCharacters(QStringView text) {
    if (const qsizetype at = firstControlCharacter(text); at >= 0) {
        const auto [line, column] = endOf(text.first(at));
        throw EInputError(controlCharacterMessage(text[at]), line, column);
    }
}

QString decodeUtf8(const QByteArray& input, const QString& hint) {
    // A view: a copy of a large file would double it in memory.
    QByteArrayView bytes(input);
    if (bytes.startsWith(kUtf8Bom))
        bytes = bytes.sliced(kUtf8Bom.size());
    if (const qsizetype bad = firstInvalidUtf8(bytes); bad >= 0) {
        const auto [line, column] = endOf(QString::fromUtf8(bytes.first(bad)));
        const QString hex =
            QString::number(quint8(bytes.at(bad)), 16).toUpper().rightJustified(2, u'0');
        throw EInputError(
            QStringLiteral("файл не в кодировке UTF-8 (неверный байт 0x%1)%2").arg(hex, hint), line,
            column);
    }
    return QString::fromUtf8(bytes);
}

DecodedText decodeInput(const QByteArray& bytes, const QString& encoding, const QString& hint) {
    if (!encoding.isEmpty() && encoding.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) &&
        encoding.compare(QLatin1String("utf8"), Qt::CaseInsensitive)) {
        QStringDecoder decoder(encoding.toLatin1().constData(), QStringDecoder::Flag::Stateless);
        if (!decoder.isValid())
            throw EToolError(QStringLiteral("кодировка «%1» неизвестна; укажите, например, "
                                            "--encoding windows-1251 или --encoding utf-8")
                                 .arg(encoding));
        QString text = decoder.decode(bytes);
        if (decoder.hasError())
            throw EToolError(
                QStringLiteral("файл не читается в кодировке %1: в нём есть байты, которых в "
                               "ней нет")
                    .arg(decoder.name()));
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return {text, QString::fromLatin1(decoder.name())};
    }
    try {
        return {decodeUtf8(bytes, hint), QStringLiteral("UTF-8")};
    } catch (const EInputError&) {
        if (!encoding.isEmpty())
            throw;
        QStringDecoder decoder(kWindows1251, QStringDecoder::Flag::Stateless);
        const QString text = decoder.isValid() ? decoder.decode(bytes) : QString();
        if (!decoder.isValid() || decoder.hasError() || !looksCyrillic(text))
            throw;
        return {text, QStringLiteral("Windows-1251")};
    }
}

} // namespace bank
