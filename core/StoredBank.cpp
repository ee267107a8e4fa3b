#include "core/StoredBank.h"

#include <map>

namespace bank {

namespace {

bool isBlank(const QVariant& value) {
    return value.isNull() || textOf(value).trimmed().isEmpty();
}

QString tooLong(const QVariant& text) {
    const int length = textLength(textOf(text));
    if (length <= kMaxTextLength)
        return {};
    return QStringLiteral("длиннее %1 символов (%2): поле банка вмещает %1, сократите текст")
        .arg(kMaxTextLength)
        .arg(length);
}

void checkRows(const StoredQuestion& q, const std::vector<StoredRow>& rows, const RowKind& kind,
               QStringList& problems) {
    const QString who = questionLabel(q) + QStringLiteral(": ");
    if (rows.size() != size_t(kChoicesPerQuestion))
        problems << who + QStringLiteral("%1 %2, а нужно ровно %3")
                              .arg(kind.noun)
                              .arg(rows.size())
                              .arg(kChoicesPerQuestion);
    int correct = 0;
    for (const StoredRow& row : rows)
        if (!row.flag.isNull() && row.flag.toBool())
            ++correct;
    if (correct == 0 && !rows.empty())
        problems << who + kind.noneCorrect;
    else if (correct > 1)
        problems << who + QStringLiteral("верными отмечены %1 из %2 %3, %4")
                              .arg(correct)
                              .arg(rows.size())
                              .arg(kind.noun, kind.oneNeeded);
    for (const StoredRow& row : rows) {
        if (isBlank(row.text))
            problems << who + QStringLiteral("у %1 id %2 %3")
                                  .arg(kind.genitive)
                                  .arg(row.id)
                                  .arg(row.text.isNull() ? QStringLiteral("нет текста (NULL)")
                                                         : QStringLiteral("пустой текст"));
        if (row.flag.isNull())
            problems << who + QStringLiteral("у %1 id %2 %3 не задан флаг «Правильный» (NULL)")
                                  .arg(kind.genitive)
                                  .arg(row.id)
                                  .arg(shown(row.text));
        if (const QString why = tooLong(row.text); !why.isEmpty())
            problems
                << who +
                       QStringLiteral("текст %1 id %2 %3").arg(kind.genitive).arg(row.id).arg(why);
    }
}

} // namespace

const RowKind& optionKind() {
    static const RowKind kind{data::kOptionTable,
                              data::kOptionColumn,
                              QStringLiteral("вариантов ответа"),
                              QStringLiteral("варианта ответа"),
                              QStringLiteral("Вариант ответа"),
                              QStringLiteral("ни один вариант ответа не отмечен верным"),
                              QStringLiteral("а нужен ровно один")};
    return kind;
}

const RowKind& explanationKind() {
    static const RowKind kind{data::kExplanationTable,
                              data::kExplanationColumn,
                              QStringLiteral("пояснений"),
                              QStringLiteral("пояснения"),
                              QStringLiteral("Пояснение"),
                              QStringLiteral("ни одно пояснение не отмечено верным"),
                              QStringLiteral("а нужно ровно одно")};
    return kind;
}

QString textOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    return value.toString();
}

QString shown(const QVariant& value) {
    if (value.isNull())
        return QStringLiteral("(NULL)");
    QString text = textOf(value).simplified();
    constexpr int kShownLength = 60;
    if (textLength(text) > kShownLength) {
        // Cut between characters, never inside a surrogate pair.
        qsizetype end = 0;
        for (int k = 0; k < kShownLength - 1; ++k)
            end += text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
        text = text.left(end) + u'…';
    }
    return u'«' + text + u'»';
}

QString questionLabel(const StoredQuestion& question) {
    return QStringLiteral("Вопрос id %1 %2").arg(question.id).arg(shown(question.text));
}

std::vector<size_t> duplicatesOf(const QSet<QString>& bankTexts,
                                 const std::vector<Question>& questions) {
    std::vector<size_t> duplicates;
    for (size_t i = 0; i < questions.size(); ++i)
        if (!questions[i].text.trimmed().isEmpty() && bankTexts.contains(questions[i].text))
            duplicates.push_back(i);
    return duplicates;
}

StoredBank assembleBank(std::vector<StoredQuestion> questions, std::vector<StoredRow> options,
                        std::vector<StoredRow> explanations) {
    StoredBank bank;
    bank.questions = std::move(questions);
    std::map<qint64, size_t> byId;
    for (size_t i = 0; i < bank.questions.size(); ++i)
        byId.emplace(bank.questions[i].id, i);
    auto distribute = [&](std::vector<StoredRow>& rows, auto member,
                          std::vector<StoredRow>& strays) {
        for (StoredRow& row : rows) {
            bool ok = false;
            const qint64 link = row.question.toLongLong(&ok);
            const auto found = ok ? byId.find(link) : byId.end();
            if (found != byId.end())
                (bank.questions[found->second].*member).push_back(std::move(row));
            else
                strays.push_back(std::move(row));
        }
    };
    distribute(options, &StoredQuestion::options, bank.strayOptions);
    distribute(explanations, &StoredQuestion::explanations, bank.strayExplanations);
    return bank;
}

std::vector<Question> questionsOf(const StoredBank& bank) {
    auto choices = [](const std::vector<StoredRow>& rows) {
        std::vector<Choice> out;
        for (const StoredRow& row : rows)
            out.push_back({textOf(row.text), !row.flag.isNull() && row.flag.toBool()});
        return out;
    };
    std::vector<Question> questions;
    for (const StoredQuestion& q : bank.questions)
        questions.push_back({textOf(q.text), choices(q.options), choices(q.explanations)});
    return questions;
}

QStringList questionProblems(const StoredQuestion& q) {
    QStringList problems;
    if (isBlank(q.text))
        problems << QStringLiteral("%1: %2").arg(
            questionLabel(q), q.text.isNull() ? QStringLiteral("нет текста вопроса (NULL)")
                                              : QStringLiteral("пустой текст вопроса"));
    if (const QString why = tooLong(q.text); !why.isEmpty())
        problems << QStringLiteral("%1: текст вопроса %2").arg(questionLabel(q), why);
    checkRows(q, q.options, optionKind(), problems);
    checkRows(q, q.explanations, explanationKind(), problems);
    return problems;
}

QString plural(qint64 n, const char* one, const char* few, const char* many) {
    const qint64 tens = n % 100, units = n % 10;
    const char* word = many;
    if (tens < 11 || tens > 14) {
        if (units == 1)
            word = one;
        else if (units >= 2 && units <= 4)
            word = few;
    }
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(word));
}

QString countsText(qint64 questions, qint64 options, qint64 explanations) {
    return QStringLiteral("%1, %2 ответа, %3")
        .arg(plural(questions, "вопрос", "вопроса", "вопросов"),
             plural(options, "вариант", "варианта", "вариантов"),
             plural(explanations, "пояснение", "пояснения", "пояснений"));
}

} // namespace bank
