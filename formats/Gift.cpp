#include "formats/Gift.h"

#include "core/StoredBank.h"
#include "formats/Csv.h"
#include "formats/Encoding.h"

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

// Where the unescaped text starts, from from on and ending before to, or npos.
size_t find(const Marks& m, const QString& what, size_t from = 0, size_t to = std::string::npos) {
    for (size_t i = from; i + size_t(what.size()) <= std::min(to, m.size()); ++i) {
        bool found = true;
        for (qsizetype k = 0; k < what.size() && found; ++k)
            found = isMark(m, i + size_t(k), what.at(k));
        if (found)
            return i;
    }
    return std::string::npos;
}

// Where the last unescaped text before to starts, or npos.
size_t findLast(const Marks& m, const QString& what, size_t from, size_t to) {
    size_t last = std::string::npos;
    for (size_t at = find(m, what, from); at < to; at = find(m, what, at + 1))
        if (at + size_t(what.size()) <= to)
            last = at;
    return last;
}

// The marks' text with the white space at its ends trimmed, escaped or not, as Moodle trims
// a text after it has put the escaped characters back.
QString textOf(const Marks& m, size_t from, size_t to) {
    QString text;
    for (size_t i = from; i < to; ++i)
        text += m[i].c;
    return text.trimmed();
}

// The answer block without the white space at its ends.
std::pair<size_t, size_t> trimmed(const Marks& m, size_t from, size_t to) {
    while (from < to && m[from].c.isSpace())
        ++from;
    while (to > from && m[to - 1].c.isSpace())
        --to;
    return {from, to};
}

class Reader {
public:
    Reader(QStringView text, bool lenient) : text_(text), lenient_(lenient) {}

    ForeignFile run() {
        refuseControlCharacters(text_);
        // Moodle trims each line, ends a question at a blank line and reads a comment line
        // inside a question as a blank in its text.
        qsizetype at = 0;
        QStringView raw;
        for (int line = 1; nextLine(text_, at, raw); ++line) {
            const QStringView trimmed = raw.trimmed();
            if (trimmed.startsWith(QLatin1String("//"))) {
                ++comments_;
                if (!chunk_.isEmpty())
                    append(u" ");
                continue;
            }
            if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("$CATEGORY:"))) {
                readQuestion();
                if (!trimmed.isEmpty())
                    file_.ignored << QStringLiteral("категория «%1»")
                                         .arg(trimmed.sliced(10).trimmed().toString());
                continue;
            }
            if (chunk_.isEmpty() && length_ == 0)
                line_ = line;
            append(trimmed);
        }
        readQuestion();
        if (titles_ > 0)
            file_.ignored << QStringLiteral("названия вопросов: %1").arg(titles_);
        if (comments_ > 0)
            file_.ignored << QStringLiteral("комментарии: %1").arg(comments_);
        return std::move(file_);
    }

private:
    void append(QStringView line) {
        length_ += (length_ > 0 ? 1 : 0) + line.size();
        if (length_ > kMaxForeignText) {
            chunk_.clear();
            chunk_.squeeze();
            return;
        }
        if (!chunk_.isEmpty())
            chunk_ += u'\n';
        chunk_ += line;
    }

    void readQuestion() {
        try {
            if (length_ > kMaxForeignText)
                throw EInputError(QStringLiteral("вопрос длиннее %1 символов (%2): такой вопрос "
                                                 "тест не задаёт")
                                      .arg(kMaxForeignText)
                                      .arg(length_),
                                  line_, 0);
            question(unescape(chunk_.trimmed()));
        } catch (const EInputError& e) {
            if (!lenient_)
                throw;
            file_.broken << e.message();
        }
        chunk_.clear();
        length_ = 0;
    }

    void question(const Marks& m) {
        if (m.empty())
            return;
        size_t at = 0;
        ForeignItem item;
        if (find(m, QStringLiteral("::")) == 0) {
            const size_t end = find(m, QStringLiteral("::"), 2);
            if (end == std::string::npos)
                throw EInputError(QStringLiteral("название вопроса не закрыто «::»"), line_, 0);
            item.name = textOf(m, 2, end);
            ++titles_;
            at = end + 2;
        }
        item.place = QStringLiteral("строка %1").arg(line_);
        if (!item.name.isEmpty())
            item.place += QStringLiteral(" «%1»").arg(item.name);

        const size_t open = find(m, QStringLiteral("{"), at);
        const size_t close = find(m, QStringLiteral("}"), at);
        if (open == std::string::npos && close == std::string::npos) {
            TextFormat format = TextFormat::Html;
            file_.skipped << QStringLiteral("%1 %2: описание")
                                 .arg(item.place, shown(text(m, at, m.size(), format, item)));
            return;
        }
        if (open == std::string::npos || close < open)
            throw EInputError(QStringLiteral("фигурная скобка «}» без открывающей «{»"), line_, 0);
        if (close == std::string::npos)
            throw EInputError(QStringLiteral("фигурная скобка «{» не закрыта «}»"), line_, 0);

        // The question's text with the answers taken out, or in the missing-word form
        // replaced by a blank, when text follows them.
        Marks question(m.begin() + std::ptrdiff_t(at), m.begin() + std::ptrdiff_t(open));
        if (close + 1 < m.size()) {
            for (const QChar c : QStringLiteral("_____"))
                question.push_back({c, false});
            question.insert(question.end(), m.begin() + std::ptrdiff_t(close + 1), m.end());
        }
        format_ = TextFormat::Html;
        item.text = text(question, 0, question.size(), format_, item);

        // The answers, and after the last "####" the general feedback.
        auto [first, end] = trimmed(m, open + 1, close);
        if (const size_t general = findLast(m, QStringLiteral("####"), first, end);
            general != std::string::npos) {
            TextFormat format = format_;
            item.generalFeedback = text(m, general + 4, end, format, item);
            end = trimmed(m, first, general).second;
        }
        const QString kind = kindOf(m, first, end);
        if (!kind.isEmpty()) {
            file_.skipped << QStringLiteral("%1 %2: %3").arg(item.place, shown(item.text), kind);
            return;
        }
        if (find(m, QStringLiteral("~"), first) < end)
            choices(m, first, end, item);
        else
            trueFalse(m, first, end, item);
        file_.items.push_back(std::move(item));
    }

    // The answers' text up to the first unescaped "#" after from, trimmed: what Moodle reads
    // as true or false.
    static bool isTrueFalse(const Marks& m, size_t from, size_t to) {
        const QString answer = textOf(m, from, std::min(find(m, QStringLiteral("#"), from), to));
        return answer == QLatin1String("T") || answer == QLatin1String("TRUE") ||
               answer == QLatin1String("F") || answer == QLatin1String("FALSE");
    }

    // The kind of a question the quiz cannot ask, or empty for one it can; the answers
    // trimmed, in the order Moodle tells the kinds apart.
    static QString kindOf(const Marks& m, size_t from, size_t to) {
        if (from == to)
            return QStringLiteral("эссе");
        if (isMark(m, from, u'#'))
            return QStringLiteral("числовой ответ");
        if (find(m, QStringLiteral("~"), from) < to) {
            // Without an answer marked "=", Moodle lets the pupil choose several.
            if (find(m, QStringLiteral("="), from) >= to)
                return QStringLiteral("выбор нескольких ответов");
            return {};
        }
        if (find(m, QStringLiteral("="), from) < to && find(m, QStringLiteral("->"), from) < to)
            return QStringLiteral("на соответствие");
        if (isTrueFalse(m, from, to))
            return {};
        return QStringLiteral("короткий ответ");
    }

    void trueFalse(const Marks& m, size_t from, size_t to, ForeignItem& item) {
        const size_t hash = std::min(find(m, QStringLiteral("#"), from), to);
        const bool isTrue = textOf(m, from, hash).startsWith(u'T');
        QString wrong, right;
        if (hash < to) {
            // The second "#" ends the feedback on a wrong answer; the rest is the other one.
            const size_t second = std::min(find(m, QStringLiteral("#"), hash + 1), to);
            TextFormat format = format_;
            wrong = text(m, hash + 1, second, format, item);
            if (second < to) {
                format = format_;
                right = text(m, second + 1, to, format, item);
            }
        }
        item.answers.push_back({QStringLiteral("Верно"), isTrue, isTrue ? right : wrong});
        item.answers.push_back({QStringLiteral("Неверно"), !isTrue, isTrue ? wrong : right});
    }

    void choices(const Marks& m, size_t from, size_t to, ForeignItem& item) {
        // Each unescaped "~" or "=" starts an answer; text before the first is one too.
        std::vector<size_t> starts;
        for (size_t i = from; i < to; ++i)
            if (isMark(m, i, u'=') || isMark(m, i, u'~'))
                starts.push_back(i);
        if (starts.empty() || starts.front() != from)
            starts.insert(starts.begin(), from - 1);
        // Moodle's weight: one or two digits, maybe a fraction, after "~" only.
        static const QRegularExpression weight(QStringLiteral("^%-*[0-9]{1,2}\\.?[0-9]*%"));
        for (size_t k = 0; k < starts.size(); ++k) {
            const size_t begin = starts[k] + 1;
            const size_t end = k + 1 < starts.size() ? starts[k + 1] : to;
            ForeignAnswer answer;
            size_t textStart = trimmed(m, begin, end).first;
            if (isMark(m, starts[k], u'=')) {
                answer.correct = true;
            } else if (const auto match = weight.match(textOf(m, begin, end)); match.hasMatch()) {
                answer.correct = match.captured().mid(1).chopped(1).toDouble() == 100.0;
                textStart += size_t(match.capturedLength());
            }
            // Bounded by the answer: a question of many answers is read in one pass.
            const size_t hash = std::min(find(m, QStringLiteral("#"), textStart, end), end);
            TextFormat format = format_;
            answer.text = text(m, textStart, hash, format, item);
            if (hash < end) {
                format = format_;
                answer.feedback = text(m, hash + 1, end, format, item);
            }
            item.answers.push_back(std::move(answer));
        }
        if (item.answers.size() < 2)
            throw EInputError(QStringLiteral("у вопроса с выбором ответа меньше двух ответов"),
                              line_, 0);
    }

    // One text as Moodle reads it: trimmed, a leading format marker taken for its format
    // (otherwise format stays as given), HTML or Markdown made plain.
    QString text(const Marks& m, size_t from, size_t to, TextFormat& format,
                 ForeignItem& item) const {
        QString raw = textOf(m, from, std::min(to, m.size()));
        static const QRegularExpression marker(
            QStringLiteral("^\\[(html|moodle|plain|markdown)\\]"));
        if (const auto match = marker.match(raw); match.hasMatch()) {
            const QString name = match.captured(1);
            format = name == QLatin1String("plain")      ? TextFormat::Plain
                     : name == QLatin1String("markdown") ? TextFormat::Markdown
                                                         : TextFormat::Html;
            raw = raw.sliced(match.capturedLength()).trimmed();
        }
        if (format == TextFormat::Plain)
            return raw;
        const QString plain = plainText(raw, format, &item.leftOut);
        // An entity can spell what the file itself may not hold.
        if (const qsizetype bad = firstControlCharacter(plain); bad >= 0)
            throw EInputError(controlCharacterMessage(plain[bad]), line_, 0);
        return plain;
    }

    QStringView text_;
    QString chunk_;
    qsizetype length_ = 0; // of the question read so far, with what was not kept
    int line_ = 0;         // where the question starts
    ForeignFile file_;
    int titles_ = 0;
    int comments_ = 0;
    bool lenient_;
    TextFormat format_ = TextFormat::Html; // the question text's, the others' default
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
            // Without a "~" Moodle reads the answers as a short-answer question, and without
            // an "=" as one where several are chosen: when all are correct, the first says so
            // by "=" and the others by their weight.
            const bool allCorrect = std::all_of(choices.cbegin(), choices.cend(),
                                                [](const Choice& c) { return c.correct; });
            bool first = true;
            for (const Choice& choice : choices) {
                QString answer = escaped(choice.text, number);
                // A text that starts like a format marker would be read as one.
                if (answer.startsWith(u'['))
                    answer.prepend(QLatin1String("[plain]"));
                // After "=" no weight is read; after "~" a text that starts like one would be.
                if (choice.correct && (first || !allCorrect))
                    out += u'=';
                else if (choice.correct)
                    out += QLatin1String("~%100%");
                else
                    out += answer.startsWith(u'%') ? QLatin1String("~%0%") : QLatin1String("~");
                first = first && !choice.correct;
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
