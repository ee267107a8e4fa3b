#include "bank/Gift.h"

#include "bank/BankFile.h"
#include "bank/Csv.h"

#include <QRegularExpression>
#include <algorithm>

namespace bank {

namespace {

// A character of a question's text in the file, and whether a backslash escaped it: only the
// unescaped ones mark up the question.
struct Mark {
    QChar c;
    bool escaped = false;
};
using Marks = std::vector<Mark>;

Marks unescape(const QString& raw) {
    static const QString escapable = QStringLiteral("~=#{}:\\");
    Marks marks;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == u'\\' && i + 1 < raw.size()) {
            const QChar next = raw.at(i + 1);
            if (escapable.contains(next)) {
                marks.push_back({next, true});
                ++i;
                continue;
            }
            if (next == u'n') {
                marks.push_back({u'\n', true});
                ++i;
                continue;
            }
        }
        marks.push_back({c, false});
    }
    return marks;
}

bool isMark(const Marks& m, size_t at, QChar c) {
    return at < m.size() && !m[at].escaped && m[at].c == c;
}

// Where the unescaped text starts, from from on, or npos.
size_t find(const Marks& m, const QString& what, size_t from = 0) {
    for (size_t i = from; i + size_t(what.size()) <= m.size(); ++i) {
        bool found = true;
        for (qsizetype k = 0; k < what.size() && found; ++k)
            found = isMark(m, i + size_t(k), what.at(k));
        if (found)
            return i;
    }
    return std::string::npos;
}

// The marks' text with the unescaped white space at its ends trimmed: an escaped line break
// at the end of a text is kept.
QString textOf(const Marks& m, size_t from, size_t to) {
    while (from < to && !m[from].escaped && m[from].c.isSpace())
        ++from;
    while (to > from && !m[to - 1].escaped && m[to - 1].c.isSpace())
        --to;
    QString text;
    for (size_t i = from; i < to; ++i)
        text += m[i].c;
    return text;
}

class Reader {
public:
    Reader(const QString& text, bool lenient)
        : lines_(text.split(QRegularExpression(QStringLiteral("\\r\\n|\\r|\\n")))),
          lenient_(lenient) {}

    ForeignFile run() {
        QString chunk;
        int start = 0;
        for (qsizetype i = 0; i < lines_.size(); ++i) {
            const QString trimmed = lines_[i].trimmed();
            if (trimmed.startsWith(QLatin1String("//"))) {
                ++comments_;
                continue;
            }
            if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("$CATEGORY:"))) {
                readQuestion(chunk, start);
                chunk.clear();
                if (!trimmed.isEmpty())
                    file_.ignored
                        << QStringLiteral("категория «%1»").arg(trimmed.mid(10).trimmed());
                continue;
            }
            if (chunk.isEmpty())
                start = int(i) + 1;
            else
                chunk += u'\n';
            chunk += lines_[i];
        }
        readQuestion(chunk, start);
        if (titles_ > 0)
            file_.ignored << QStringLiteral("названия вопросов: %1").arg(titles_);
        if (comments_ > 0)
            file_.ignored << QStringLiteral("комментарии: %1").arg(comments_);
        return std::move(file_);
    }

private:
    void readQuestion(const QString& chunk, int line) {
        try {
            question(chunk, line);
        } catch (const EInputError& e) {
            if (!lenient_)
                throw;
            file_.skipped << e.message();
        }
    }

    void question(const QString& chunk, int line) {
        if (chunk.trimmed().isEmpty())
            return;
        const Marks m = unescape(chunk);
        size_t at = 0;
        while (at < m.size() && !m[at].escaped && m[at].c.isSpace())
            ++at;
        ForeignItem item;
        if (find(m, QStringLiteral("::"), at) == at) {
            const size_t end = find(m, QStringLiteral("::"), at + 2);
            if (end == std::string::npos)
                throw EInputError(QStringLiteral("название вопроса не закрыто «::»"), line, 0);
            item.name = textOf(m, at + 2, end);
            ++titles_;
            at = end + 2;
        }
        while (at < m.size() && !m[at].escaped && m[at].c.isSpace())
            ++at;
        html_ = true;
        static const QRegularExpression marker(
            QStringLiteral("^\\[(html|moodle|plain|markdown)\\]"));
        if (const auto match = marker.match(textOf(m, at, m.size())); match.hasMatch()) {
            html_ = match.captured(1) == QLatin1String("html") ||
                    match.captured(1) == QLatin1String("moodle");
            at += size_t(match.capturedLength());
        }
        item.place = QStringLiteral("строка %1").arg(line);
        if (!item.name.isEmpty())
            item.place += QStringLiteral(" «%1»").arg(item.name);

        const size_t open = find(m, QStringLiteral("{"), at);
        if (open == std::string::npos) {
            file_.skipped << QStringLiteral("%1 %2: описание без ответов")
                                 .arg(item.place, shown(plain(m, at, m.size(), item.leftOut)));
            return;
        }
        const size_t close = find(m, QStringLiteral("}"), open + 1);
        if (close == std::string::npos)
            throw EInputError(QStringLiteral("фигурная скобка «{» не закрыта «}»"), line, 0);
        item.text = plain(m, at, open, item.leftOut);
        if (const QString after = plain(m, close + 1, m.size(), item.leftOut); !after.isEmpty())
            item.text += QStringLiteral(" _____ ") + after; // the missing-word form

        // The answers, and after "####" the general feedback.
        size_t end = close;
        if (const size_t general = find(m, QStringLiteral("####"), open + 1); general < close) {
            item.generalFeedback = plain(m, general + 4, close, item.leftOut);
            end = general;
        }
        const size_t first = open + 1;
        const QString block = textOf(m, first, end);
        const QString kind = kindOf(m, first, end, block);
        if (!kind.isEmpty()) {
            file_.skipped << QStringLiteral("%1 %2: %3").arg(item.place, shown(item.text), kind);
            return;
        }
        if (find(m, QStringLiteral("~"), first) >= end)
            trueFalse(m, first, end, item);
        else
            choices(m, first, end, item);
        file_.items.push_back(std::move(item));
    }

    static bool isTrueFalse(const QString& block) {
        static const QRegularExpression pattern(QStringLiteral("^(T|F|TRUE|FALSE)(#|$)"),
                                                QRegularExpression::CaseInsensitiveOption);
        return pattern.match(block).hasMatch();
    }

    // The kind of a question the quiz cannot ask, or empty for one it can.
    static QString kindOf(const Marks& m, size_t from, size_t to, const QString& block) {
        // In the order Moodle tells them apart.
        if (block.isEmpty())
            return QStringLiteral("эссе");
        size_t first = from;
        while (first < to && !m[first].escaped && m[first].c.isSpace())
            ++first;
        if (isMark(m, first, u'#'))
            return QStringLiteral("числовой ответ");
        if (find(m, QStringLiteral("~"), from) < to)
            return {};
        if (find(m, QStringLiteral("->"), from) < to)
            return QStringLiteral("на соответствие");
        if (isTrueFalse(block))
            return {};
        return QStringLiteral("короткий ответ");
    }

    void trueFalse(const Marks& m, size_t from, size_t to, ForeignItem& item) {
        const bool isTrue = textOf(m, from, to).startsWith(u'T', Qt::CaseInsensitive);
        QString wrong, right;
        if (const size_t hash = find(m, QStringLiteral("#"), from); hash < to) {
            const size_t second = find(m, QStringLiteral("#"), hash + 1);
            wrong = plain(m, hash + 1, std::min(second, to), item.leftOut);
            if (second < to)
                right = plain(m, second + 1, to, item.leftOut);
        }
        item.answers.push_back({QStringLiteral("Верно"), isTrue, isTrue ? right : wrong});
        item.answers.push_back({QStringLiteral("Неверно"), !isTrue, isTrue ? wrong : right});
    }

    void choices(const Marks& m, size_t from, size_t to, ForeignItem& item) {
        std::vector<size_t> starts;
        for (size_t i = from; i < to; ++i)
            if (isMark(m, i, u'=') || isMark(m, i, u'~'))
                starts.push_back(i);
        static const QRegularExpression weight(QStringLiteral("^%(-?[0-9]+(?:\\.[0-9]+)?)%"));
        for (size_t k = 0; k < starts.size(); ++k) {
            const size_t begin = starts[k] + 1;
            const size_t end = k + 1 < starts.size() ? starts[k + 1] : to;
            ForeignAnswer answer;
            answer.correct = m[starts[k]].c == u'=';
            size_t textStart = begin;
            if (const auto match = weight.match(textOf(m, begin, end)); match.hasMatch()) {
                answer.correct = match.captured(1).toDouble() == 100.0;
                while (textStart < end && !isMark(m, textStart, u'%'))
                    ++textStart; // white space before the weight
                textStart += size_t(match.capturedLength());
            }
            const size_t hash = find(m, QStringLiteral("#"), textStart);
            answer.text = plain(m, textStart, std::min(hash, end), item.leftOut);
            if (hash < end)
                answer.feedback = plain(m, hash + 1, end, item.leftOut);
            item.answers.push_back(std::move(answer));
        }
    }

    QString plain(const Marks& m, size_t from, size_t to, bool& leftOut) const {
        const QString text = textOf(m, from, std::min(to, m.size()));
        return html_ ? htmlToText(text, &leftOut) : text;
    }

    QStringList lines_;
    ForeignFile file_;
    int titles_ = 0;
    int comments_ = 0;
    bool lenient_;
    bool html_ = true; // the current question's texts are HTML
};

QString escaped(const QString& text, int question) {
    QString out;
    const QString trimmed = text.trimmed();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        if (c == u'\n' || c == u'\r') {
            // A line break of the file could leave a blank line, which ends the question.
            if (!(c == u'\n' && i > 0 && trimmed.at(i - 1) == u'\r'))
                out += QLatin1String("\\n");
            continue;
        }
        if (csv::isControlCharacter(c))
            throw EToolError(QStringLiteral("в тексте вопроса %1 есть управляющий символ, "
                                            "которого не перенесёт текстовый файл; исправьте "
                                            "текст в редакторе")
                                 .arg(question));
        if (QStringLiteral("~=#{}:\\").contains(c))
            out += u'\\';
        out += c;
    }
    return out;
}

} // namespace

ForeignFile readGift(const QString& text, bool lenient) {
    return Reader(text, lenient).run();
}

QString giftText(const std::vector<Question>& questions, const QString& category) {
    QString out = QStringLiteral("// Банк вопросов «%1»: по два задания на вопрос, ответ и "
                                 "пояснение, по баллу за каждое.\n$CATEGORY: $course$/top/%1\n")
                      .arg(QString(category).replace(u'\n', u' ').replace(u'\r', u' '));
    const int width = int(QString::number(questions.size()).size());
    for (size_t i = 0; i < questions.size(); ++i) {
        const Question& q = questions[i];
        const int number = int(i) + 1;
        const QString name = QStringLiteral("Вопрос %1").arg(number, width, 10, QLatin1Char('0'));
        auto item = [&](const QString& title, const QString& text,
                        const std::vector<Choice>& choices) {
            out += QStringLiteral("\n::%1::[plain]%2{\n")
                       .arg(escaped(title, number), escaped(text, number));
            // Without a "~" GIFT reads the answers as a short-answer question: when all are
            // correct, each says so by its weight.
            const bool allCorrect = std::all_of(choices.cbegin(), choices.cend(),
                                                [](const Choice& c) { return c.correct; });
            for (const Choice& choice : choices) {
                const QString answer = escaped(choice.text, number);
                // A text that starts like a weight would be read as one.
                if (allCorrect)
                    out += QLatin1String("~%100%");
                else if (answer.startsWith(u'%'))
                    out += choice.correct ? QLatin1String("=%100%") : QLatin1String("~%0%");
                else
                    out += choice.correct ? u'=' : u'~';
                out += answer + u'\n';
            }
            out += QLatin1String("}\n");
        };
        // The explanation's item repeats the question's text as the question's item has it,
        // so that the import knows the two for one question.
        const QString text = q.text.trimmed();
        item(name, text, q.options);
        item(explanationItemName(name), explanationItemText(text), q.explanations);
    }
    return out;
}

} // namespace bank
