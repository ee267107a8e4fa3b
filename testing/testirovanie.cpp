#include "testing/testirovanie.h"

#include "app/Unit1.h"
#include "data/DM.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "testing/Geometry.h"
#include "toolkit/DBText.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"
#include "toolkit/WrapRadioButton.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <ratio>
#include <utility>

Ttesti* testi = nullptr;

std::vector<int32_t> QuestionOrder;

uint32_t RandSeed = 0;

namespace {

constexpr int32_t kRunLength = data::kQuestionsPerTest;

int32_t labelValue(const QLabel* label) {
    return label->text().toInt();
}

void setLabelValue(QLabel* label, int32_t value) {
    label->setText(QString::number(value));
}

// Entry k of the drawn order. Before the first successful draw the order is empty, and a run
// whose draw failed half-way can still ask for an entry: that must be an error, not a read past
// the array.
int32_t orderEntry(int32_t k) {
    if (k < 0 || size_t(k) >= QuestionOrder.size())
        throw Exception(QStringLiteral("Range check error"));
    return QuestionOrder[size_t(k)];
}

// The place of the checked button among its group's, counted from 1; 0 when none is.
int checkedPosition(std::initializer_list<const toolkit::WrapRadioButton*> buttons) {
    int position = 1;
    for (const toolkit::WrapRadioButton* button : buttons) {
        if (button->isChecked())
            return position;
        ++position;
    }
    return 0;
}

toolkit::WrapRadioButton* makeRadioButton(const char* name, QWidget* parent, int top, int height) {
    auto* button = new toolkit::WrapRadioButton(QString::fromLatin1(name), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(15, top, testwindow::kChoiceWidth, height);
    return button;
}

} // namespace

int32_t Random(int32_t range) {
    RandSeed = RandSeed * 134775813u + 1u;
    return int32_t((uint64_t(uint32_t(range)) * RandSeed) >> 32);
}

void Randomize() {
    using Clock = std::chrono::steady_clock;
    const auto sinceStart = Clock::now().time_since_epoch();
    if constexpr (std::ratio_less_equal_v<Clock::period, std::micro>)
        RandSeed =
            uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceStart).count());
    else
        RandSeed =
            uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

void MakeRandomOrder(int32_t* a, int32_t n) {
    for (int32_t i = 0; i <= n; ++i)
        a[i] = i;
    // j stays below i, so every entry moves: the result is one cycle through all of 0..n. The
    // last pass, i = 0, swaps entry 0 with itself and still draws a value.
    for (int32_t i = n; i >= 0; --i) {
        const int32_t j = Random(i);
        std::swap(a[i], a[j]);
    }
}

void FillQuestionOrder(const std::vector<bool>& showable) {
    // MakeRandomOrder only ever gives one cycle through 0..N, so reading entry k as the k-th
    // question would never ask question k k-th. Following the cycle from 0 instead,
    // 0 -> a[0] -> a[a[0]] -> ..., meets each of 1..N once before it returns to 0, and the
    // cycles through 0..N match the orders of 1..N one to one: every order, and so every
    // question at every position, is equally likely. Leaving out the questions that cannot be
    // shown keeps the others' order equally likely.
    std::vector<int32_t> cycle(showable.size() + 1, 0);
    MakeRandomOrder(cycle.data(), int32_t(cycle.size()) - 1);
    QuestionOrder.assign(1, 0);
    int32_t at = 0;
    for (size_t k = 1; k < cycle.size(); ++k) {
        at = cycle[size_t(at)];
        if (showable[size_t(at) - 1])
            QuestionOrder.push_back(at);
    }
}

Ttesti::Ttesti(QWidget* parent)
    : TForm(QStringLiteral("Тестирование"), toolkit::clientSizeForOuter(QSize(655, 467)),
            QPalette::Button, parent) {
    setObjectName(QStringLiteral("testi"));

    DBText1 = new toolkit::DBText(this);
    DBText1->setObjectName(QStringLiteral("DBText1"));
    DBText1->setGeometry(8, 9, testwindow::kQuestionLabelWidth, testwindow::kQuestionLabelHeight);
    if (DataModule2)
        DBText1->setDataSource(&DataModule2->Vopros_DS);
    DBText1->setDataField(data::kQuestionColumn);

    GroupBox1 = new QGroupBox(QStringLiteral("Выберите ответ:"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 32, 614, 161);
    // The options are one line high: a longer text is cut after its first line.
    RadioButton1 = makeRadioButton("RadioButton1", GroupBox1, 24, testwindow::kOptionHeight);
    RadioButton2 = makeRadioButton("RadioButton2", GroupBox1, 55, testwindow::kOptionHeight);
    RadioButton3 = makeRadioButton("RadioButton3", GroupBox1, 86, testwindow::kOptionHeight);
    RadioButton4 = makeRadioButton("RadioButton4", GroupBox1, 117, testwindow::kOptionHeight);

    // Part of the layout but never shown: the main menu starts the draw itself.
    Button2 = new QPushButton(QStringLiteral("Массив"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(491, 48, 62, 25);
    Button2->setVisible(false);

    Button1 = new QPushButton(QStringLiteral("Далее -->>"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 402, 75, 25);
    // Enter presses the button when it has the focus, as Space does; Qt's push buttons take
    // Enter by themselves only in dialogs.
    Button1->setAutoDefault(true);

    GroupBox2 = new QGroupBox(QStringLiteral("Выберите пояснение к ответу:"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(8, 199, 614, 194);
    // The explanations have room for three lines each.
    RadioButton5 = makeRadioButton("RadioButton5", GroupBox2, 24, testwindow::kExplanationHeight);
    RadioButton6 = makeRadioButton("RadioButton6", GroupBox2, 63, testwindow::kExplanationHeight);
    RadioButton7 = makeRadioButton("RadioButton7", GroupBox2, 102, testwindow::kExplanationHeight);
    RadioButton8 = makeRadioButton("RadioButton8", GroupBox2, 141, testwindow::kExplanationHeight);

    Label2 = new QLabel(QStringLiteral("1"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(103, 407, 6, 13);
    Label2->setVisible(false);

    Label1 = new QLabel(QStringLiteral("0"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(127, 407, 6, 13);
    Label1->setVisible(false);

    connect(Button2, &QPushButton::clicked, this,
            toolkit::guarded([this] { Button2Click(Button2); }));
    connect(Button1, &QPushButton::clicked, this,
            toolkit::guarded([this] { Button1Click(Button1); }));
    OnClose = toolkit::guarded([this] { FormClose(this); });
}

void Ttesti::uncheckAll() {
    for (toolkit::WrapRadioButton* button :
         {RadioButton1, RadioButton2, RadioButton3, RadioButton4, RadioButton5, RadioButton6,
          RadioButton7, RadioButton8})
        toolkit::uncheck(button);
}

void Ttesti::Button2Click(QObject*) {
    data::Table& questions = DataModule2->Vopros;

    // A run needs ten distinct questions that can be shown. With fewer, refuse before anything
    // changes: nothing failed, so the plain message box says why. The main menu is still
    // visible, since hiding it comes after the draw.
    const std::vector<bool> showable = showableQuestions();
    const int count = int(showable.size());
    const int showableCount = int(std::count(showable.begin(), showable.end(), true));
    if (showableCount < kRunLength) {
        hide();
        toolkit::ShowMessage(
            showableCount == count
                ? QStringLiteral("Для теста нужно %1 вопросов, в базе: %2.")
                      .arg(kRunLength)
                      .arg(count)
                : QStringLiteral("Для теста нужно %1 вопросов с ответами и пояснениями, в базе "
                                 "таких: %2 из %3.")
                      .arg(kRunLength)
                      .arg(showableCount)
                      .arg(count));
        return;
    }

    Label2->setText(QStringLiteral("1"));
    Label1->setText(QStringLiteral("0"));
    uncheckAll();

    NumberQuestions(questions, DataModule2->ADOConnection1);

    Randomize();
    // The renumbering followed the rows in the same order: question i is the i-th row.
    FillQuestionOrder(showable);
    Recorder.started();
    if (DataModule2->ADOConnection1.engine().scoresRuns())
        Recorder.startOnServer(drawnQuestions());

    ShowQuestion(labelValue(Label2));
    setWindowTitle(QStringLiteral("Тестирование. Вопрос 1 из %1").arg(kRunLength));
}

void NumberQuestions(data::Table& questions, data::Connection& connection) {
    questions.first();
    const int32_t n = questions.recordCount();
    // A server that numbers the questions itself does it in one call, in the order the rows are
    // held here, and the rows take its numbers: a pupil's role writes no row of the bank.
    if (connection.engine().numbersQuestions()) {
        std::vector<qint64> ids;
        {
            data::Table::ControlsDisabled quiet(questions);
            for (int32_t i = 0; i < n; ++i, questions.next())
                ids.push_back(questions.fieldValue(data::kIdColumn).toLongLong());
            questions.first();
        }
        std::vector<std::pair<qint64, QVariant>> values;
        for (const auto& [id, number] : connection.engine().numberQuestions(ids))
            values.emplace_back(id, number);
        questions.takeStoredValues(data::kNumberColumn, values);
        return;
    }
    // Posting a row whose number is already right writes nothing, so a bank numbered by the
    // previous draw is not written again. All the numbers go into the file in one transaction;
    // when a post fails, the rows numbered before it keep their numbers.
    const auto number = [&questions](int32_t i) {
        questions.edit();
        questions.setFieldValue(data::kNumberColumn, i);
        questions.post();
    };
    {
        // The controls show the outcome once, not every row on the way.
        data::CommitOnUnwindScope scope(connection);
        data::Table::ControlsDisabled quiet(questions);
        // On a server each post waits for its answer; gathered, the numbers go in about one
        // round trip. The batch is written whole or not at all: when a question was changed
        // by another program meanwhile (the first draw of a classroom changes them all), or
        // anything else refused a post, none of it stays, and the numbering is done again row
        // by row below, which meets the refusal where it happens, as on a file. A file answers
        // each post at once, so there the rows are numbered one by one from the start: a lock
        // is then waited for once per try, not once more for the batch.
        bool numbered = false;
        if (connection.engine().gathersPosts())
            try {
                data::Table::PostBatch batch(questions);
                for (int32_t i = 1; i <= n; ++i) {
                    number(i);
                    questions.next();
                }
                numbered = batch.commit();
            } catch (const Exception&) {
                questions.cancel();
                if (scope.rolledBack())
                    throw;
            }
        if (!numbered)
            questions.first();
        for (int32_t i = 1; i <= n && !numbered; ++i) {
            try {
                number(i);
            } catch (const Exception&) {
                questions.cancel();
                // The engine gave up the whole transaction (a full disk): none of the numbers
                // is in the file, and the tables have read those rows again. Going on would
                // number the rest one by one outside the transaction.
                if (scope.rolledBack())
                    throw;
                // Another program changed or locked the question. The draw gives up its own
                // edit and takes the row as the file has it now. In a classroom that is the
                // rule, not the exception: every pupil's program read the rows at start, and
                // the first draw (or the teacher's edit of a text) changed them since. So the
                // row, as read again, is numbered once more; only a second refusal (the row is
                // gone, the file stays locked) is what the pupil's teacher must see.
                const int32_t rowsBefore = questions.recordCount();
                // Still locked: the row stays as it was read and the lock is reported; a later
                // draw tries again.
                questions.refreshRow();
                if (questions.recordCount() != rowsBefore)
                    throw; // deleted: the numbers that follow would be wrong
                try {
                    number(i);
                } catch (const Exception&) {
                    questions.cancel();
                    throw;
                }
            }
            questions.next();
        }
        scope.commit();
    }
}

std::vector<bool> Ttesti::showableQuestions() {
    // ShowQuestion reads the first four rows of each detail table (the last one again when
    // there are fewer) and cannot show a text without value, nor a question without rows.
    const auto readable = [](data::Table& table, const QString& textField) {
        if (table.isEmpty())
            return false;
        table.first();
        for (int row = 0; row < data::kChoicesPerQuestion && !table.eof(); ++row, table.next())
            if (table.fieldValue(textField).isNull())
                return false;
        return true;
    };
    data::Table& questions = DataModule2->Vopros;
    data::Table& options = DataModule2->Variant;
    data::Table& explanations = DataModule2->Obyasnenie;
    // Walking the questions moves the rows the other windows show; they are put back after.
    const int questionAt = questions.currentPosition();
    const int optionAt = options.currentPosition();
    const int explanationAt = explanations.currentPosition();

    std::vector<bool> showable;
    for (questions.first(); !questions.eof(); questions.next())
        showable.push_back(readable(options, data::kOptionColumn) &&
                           readable(explanations, data::kExplanationColumn));

    questions.moveTo(questionAt);
    options.moveTo(optionAt);
    explanations.moveTo(explanationAt);
    return showable;
}

std::vector<data::journal::DrawnQuestion> Ttesti::drawnQuestions() {
    // The rows as ShowQuestion takes them: the first four, the last again when there are fewer.
    const auto rows = [](data::Table& table, std::array<qint64, data::kChoicesPerQuestion>& ids) {
        table.first();
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i > 0)
                table.next();
            ids[i] = table.fieldValue(data::kIdColumn).toLongLong();
        }
    };
    data::Table& questions = DataModule2->Vopros;
    std::vector<data::journal::DrawnQuestion> drawn;
    for (int32_t k = 1; k <= kRunLength; ++k) {
        questions.locate(data::kNumberColumn, orderEntry(k));
        data::journal::DrawnQuestion question;
        question.questionId = questions.fieldValue(data::kIdColumn).toLongLong();
        rows(DataModule2->Variant, question.options);
        rows(DataModule2->Obyasnenie, question.explanations);
        drawn.push_back(question);
    }
    return drawn;
}

void Ttesti::ShowQuestion(int32_t k) {
    data::Table& questions = DataModule2->Vopros;
    questions.locate(data::kNumberColumn, orderEntry(k));

    // Exactly four rows of each detail table: moving past the last row stays on it, so a
    // question with fewer rows repeats its last one. A null text fails here and leaves the
    // remaining buttons as the previous question had them.
    const auto fill = [](data::Table& table, const QString& textField,
                         std::initializer_list<toolkit::WrapRadioButton*> buttons,
                         data::journal::ShownRows& shown) {
        table.first();
        auto row = shown.begin();
        for (toolkit::WrapRadioButton* button : buttons) {
            if (row != shown.begin())
                table.next();
            // A pupil's role on a server reads no mark: the server scores the run.
            const QVariant mark = table.fieldValue(data::kCorrectColumn);
            const bool correct = table.fieldByName(data::kCorrectColumn)->asBoolean();
            *row = {table.fieldValue(data::kIdColumn).toLongLong(),
                    data::variantToString(table.fieldValue(textField)),
                    mark.isNull() ? std::nullopt : std::optional<bool>(correct)};
            button->setText(row->text);
            button->Tag = correct ? 1 : 0;
            ++row;
        }
    };
    data::journal::ShownQuestion shown;
    shown.questionId = questions.fieldValue(data::kIdColumn).toLongLong();
    shown.question = questions.fieldValue(data::kQuestionColumn).toString();
    fill(DataModule2->Variant, data::kOptionColumn,
         {RadioButton1, RadioButton2, RadioButton3, RadioButton4}, shown.options);
    fill(DataModule2->Obyasnenie, data::kExplanationColumn,
         {RadioButton5, RadioButton6, RadioButton7, RadioButton8}, shown.explanations);
    Recorder.shown(k, std::move(shown));

    setLabelValue(Label2, labelValue(Label2) + 1);
}

void Ttesti::Button1Click(QObject*) {
    const bool answered = RadioButton1->isChecked() || RadioButton2->isChecked() ||
                          RadioButton3->isChecked() || RadioButton4->isChecked();
    const bool explained = RadioButton5->isChecked() || RadioButton6->isChecked() ||
                           RadioButton7->isChecked() || RadioButton8->isChecked();
    if (!answered || !explained) {
        toolkit::ShowMessage(QStringLiteral("Вы не выбрали вариант ответа!"));
        return;
    }

    const QString scoreBefore = Label1->text();
    for (toolkit::WrapRadioButton* button :
         {RadioButton1, RadioButton2, RadioButton3, RadioButton4, RadioButton5, RadioButton6,
          RadioButton7, RadioButton8})
        if (button->isChecked())
            setLabelValue(Label1, labelValue(Label1) + button->Tag);

    // While question k is on screen the counter reads k + 1.
    const RunRecorder::Outcome recorded =
        Recorder.scored(labelValue(Label2) - 1,
                        checkedPosition({RadioButton1, RadioButton2, RadioButton3, RadioButton4}),
                        checkedPosition({RadioButton5, RadioButton6, RadioButton7, RadioButton8}),
                        labelValue(Label1));

    if (labelValue(Label2) < kRunLength + 1) {
        // When the next question cannot be loaded the counter stays where it is and the pupil
        // stays on this question; the points of this press must not count, or every retry
        // would add them again.
        try {
            ShowQuestion(labelValue(Label2));
        } catch (...) {
            Label1->setText(scoreBefore);
            throw;
        }
        uncheckAll();
        setWindowTitle(QStringLiteral("Тестирование. Вопрос %1 из %2")
                           .arg(labelValue(Label2) - 1)
                           .arg(kRunLength));
        return;
    }

    // A run the server scores shows the server's points: the buttons carry no marks there.
    QString points = Label1->text();
    QString grade = QString::number(data::journal::gradeFor(labelValue(Label1)));
    if (recorded.server) {
        points = QString::number(recorded.server->points.value_or(0));
        grade = QString::number(recorded.server->grade.value_or(0));
    }
    const QString message =
        !recorded.refusal.isEmpty()
            ? QStringLiteral("Сервер банка вопросов не принял ответы: %1\rСообщите учителю.")
                  .arg(recorded.refusal)
        : recorded.byServer && !recorded.server
            ? QStringLiteral("Ответы сохранены, но сервер банка вопросов сейчас не отвечает. "
                             "Результат будет подсчитан, когда связь с сервером восстановится.")
            : QStringLiteral("Набрано баллов ") + points + QStringLiteral(".") + QChar(13) +
                  QStringLiteral("Ваша оценка: ") + grade + QStringLiteral("!");
    if (toolkit::MessageDlg(message, toolkit::mbYes) == toolkit::ModalResult::Yes)
        Form1->setVisible(true);
    close();
    Label2->setText(QStringLiteral("1"));
    Label1->setText(QStringLiteral("0"));
    uncheckAll();
}

void Ttesti::FormClose(QObject*) {
    Recorder.abandoned();
    showMainMenu();
}
