#include "formats/Aiken.h"

#include "formats/Csv.h"
#include "formats/Encoding.h"

#include <QRegularExpression>

namespace bank {

namespace {

class Reader {
public:
    explicit Reader(bool lenient) : lenient_(lenient) {}

    ForeignFile run(QStringView text) {
        refuseControlCharacters(text);
        qsizetype at = 0;
        QStringView raw;
        for (int line = 1; nextLine(text, at, raw); ++line) {
            const QStringView trimmed = raw.trimmed();
            // Moodle passes over a line shorter than two bytes.
            if (trimmed.isEmpty() || (trimmed.size() == 1 && trimmed[0].unicode() < 0x80)) {
                blank_ = true;
                skipping_ = false;
                continue;
            }
            take(trimmed, line);
            blank_ = false;
        }
        if (start_ > 0)
            broken(unfinished(), start_);
        return std::move(file_);
    }

private:
    // A question that cannot be read refuses the file, or with lenient is listed and passed
    // over with its further options and answer.
    void broken(const QString& detail, int line) {
        const EInputError e(detail, line, 0);
        if (!lenient_)
            throw e;
        file_.broken << e.message();
        item_ = {};
        start_ = 0;
        skipping_ = true;
    }

    QString unfinished() const {
        return QStringLiteral("у вопроса нет строки «ANSWER: …» с буквой верного варианта");
    }

    void take(QStringView trimmed, int line) {
        if (trimmed.size() > kMaxForeignText)
            return broken(QStringLiteral("строка длиннее %1 символов (%2): такого вопроса тест не "
                                         "задаёт")
                              .arg(kMaxForeignText)
                              .arg(trimmed.size()),
                          line);
        line_ = trimmed.toString();
        // As Moodle reads them: a letter, ")" or "." and the option's text, with or without
        // white space between.
        static const QRegularExpression option(QStringLiteral("^([A-Z])[.)]\\s*(.*)$"));
        static const QRegularExpression answer(QStringLiteral("^ANSWER:(.*)$"));
        if (const auto match = answer.match(line_); match.hasMatch()) {
            if (skipping_)
                return;
            if (start_ == 0)
                return broken(QStringLiteral("строка «ANSWER:» без вопроса"), line);
            if (item_.answers.size() < 2)
                return broken(
                    QStringLiteral("у вопроса со строки %1 меньше двух вариантов").arg(start_),
                    line);
            const QString letter = match.captured(1).trimmed();
            const int k = letter.size() == 1 ? letter.at(0).unicode() - u'A' : -1;
            if (k < 0 || k >= int(item_.answers.size()))
                return broken(QStringLiteral("«%1» — не буква варианта: ожидается буква от A до %2")
                                  .arg(letter)
                                  .arg(QChar(char16_t(u'A' + int(item_.answers.size()) - 1))),
                              line);
            item_.answers[size_t(k)].correct = true;
            file_.items.push_back(std::move(item_));
            item_ = {};
            start_ = 0;
            return;
        }
        if (const auto match = option.match(line_); match.hasMatch()) {
            if (skipping_)
                return;
            if (start_ == 0)
                return broken(QStringLiteral("вариант ответа без вопроса"), line);
            const QChar expected(char16_t(u'A' + int(item_.answers.size())));
            if (match.captured(1).at(0) != expected)
                return broken(QStringLiteral("вариант «%1» там, где ожидается «%2.»")
                                  .arg(match.captured(1))
                                  .arg(expected),
                              line);
            item_.answers.push_back({match.captured(2).trimmed(), false, {}});
            return;
        }
        if (start_ > 0 && (!item_.answers.empty() || blank_))
            // A new question starts here: the one before it is left unfinished.
            broken(QStringLiteral("%1, а со строки %2 начат следующий вопрос")
                       .arg(unfinished())
                       .arg(line),
                   start_);
        skipping_ = false;
        if (start_ == 0) {
            start_ = line;
            item_.place = QStringLiteral("строка %1").arg(line);
            item_.text = line_;
        } else if (item_.text.size() + 1 + line_.size() > kMaxForeignText) {
            broken(QStringLiteral("текст вопроса со строки %1 длиннее %2 символов: такого вопроса "
                                  "тест не задаёт")
                       .arg(start_)
                       .arg(kMaxForeignText),
                   line);
        } else {
            item_.text += u'\n' + line_; // a question over several consecutive lines
        }
    }

    bool lenient_;
    QString line_; // the trimmed line being read
    ForeignFile file_;
    ForeignItem item_;      // the question being read
    int start_ = 0;         // the line it starts on, 0 between questions
    bool blank_ = false;    // the line before was blank
    bool skipping_ = false; // after a broken question, up to a blank line or a question's text
};

} // namespace

ForeignFile readAiken(const QString& text, bool lenient) {
    return Reader(lenient).run(text);
}

} // namespace bank
