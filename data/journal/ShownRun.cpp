#include "data/journal/ShownRun.h"

#include "data/Engine.h"
#include "data/Errors.h"

#include <QScopeGuard>
#include <QStringList>

namespace data::journal {

int gradeFor(int points) {
    return points > 16 ? 5 : points > 13 ? 4 : points > 9 ? 3 : 2;
}

qint64 ShownQuestion::chosenId(const ShownRows& rows, int chosen) {
    return chosen >= 1 && chosen <= int(rows.size()) ? rows[size_t(chosen - 1)].id : 0;
}

Answer ShownQuestion::answer() const {
    Answer a;
    a.questionId = questionId;
    a.question = question;
    for (size_t i = 0; i < options.size(); ++i) {
        a.options[i] = {options[i].text, options[i].correct.value_or(false)};
        a.explanations[i] = {explanations[i].text, explanations[i].correct.value_or(false)};
    }
    a.chosenOption = chosenOption;
    a.chosenExplanation = chosenExplanation;
    a.chosenOptionId = chosenOptionId();
    a.chosenExplanationId = chosenExplanationId();
    return a;
}

RunRecord ShownRun::recorded() const {
    RunRecord run = record;
    for (const auto& [position, question] : questions)
        if (question.answered())
            run.answers.push_back(question.answer());
    return run;
}

namespace {

// An integer array in the server's text form: {1,2} or, nested, {{1,2},{3,4}}.
template <typename Ids> QString arrayText(const Ids& ids) {
    QStringList items;
    for (const qint64 id : ids)
        items << QString::number(id);
    return u'{' + items.join(u',') + u'}';
}

} // namespace

QString startOnServer(Engine& engine, const RunRecord& who, const std::vector<DrawnQuestion>& run) {
    std::vector<qint64> questions;
    QStringList options, explanations;
    for (const DrawnQuestion& q : run) {
        questions.push_back(q.questionId);
        options << arrayText(q.options);
        explanations << arrayText(q.explanations);
    }
    QString token;
    engine.query(QStringLiteral("SELECT \"Начать_тест\"($1::integer[], $2::integer[], "
                                "$3::integer[], $4, $5, $6, $7)::text"),
                 {arrayText(questions), u'{' + options.join(u',') + u'}',
                  u'{' + explanations.join(u',') + u'}', who.login, who.host, who.fullName,
                  who.pupil},
                 [&](const RowData& row) { token = row.value(0).toString(); });
    if (token.isEmpty())
        throw EDatabaseError(QStringLiteral("Сервер банка вопросов не начал тест"));
    return token;
}

ServerScore finishOnServer(Engine& engine, const RunRecord& run) {
    // Inside a write scope the run would share the fate of the bank's transaction.
    if (engine.inTransaction())
        throw EDatabaseError(QStringLiteral("банк вопросов ещё записывается"));
    std::vector<qint64> options, explanations;
    for (const Answer& a : run.answers) {
        options.push_back(a.chosenOptionId);
        explanations.push_back(a.chosenExplanationId);
    }
    ServerScore score;
    bool answered = false;
    // The program's deadline covers every round trip, a dead network included; the server's,
    // which frees it from a call no one waits for, lives only in this transaction, so that the
    // bank's own statements keep theirs.
    engine.setDeadline(QDeadlineTimer(kServerScoreDeadlineMs));
    const auto noDeadline = qScopeGuard([&] { engine.setDeadline(QDeadlineTimer::Forever); });
    engine.begin();
    try {
        engine.query(QStringLiteral("SELECT set_config('statement_timeout', $1, true)"),
                     {QString::number(kServerScoreDeadlineMs)});
        engine.query(QStringLiteral("SELECT \"Баллы\", \"Оценка\" FROM "
                                    "\"Завершить_тест\"($1::uuid, $2::integer[], $3::integer[])"),
                     {run.serverToken, arrayText(options), arrayText(explanations)},
                     [&](const RowData& row) {
                         answered = true;
                         if (row.type(0) != CellType::Null)
                             score.points = int(row.integer(0));
                         if (row.type(1) != CellType::Null)
                             score.grade = int(row.integer(1));
                     });
        engine.commit();
    } catch (...) {
        engine.rollback();
        throw;
    }
    if (!answered)
        throw EDatabaseError(QStringLiteral("Сервер банка вопросов не ответил на конец теста"));
    return score;
}

} // namespace data::journal
