#include "data/ShownRun.h"

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
    return a;
}

RunRecord ShownRun::recorded() const {
    RunRecord run = record;
    for (const auto& [position, question] : questions)
        if (question.answered())
            run.answers.push_back(question.answer());
    return run;
}

} // namespace data::journal
