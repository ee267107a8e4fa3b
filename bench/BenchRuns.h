#pragma once

#include "data/journal/JournalStore.h"

#include <QDateTime>

namespace bench {

// The journal's benchmarks' run number `serial`: ten questions drawn from `questions`, four
// options and explanations each, choices spread by a fixed generator; one run in ten
// unfinished.
inline data::journal::RunRecord makeRun(int serial, const QDateTime& started, int questions) {
    using namespace data::journal;
    RunRecord run;
    run.uuid = QStringLiteral("bench-%1").arg(serial);
    run.started = started;
    run.ended = started.addSecs(300 + serial % 600);
    run.host = QStringLiteral("class-pc%1").arg(serial % 15 + 1, 2, 10, QLatin1Char('0'));
    run.login = QStringLiteral("pupil%1").arg(serial % 300);
    run.fullName = QStringLiteral("Ученик Номер %1").arg(serial % 300);
    run.finished = serial % 10 != 0;
    quint32 state = quint32(serial) * 2654435761u;
    for (int k = 0; k < kQuestionsPerRun; ++k) {
        state = state * 1664525u + 1013904223u;
        Answer a;
        a.questionId = (serial * 7 + k * 13) % questions + 1;
        a.question = QStringLiteral("Вопрос номер %1 о системах счисления").arg(a.questionId);
        for (size_t i = 0; i < a.options.size(); ++i) {
            a.options[i] = {QStringLiteral("Ответ %1 на вопрос %2").arg(i + 1).arg(a.questionId),
                            i == 0};
            a.explanations[i] = {
                QStringLiteral("Пояснение %1 к вопросу %2").arg(i + 1).arg(a.questionId), i == 0};
        }
        a.chosenOption = int(state >> 30) + 1;
        a.chosenExplanation = int((state >> 28) & 3) + 1;
        run.points += int(a.optionRight()) + int(a.explanationRight());
        run.answers.push_back(a);
    }
    if (run.finished)
        run.grade = run.points > 16 ? 5 : run.points > 13 ? 4 : run.points > 9 ? 3 : 2;
    return run;
}

} // namespace bench
