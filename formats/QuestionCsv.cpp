#include "formats/QuestionCsv.h"

#include "formats/Csv.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace bank {

namespace {

const QString kQuestionHeading = QStringLiteral("Вопрос");
const QString kOptionHeading = QStringLiteral("Ответ %1");
const QString kCorrectOptionHeading = QStringLiteral("Верный ответ");
const QString kExplanationHeading = QStringLiteral("Пояснение %1");
const QString kCorrectExplanationHeading = QStringLiteral("Верное пояснение");

// Where each column of the file is; every index is a cell index of a row.
struct Layout {
    int question = -1;
    std::vector<int> options; // options[k] holds "Ответ k+1"
    int correctOption = -1;
    std::vector<int> explanations;
    int correctExplanation = -1;
    QStringList headings; // as written in the file, for the messages
    int width = 0;        // cells of the header, the empty ones at its end included
};

QString cellLabel(const Layout& layout, int index) {
    if (index < layout.headings.size())
        return QStringLiteral("столбец %1 «%2»")
            .arg(index + 1)
            .arg(layout.headings.at(index).trimmed());
    return QStringLiteral("столбец %1").arg(index + 1);
}

bool sameHeading(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The k of "Ответ k" / "Пояснение k", or nothing.
std::optional<int> numberedHeading(const QString& name, const QString& word) {
    static const QRegularExpression pattern(QStringLiteral("^(\\w+)\\s*(\\d+)$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    const auto match = pattern.match(name);
    if (!match.hasMatch() || !sameHeading(match.captured(1), word))
        return std::nullopt;
    bool ok = false;
    const int k = match.captured(2).toInt(&ok);
    if (!ok || k < 1 || k > kMaxChoices)
        return std::nullopt;
    return k;
}

Layout readHeader(const csv::Record& header) {
    Layout layout;
    layout.width = int(header.cells.size());
    // A spreadsheet that ends its lines with a delimiter leaves empty headings at the end.
    size_t named = header.cells.size();
    while (named > 1 && !header.cells[named - 1].quoted &&
           header.cells[named - 1].text.trimmed().isEmpty())
        --named;
    std::vector<std::pair<int, int>> options, explanations; // (k, cell index)
    auto claim = [&](int& slot, int index) {
        if (slot >= 0)
            throw EInputError(QStringLiteral("столбец повторяет %1").arg(cellLabel(layout, slot)),
                              header.line, 0, cellLabel(layout, index));
        slot = index;
    };
    for (size_t i = 0; i < named; ++i) {
        const int index = int(i);
        const QString name = header.cells[i].text.trimmed();
        layout.headings << name;
        if (sameHeading(name, kQuestionHeading)) {
            claim(layout.question, index);
        } else if (sameHeading(name, kCorrectOptionHeading)) {
            claim(layout.correctOption, index);
        } else if (sameHeading(name, kCorrectExplanationHeading)) {
            claim(layout.correctExplanation, index);
        } else if (const auto k = numberedHeading(name, QStringLiteral("Ответ"))) {
            options.emplace_back(*k, index);
        } else if (const auto m = numberedHeading(name, QStringLiteral("Пояснение"))) {
            explanations.emplace_back(*m, index);
        } else {
            throw EInputError(
                QStringLiteral("неизвестный столбец; в заголовке бывают «Вопрос», «Ответ 1» … "
                               "«Ответ N», «Верный ответ», «Пояснение 1» … «Пояснение M», "
                               "«Верное пояснение»"),
                header.line, 0,
                name.isEmpty() ? QStringLiteral("столбец %1 без заголовка").arg(index + 1)
                               : cellLabel(layout, index));
        }
    }
    auto arrange = [&](std::vector<std::pair<int, int>>& numbered, std::vector<int>& columns,
                       const QString& heading) {
        std::sort(numbered.begin(), numbered.end());
        for (size_t n = 0; n < numbered.size(); ++n) {
            const auto [k, index] = numbered[n];
            if (n > 0 && numbered[n - 1].first == k)
                throw EInputError(QStringLiteral("столбец повторяет %1")
                                      .arg(cellLabel(layout, numbered[n - 1].second)),
                                  header.line, 0, cellLabel(layout, index));
            if (k != int(n) + 1)
                throw EInputError(
                    QStringLiteral("в заголовке нет столбца «%1»").arg(heading.arg(n + 1)),
                    header.line, 0);
            columns.push_back(index);
        }
        if (columns.empty())
            throw EInputError(QStringLiteral("в заголовке нет столбца «%1»").arg(heading.arg(1)),
                              header.line, 0);
    };
    if (layout.question < 0)
        throw EInputError(QStringLiteral("в заголовке нет столбца «%1»").arg(kQuestionHeading),
                          header.line, 0);
    arrange(options, layout.options, kOptionHeading);
    if (layout.correctOption < 0)
        throw EInputError(QStringLiteral("в заголовке нет столбца «%1»").arg(kCorrectOptionHeading),
                          header.line, 0);
    arrange(explanations, layout.explanations, kExplanationHeading);
    if (layout.correctExplanation < 0)
        throw EInputError(
            QStringLiteral("в заголовке нет столбца «%1»").arg(kCorrectExplanationHeading),
            header.line, 0);
    return layout;
}

// The options (or explanations) of one row: the cells up to the last one with text or quotes,
// flagged by the numbers of the correct-column.
std::vector<Choice> readChoices(const csv::Record& row, const Layout& layout,
                                const std::vector<int>& columns, int correctColumn,
                                const QString& heading) {
    auto textAt = [&](int index) {
        return index < int(row.cells.size()) ? row.cells[index].text : QString();
    };
    auto written = [&](int index) {
        return index < int(row.cells.size()) &&
               (row.cells[index].quoted || !row.cells[index].text.trimmed().isEmpty());
    };
    int count = 0;
    for (size_t k = 0; k < columns.size(); ++k)
        if (written(columns[k]))
            count = int(k) + 1;
    std::vector<Choice> choices;
    for (int k = 0; k < count; ++k)
        choices.push_back({textAt(columns[k]), false});

    if (correctColumn >= int(row.cells.size()))
        return choices;
    const csv::Cell& cell = row.cells[correctColumn];
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    const QStringList numbers = cell.text.split(separators, Qt::SkipEmptyParts);
    for (const QString& token : numbers) {
        bool ok = false;
        const int n = token.toInt(&ok);
        if (!ok || n < 1 || n > int(columns.size()))
            throw EInputError(QStringLiteral("«%1» — не номер: ожидаются номера от 1 до %2 через "
                                             "запятую или пробел")
                                  .arg(token)
                                  .arg(columns.size()),
                              cell.line, cell.column, cellLabel(layout, correctColumn));
        if (!written(columns[n - 1]))
            throw EInputError(QStringLiteral("верным назван номер %1, но ячейка «%2» пуста")
                                  .arg(n)
                                  .arg(heading.arg(n)),
                              cell.line, cell.column, cellLabel(layout, correctColumn));
        choices[n - 1].correct = true;
    }
    return choices;
}

} // namespace

namespace {

std::vector<Question> questionsIn(const csv::Document& doc, std::vector<int>* lines) {
    auto record = doc.records.begin();
    while (record != doc.records.end() && record->isBlank())
        ++record;
    if (record == doc.records.end())
        throw EInputError(QStringLiteral("файл пуст: нет даже строки заголовка"), 1, 0);
    const Layout layout = readHeader(*record);
    const int width = layout.width;
    const int named = int(layout.headings.size());

    std::vector<Question> questions;
    for (++record; record != doc.records.end(); ++record) {
        const csv::Record& row = *record;
        if (row.isBlank())
            continue;
        if (int(row.cells.size()) > width) {
            const csv::Cell& extra = row.cells[width];
            throw EInputError(QStringLiteral("в строке %1 ячеек, а в заголовке %2 столбцов "
                                             "(не заключён ли в кавычки текст с разделителем?)")
                                  .arg(row.cells.size())
                                  .arg(width),
                              extra.line, extra.column,
                              QStringLiteral("столбец %1").arg(width + 1));
        }
        for (size_t i = 0; i < row.cells.size(); ++i) {
            const csv::Cell& cell = row.cells[i];
            if (int(i) >= named && (cell.quoted || !cell.text.trimmed().isEmpty()))
                throw EInputError(QStringLiteral("текст в столбце без заголовка; дайте столбцу "
                                                 "заголовок или перенесите текст"),
                                  cell.line, cell.column, cellLabel(layout, int(i)));
            if (const int length = textLength(cell.text); length > kMaxTextLength)
                throw EInputError(QStringLiteral("текст длиннее %1 символов (%2)")
                                      .arg(kMaxTextLength)
                                      .arg(length),
                                  cell.line, cell.column, cellLabel(layout, int(i)));
        }
        Question q;
        if (layout.question < int(row.cells.size()))
            q.text = row.cells[layout.question].text;
        q.options = readChoices(row, layout, layout.options, layout.correctOption, kOptionHeading);
        q.explanations = readChoices(row, layout, layout.explanations, layout.correctExplanation,
                                     kExplanationHeading);
        questions.push_back(std::move(q));
        if (lines)
            lines->push_back(row.line);
    }
    return questions;
}

} // namespace

std::vector<Question> parseQuestions(const QByteArray& csvBytes, std::vector<int>* lines) {
    return questionsIn(csv::parse(csvBytes), lines);
}

std::vector<Question> parseQuestionText(const QString& text, std::vector<int>* lines) {
    return questionsIn(csv::parseText(text), lines);
}

QByteArray formatQuestions(const std::vector<Question>& questions) {
    size_t optionColumns = data::kChoicesPerQuestion;
    size_t explanationColumns = data::kChoicesPerQuestion;
    for (const Question& q : questions) {
        optionColumns = std::max(optionColumns, q.options.size());
        explanationColumns = std::max(explanationColumns, q.explanations.size());
    }
    const QChar delimiter = u';';
    QStringList header{kQuestionHeading};
    for (size_t k = 1; k <= optionColumns; ++k)
        header << kOptionHeading.arg(k);
    header << kCorrectOptionHeading;
    for (size_t k = 1; k <= explanationColumns; ++k)
        header << kExplanationHeading.arg(k);
    header << kCorrectExplanationHeading;

    QString text = csv::formatRecord(header, delimiter);
    auto appendChoices = [](QStringList& cells, QList<int>& quoted,
                            const std::vector<Choice>& choices, size_t columns) {
        QStringList correct;
        for (size_t k = 0; k < columns; ++k) {
            if (k < choices.size() && choices[k].text.isEmpty())
                quoted << int(cells.size());
            cells << (k < choices.size() ? choices[k].text : QString());
            if (k < choices.size() && choices[k].correct)
                correct << QString::number(k + 1);
        }
        cells << correct.join(QLatin1String(", "));
    };
    for (const Question& q : questions) {
        QStringList cells{q.text};
        QList<int> quoted;
        appendChoices(cells, quoted, q.options, optionColumns);
        appendChoices(cells, quoted, q.explanations, explanationColumns);
        // A question with a blank text and nothing else would read back as a blank line and
        // vanish; the quotes keep it.
        const bool blank = std::all_of(cells.cbegin(), cells.cend(), [](const QString& cell) {
            return cell.trimmed().isEmpty();
        });
        if (blank)
            quoted << 0;
        text += csv::formatRecord(cells, delimiter, quoted);
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace bank
