#include "tests/support/JournalRuns.h"

namespace testsupport {

using namespace data::journal;

namespace {

Answer question(qint64 id, int key, int choice) {
    Answer a;
    a.questionId = id;
    a.question = QStringLiteral("Вопрос %1").arg(id);
    for (size_t i = 0; i < 4; ++i) {
        a.options[i] = {QStringLiteral("Ответ %1.%2").arg(id).arg(i + 1), int(i) + 1 == key};
        a.explanations[i] = {QStringLiteral("Пояснение %1").arg(i + 1), i == 0};
    }
    a.chosenOption = choice;
    a.chosenExplanation = choice == key ? 1 : 2;
    return a;
}

} // namespace

RunRecord knownRun(int strength, int key, int choice, const QString& pupil) {
    static int serial = 0;
    RunRecord r;
    r.uuid = QStringLiteral("run-%1").arg(++serial);
    r.started = QDateTime(QDate(2026, 5, 20), QTime(9, 0), Qt::UTC).addSecs(serial * 60);
    r.ended = r.started.addSecs(420);
    r.host = QStringLiteral("pc%1").arg(serial % 15);
    r.login = QStringLiteral("user%1").arg(serial);
    r.pupil = pupil;
    r.finished = true;
    r.answers.push_back(question(1, key, choice));
    for (int q = 2; q <= kQuestionsPerRun; ++q)
        r.answers.push_back(question(q, 1, q - 2 < strength ? 1 : 2));
    for (const Answer& a : r.answers)
        r.points += int(a.optionRight()) + int(a.explanationRight());
    r.grade = r.points > 16 ? 5 : r.points > 13 ? 4 : r.points > 9 ? 3 : 2;
    return r;
}

} // namespace testsupport
