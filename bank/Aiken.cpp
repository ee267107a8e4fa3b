#include "bank/Aiken.h"

#include "bank/Csv.h"

#include <QRegularExpression>

namespace bank {

namespace {

class Reader {
public:
    explicit Reader(bool lenient) : lenient_(lenient) {}

    ForeignFile run(const QString& text) {
        const QStringList lines = text.split(QRegularExpression(QStringLiteral("\\r\\n|\\r|\\n")));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString trimmed = lines[i].trimmed();
            if (trimmed.isEmpty()) {
                skipping_ = false;
                continue;
            }
            if (skipping_)
                continue;
            try {
                take(trimmed, int(i) + 1);
            } catch (const EInputError& e) {
                if (!lenient_)
                    throw;
                // The rest of the question up to a blank line goes with it.
                file_.skipped << e.message();
                item_ = {};
                start_ = 0;
                skipping_ = true;
            }
        }
        if (start_ > 0) {
            const EInputError e(unfinished(), int(lines.size()), 0);
            if (!lenient_)
                throw e;
            file_.skipped << e.message();
        }
        return std::move(file_);
    }

private:
    QString unfinished() const {
        return QStringLiteral("у вопроса со строки %1 нет строки «ANSWER: …» с буквой верного "
                              "варианта")
            .arg(start_);
    }

    void take(const QString& trimmed, int line) {
        static const QRegularExpression option(QStringLiteral("^([A-Z])[.)]\\s+(.*)$"));
        static const QRegularExpression answer(QStringLiteral("^ANSWER:\\s*(\\S*)\\s*$"),
                                               QRegularExpression::CaseInsensitiveOption);
        if (const auto match = answer.match(trimmed); match.hasMatch()) {
            if (start_ == 0 || item_.answers.empty())
                throw EInputError(QStringLiteral("строка «ANSWER:» без вопроса и вариантов"), line,
                                  0);
            const QString letter = match.captured(1);
            const int k = letter.size() == 1 ? letter.at(0).unicode() - u'A' : -1;
            if (k < 0 || k >= int(item_.answers.size()))
                throw EInputError(QStringLiteral("«%1» — не буква варианта: ожидается буква от A "
                                                 "до %2")
                                      .arg(letter)
                                      .arg(QChar(char16_t(u'A' + int(item_.answers.size()) - 1))),
                                  line, 0);
            item_.answers[size_t(k)].correct = true;
            file_.items.push_back(std::move(item_));
            item_ = {};
            start_ = 0;
            return;
        }
        const auto match = option.match(trimmed);
        if (match.hasMatch() && start_ > 0) {
            const QChar expected(char16_t(u'A' + int(item_.answers.size())));
            if (match.captured(1).at(0) != expected)
                throw EInputError(QStringLiteral("вариант «%1» там, где ожидается «%2.»")
                                      .arg(match.captured(1))
                                      .arg(expected),
                                  line, 0);
            item_.answers.push_back({match.captured(2), false, {}});
            return;
        }
        if (!item_.answers.empty())
            throw EInputError(QStringLiteral("после вариантов ожидается следующий вариант или "
                                             "строка «ANSWER: …»; %1")
                                  .arg(unfinished()),
                              line, 0);
        if (start_ == 0) {
            start_ = line;
            item_.place = QStringLiteral("строка %1").arg(line);
            item_.text = trimmed;
        } else {
            item_.text += u'\n' + trimmed; // a question over several lines
        }
    }

    bool lenient_;
    ForeignFile file_;
    ForeignItem item_;
    int start_ = 0;         // the line the current question starts on, 0 between questions
    bool skipping_ = false; // after a faulty question, up to the next blank line
};

} // namespace

ForeignFile readAiken(const QString& text, bool lenient) {
    return Reader(lenient).run(text);
}

} // namespace bank
