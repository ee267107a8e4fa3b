// The testing window as a pupil meets it: the draw, ten questions, the grade, and the ways a
// run goes wrong.
#include "app/Unit1.h"
#include "data/DM.h"
#include "data/Errors.h"
#include "testing/testirovanie.h"
#include "tests/support/BankFixture.h"
#include "tests/support/GridInput.h"
#include "tests/support/HostileBanks.h"
#include "tests/support/ProgramFixture.h"
#include "toolkit/DBText.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"
#include "toolkit/WrapRadioButton.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <optional>

using testsupport::BankFixture;
using testsupport::PaintCounter;
using testsupport::ProgramFixture;
using testsupport::QuestionRows;
using toolkit::ModalResult;
using toolkit::ShownBox;
using toolkit::WrapRadioButton;

namespace {

const QString kNoChoice = QStringLiteral("Вы не выбрали вариант ответа!");
const QString kNullText =
    QStringLiteral("Could not convert variant of type (Null) into type (String)");

// The user chooses "Начать тест" in the main menu. An error stops the handler where it happens
// and shows the error box.
void startRun() {
    Form1->show();
    toolkit::runHandler([] { Form1->RadioButton1Click(Form1->RadioButton1); });
}

std::vector<WrapRadioButton*> answers() {
    return {testi->RadioButton1, testi->RadioButton2, testi->RadioButton3, testi->RadioButton4};
}
std::vector<WrapRadioButton*> explanations() {
    return {testi->RadioButton5, testi->RadioButton6, testi->RadioButton7, testi->RadioButton8};
}
std::vector<WrapRadioButton*> allButtons() {
    std::vector<WrapRadioButton*> all = answers();
    for (WrapRadioButton* b : explanations())
        all.push_back(b);
    return all;
}

int checkedCount() {
    int n = 0;
    for (WrapRadioButton* b : allButtons())
        n += b->isChecked() ? 1 : 0;
    return n;
}

// Clicks the first button of the group whose mark is the one asked for.
void pick(const std::vector<WrapRadioButton*>& group, bool correct) {
    for (WrapRadioButton* b : group)
        if ((b->Tag == 1) == correct) {
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() / 2, b->height() / 2));
            QVERIFY(b->isChecked());
            return;
        }
    QFAIL("no button with that mark");
}

void pressNext() {
    QTest::mouseClick(testi->Button1, Qt::LeftButton);
}

void answerAndNext(bool correctAnswer, bool correctExplanation) {
    pick(answers(), correctAnswer);
    pick(explanations(), correctExplanation);
    pressNext();
}

QString counter() {
    return testi->Label2->text();
}
QString score() {
    return testi->Label1->text();
}

QStringList texts(const std::vector<WrapRadioButton*>& group) {
    QStringList list;
    for (WrapRadioButton* b : group)
        list << b->text();
    return list;
}
QList<int> tags(const std::vector<WrapRadioButton*>& group) {
    QList<int> list;
    for (WrapRadioButton* b : group)
        list << b->Tag;
    return list;
}

// The text of the question whose number is entry k of the drawn order, read from the file.
QString drawnQuestion(BankFixture& bank, int k) {
    return bank
        .scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" WHERE \"Номер\" = ?"),
                {QuestionOrder[size_t(k)]})
        .toString();
}

QString gradeMessage(int points, const char* grade) {
    return QStringLiteral("Набрано баллов %1.\rВаша оценка: %2!")
        .arg(points)
        .arg(QLatin1String(grade));
}

// A question that ShowQuestion cannot show, spoilt one of four ways by kind.
QuestionRows unshowableQuestion(int kind) {
    QuestionRows question = BankFixture::standardQuestion(100 + kind);
    switch (kind % 4) {
    case 0:
        question.options[1].first = QString(); // an option never typed
        break;
    case 1:
        question.explanations.resize(3);
        question.explanations[2].first = QString(); // the last one, shown twice
        break;
    case 2:
        question.explanations.clear();
        break;
    default:
        question.options.clear();
        break;
    }
    return question;
}

} // namespace

class TestTestirovanie : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layout();
    void drawShowsFirstQuestion();
    void drawRenumbersFromAnyCurrentRow();
    void drawOnNumberedBankWritesNothing();
    void twoDrawsDiffer();
    void fullRunAllCorrect();
    void gradeBorders_data();
    void gradeBorders();
    void missingChoice_data();
    void missingChoice();
    void abandonedRunRestarts();
    void drawWhileRunOnScreenRestarts();
    void fewerRowsRepeatTheLast();
    void moreThanOneCorrect();
    void gradeBoxClosedByCloseBox();
    void tooFewQuestions_data();
    void tooFewQuestions();
    void unshowableQuestionsNotDrawn();
    void failedLoad_data();
    void failedLoad();
    void questionTextFollowsCurrentRow();
    void refusedRenumberingDoesNotStick_data();
    void refusedRenumberingDoesNotStick();
    void hostileBankRunsNothing_data();
    void hostileBankRunsNothing();

private:
    // Each case's fresh bank, the working directory while the case runs.
    std::optional<BankFixture> bank;
};

void TestTestirovanie::init() {
    bank.emplace();
    toolkit::seam::arm();
}

void TestTestirovanie::cleanup() {
    bank.reset();
    testsupport::verifyAllBoxesAnswered();
}

void TestTestirovanie::layout() {
    ProgramFixture program;
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование"));
    QCOMPARE(testi->size(), toolkit::clientSizeForOuter(QSize(655, 467)));
    QCOMPARE(testi->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(testi->font().pixelSize(), 11);

    struct Expected {
        QWidget* widget;
        QWidget* parent;
        QRect geometry;
        QString text;
        bool shown;
    };
    const std::vector<Expected> table = {
        {testi->DBText1, testi, {8, 9, 585, 17}, {}, true},
        {testi->GroupBox1, testi, {8, 32, 614, 161}, QStringLiteral("Выберите ответ:"), true},
        {testi->RadioButton1, testi->GroupBox1, {15, 24, 570, 17}, {}, true},
        {testi->RadioButton2, testi->GroupBox1, {15, 55, 570, 17}, {}, true},
        {testi->RadioButton3, testi->GroupBox1, {15, 86, 570, 17}, {}, true},
        {testi->RadioButton4, testi->GroupBox1, {15, 117, 570, 17}, {}, true},
        {testi->Button2, testi, {491, 48, 62, 25}, QStringLiteral("Массив"), false},
        {testi->Button1, testi, {8, 402, 75, 25}, QStringLiteral("Далее -->>"), true},
        {testi->GroupBox2,
         testi,
         {8, 199, 614, 194},
         QStringLiteral("Выберите пояснение к ответу:"),
         true},
        {testi->RadioButton5, testi->GroupBox2, {15, 24, 570, 40}, {}, true},
        {testi->RadioButton6, testi->GroupBox2, {15, 63, 570, 40}, {}, true},
        {testi->RadioButton7, testi->GroupBox2, {15, 102, 570, 40}, {}, true},
        {testi->RadioButton8, testi->GroupBox2, {15, 141, 570, 40}, {}, true},
        {testi->Label2, testi, {103, 407, 6, 13}, QStringLiteral("1"), false},
        {testi->Label1, testi, {127, 407, 6, 13}, QStringLiteral("0"), false},
    };
    testi->show();
    QVERIFY(QTest::qWaitForWindowExposed(testi));
    for (const Expected& e : table) {
        const QString name = e.widget->objectName();
        QVERIFY2(e.widget->parentWidget() == e.parent, qPrintable(name));
        QCOMPARE(e.widget->geometry(), e.geometry);
        QCOMPARE(e.widget->isVisible(), e.shown);
        if (auto* box = qobject_cast<QGroupBox*>(e.widget))
            QCOMPARE(box->title(), e.text);
        else if (auto* button = qobject_cast<QPushButton*>(e.widget))
            QCOMPARE(button->text(), e.text);
        else if (auto* label = qobject_cast<QLabel*>(e.widget))
            QCOMPARE(label->text(), e.text);
    }
    // Tab order: the answers, then "Далее -->>", then the explanations.
    testi->RadioButton1->setFocus();
    QCOMPARE(testi->RadioButton1->nextInFocusChain(), testi->RadioButton2);
    QWidget* w = testi->RadioButton4->nextInFocusChain();
    while (w && !w->isVisible())
        w = w->nextInFocusChain();
    QCOMPARE(w, testi->Button1);
    // Each group excludes only within itself.
    testi->RadioButton2->click();
    testi->RadioButton7->click();
    testi->RadioButton3->click();
    QVERIFY(!testi->RadioButton2->isChecked());
    QVERIFY(testi->RadioButton3->isChecked());
    QVERIFY(testi->RadioButton7->isChecked());
}

void TestTestirovanie::drawShowsFirstQuestion() {
    bank->addStandardQuestions(12);
    ProgramFixture program;
    startRun();
    QVERIFY(testi->isVisible());
    QVERIFY(!Form1->isVisible());
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    QCOMPARE(counter(), QStringLiteral("2"));
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(checkedCount(), 0);
    const QString question = drawnQuestion(*bank, 1);
    QCOMPARE(testi->DBText1->text(), question);
    const QString k = question.mid(question.indexOf(QLatin1Char(' ')) + 1);
    QCOMPARE(
        texts(answers()),
        (QStringList{QStringLiteral("Ответ %1.1").arg(k), QStringLiteral("Ответ %1.2").arg(k),
                     QStringLiteral("Ответ %1.3").arg(k), QStringLiteral("Ответ %1.4").arg(k)}));
    QCOMPARE(texts(explanations()).at(3), QStringLiteral("Пояснение %1.4").arg(k));
    QCOMPARE(tags(answers()), (QList<int>{1, 0, 0, 0}));
    QCOMPARE(tags(explanations()), (QList<int>{1, 0, 0, 0}));
    QVERIFY(toolkit::seam::shown().empty());
}

void TestTestirovanie::drawRenumbersFromAnyCurrentRow() {
    bank->addStandardQuestions(11);
    // Numbers an earlier bank left behind: duplicates, gaps and none at all.
    bank->exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Номер\" = 5 WHERE id <= 4"));
    bank->exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Номер\" = 99 WHERE id = 7"));
    ProgramFixture program;
    // As after an earlier run or the editor: the current question is in the middle.
    DataModule2->Vopros.moveTo(6);
    startRun();
    for (int id = 1; id <= 11; ++id)
        QCOMPARE(
            bank->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE id = ?"), {id})
                .toInt(),
            id);
    QCOMPARE(testi->DBText1->text(), drawnQuestion(*bank, 1));
}

void TestTestirovanie::drawOnNumberedBankWritesNothing() {
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    const auto version = [&] {
        return bank->scalar(QStringLiteral("PRAGMA data_version")).toLongLong();
    };
    const qint64 before = version();
    startRun();
    QCOMPARE(version(), before);
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
}

void TestTestirovanie::twoDrawsDiffer() {
    bank->addStandardQuestions(30);
    ProgramFixture program;
    startRun();
    const std::vector<int32_t> first = QuestionOrder;
    startRun();
    // The generator is reseeded from the clock: the same order twice is a 1 in 30! chance.
    QVERIFY(QuestionOrder != first);
}

void TestTestirovanie::fullRunAllCorrect() {
    bank->addStandardQuestions(15);
    ProgramFixture program;
    startRun();
    QStringList asked{testi->DBText1->text()};
    for (int press = 1; press <= 9; ++press) {
        answerAndNext(true, true);
        QCOMPARE(testi->windowTitle(),
                 QStringLiteral("Тестирование. Вопрос %1 из 10").arg(press + 1));
        QCOMPARE(checkedCount(), 0);
        QCOMPARE(counter(), QString::number(press + 2));
        QCOMPARE(score(), QString::number(2 * press));
        QCOMPARE(testi->DBText1->text(), drawnQuestion(*bank, press + 1));
        asked << testi->DBText1->text();
    }
    asked.removeDuplicates();
    QCOMPARE(asked.size(), 10);
    QVERIFY(toolkit::seam::shown().empty());

    toolkit::seam::pushAnswer(ModalResult::Yes);
    answerAndNext(true, true);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const ShownBox& box = toolkit::seam::shown().front();
    QCOMPARE(box.kind, ShownBox::Kind::Confirmation);
    QCOMPARE(box.title, QStringLiteral("Confirm"));
    QCOMPARE(box.text, gradeMessage(20, "5"));
    QCOMPARE(box.buttons, (std::vector<QString>{QStringLiteral("&Yes")}));
    // The run is over: the window closed, the main menu back, the counters reset.
    QVERIFY(!testi->isVisible());
    QVERIFY(Form1->isVisible());
    QCOMPARE(counter(), QStringLiteral("1"));
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(checkedCount(), 0);
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 10 из 10"));
}

void TestTestirovanie::gradeBorders_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("message");
    for (auto [points, grade] : std::vector<std::pair<int, const char*>>{{20, "5"},
                                                                         {17, "5"},
                                                                         {16, "4"},
                                                                         {15, "4"},
                                                                         {14, "4"},
                                                                         {13, "3"},
                                                                         {10, "3"},
                                                                         {9, "2"},
                                                                         {1, "2"},
                                                                         {0, "2"}})
        QTest::addRow("%d points", points) << points << gradeMessage(points, grade);
}

void TestTestirovanie::gradeBorders() {
    QFETCH(int, points);
    QFETCH(QString, message);
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    toolkit::seam::pushAnswer(ModalResult::Yes);
    for (int q = 1; q <= 10; ++q)
        answerAndNext(2 * q - 1 <= points, 2 * q <= points);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(toolkit::seam::shown().front().text, message);
}

void TestTestirovanie::missingChoice_data() {
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("explanation");
    QTest::addColumn<int>("key"); // how "Далее -->>" is pressed: 0 the mouse, else a key
    QTest::newRow("neither") << false << false << 0;
    QTest::newRow("answer only") << true << false << 0;
    QTest::newRow("explanation only") << false << true << 0;
    QTest::newRow("neither, Enter on the button") << false << false << int(Qt::Key_Return);
    QTest::newRow("answer only, Space on the button") << true << false << int(Qt::Key_Space);
}

void TestTestirovanie::missingChoice() {
    QFETCH(bool, answer);
    QFETCH(bool, explanation);
    QFETCH(int, key);
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    answerAndNext(true, true); // question 2 on screen, 2 points
    const QString shown = testi->DBText1->text();
    if (answer)
        pick(answers(), true);
    if (explanation)
        pick(explanations(), true);
    toolkit::seam::pushAnswer(ModalResult::OK);
    if (key) {
        testi->Button1->setFocus();
        QTest::keyClick(testi->Button1, Qt::Key(key));
    } else {
        pressNext();
    }
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const ShownBox& box = toolkit::seam::shown().front();
    QCOMPARE(box.kind, ShownBox::Kind::Message);
    QCOMPARE(box.title, toolkit::applicationTitle());
    QCOMPARE(box.text, kNoChoice);
    QCOMPARE(box.buttons, (std::vector<QString>{QStringLiteral("OK")}));
    QCOMPARE(score(), QStringLiteral("2"));
    QCOMPARE(counter(), QStringLiteral("3"));
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 2 из 10"));
    QCOMPARE(testi->DBText1->text(), shown);
    QCOMPARE(checkedCount(), int(answer) + int(explanation));
}

void TestTestirovanie::abandonedRunRestarts() {
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    for (int q = 1; q <= 4; ++q)
        answerAndNext(true, true);
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 5 из 10"));
    pick(answers(), false);
    pick(explanations(), true);
    testi->close();
    QVERIFY(!testi->isVisible());
    QVERIFY(Form1->isVisible());

    startRun();
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    QCOMPARE(counter(), QStringLiteral("2"));
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(checkedCount(), 0);
    QCOMPARE(testi->DBText1->text(), drawnQuestion(*bank, 1));
    // And the new run goes the whole way: nothing of the old one is counted.
    toolkit::seam::pushAnswer(ModalResult::Yes);
    for (int q = 1; q <= 10; ++q)
        answerAndNext(q <= 3, false);
    QCOMPARE(toolkit::seam::shown().front().text, gradeMessage(3, "2"));
}

void TestTestirovanie::drawWhileRunOnScreenRestarts() {
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    for (int q = 1; q <= 6; ++q)
        answerAndNext(true, false);
    pick(answers(), true);
    // The main menu brought back through the help window starts another draw.
    Form1->show();
    startRun();
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    QCOMPARE(counter(), QStringLiteral("2"));
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(checkedCount(), 0);
}

void TestTestirovanie::fewerRowsRepeatTheLast() {
    bank->addStandardQuestions(9);
    QuestionRows odd;
    odd.text = QStringLiteral("Короткий вопрос");
    odd.options = {{QStringLiteral("Да"), false}, {QStringLiteral("Нет"), true}};
    for (int i = 1; i <= 6; ++i)
        odd.explanations.push_back({QStringLiteral("Пояснение %1").arg(i), i == 5});
    bank->addQuestion(odd);
    ProgramFixture program;
    startRun();
    toolkit::seam::pushAnswer(ModalResult::Yes);
    bool met = false;
    for (int q = 1; q <= 10; ++q) {
        if (testi->DBText1->text() != odd.text) {
            answerAndNext(true, true);
            continue;
        }
        met = true;
        QCOMPARE(texts(answers()), (QStringList{QStringLiteral("Да"), QStringLiteral("Нет"),
                                                QStringLiteral("Нет"), QStringLiteral("Нет")}));
        QCOMPARE(tags(answers()), (QList<int>{0, 1, 1, 1}));
        // Rows after the fourth are never shown, the correct fifth one included.
        QCOMPARE(texts(explanations()),
                 (QStringList{QStringLiteral("Пояснение 1"), QStringLiteral("Пояснение 2"),
                              QStringLiteral("Пояснение 3"), QStringLiteral("Пояснение 4")}));
        QCOMPARE(tags(explanations()), (QList<int>{0, 0, 0, 0}));
        // A button that repeats the correct row earns the point as well.
        QTest::mouseClick(testi->RadioButton4, Qt::LeftButton);
        QTest::mouseClick(testi->RadioButton5, Qt::LeftButton);
        pressNext();
    }
    QVERIFY(met);
    QCOMPARE(toolkit::seam::shown().front().text, gradeMessage(19, "5"));
}

void TestTestirovanie::moreThanOneCorrect() {
    for (int q = 1; q <= 10; ++q) {
        QuestionRows question = BankFixture::standardQuestion(q);
        for (auto& option : question.options)
            option.second = true;
        bank->addQuestion(question);
    }
    ProgramFixture program;
    startRun();
    toolkit::seam::pushAnswer(ModalResult::Yes);
    const std::vector<int> choice = {1, 2, 3, 4, 4, 3, 2, 1, 2, 3};
    for (int q = 0; q < 10; ++q) {
        QTest::mouseClick(answers()[size_t(choice[size_t(q)] - 1)], Qt::LeftButton);
        pick(explanations(), false);
        pressNext();
    }
    QCOMPARE(toolkit::seam::shown().front().text, gradeMessage(10, "3"));
}

void TestTestirovanie::gradeBoxClosedByCloseBox() {
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    toolkit::seam::pushAnswer(ModalResult::Cancel);
    for (int q = 1; q <= 10; ++q)
        answerAndNext(true, q % 2 == 0);
    QCOMPARE(toolkit::seam::shown().front().text, gradeMessage(15, "4"));
    QVERIFY(!testi->isVisible());
    QVERIFY(Form1->isVisible());
    QCOMPARE(counter(), QStringLiteral("1"));
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(checkedCount(), 0);
}

void TestTestirovanie::tooFewQuestions_data() {
    QTest::addColumn<int>("good");
    QTest::addColumn<int>("spoilt");
    QTest::addColumn<QString>("message");
    const QString few = QStringLiteral("Для теста нужно 10 вопросов, в базе: %1.");
    const QString fewShowable = QStringLiteral(
        "Для теста нужно 10 вопросов с ответами и пояснениями, в базе таких: %1 из %2.");
    QTest::newRow("9") << 9 << 0 << few.arg(9);
    QTest::newRow("none") << 0 << 0 << few.arg(0);
    QTest::newRow("12, 3 cannot be shown") << 9 << 3 << fewShowable.arg(9).arg(12);
    QTest::newRow("4, none can be shown") << 0 << 4 << fewShowable.arg(0).arg(4);
}

// Too few questions that can be shown: the draw is refused in the plain message box, before
// anything changes.
void TestTestirovanie::tooFewQuestions() {
    QFETCH(int, good);
    QFETCH(int, spoilt);
    QFETCH(QString, message);
    bank->addStandardQuestions(good);
    for (int i = 0; i < spoilt; ++i)
        bank->addQuestion(unshowableQuestion(i));
    bank->exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Номер\" = 40 + id"));
    ProgramFixture program;
    data::Table& vopros = DataModule2->Vopros;
    vopros.moveTo(qMin(2, vopros.recordCount() - 1));
    const int at = vopros.currentPosition();
    const std::vector<int32_t> order = {0, 3, 1, 4};
    QuestionOrder = order;
    toolkit::seam::pushAnswer(ModalResult::OK);
    startRun();
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const ShownBox& box = toolkit::seam::shown().front();
    QCOMPARE(box.kind, ShownBox::Kind::Message);
    QCOMPARE(box.title, toolkit::applicationTitle());
    QCOMPARE(box.text, message);
    // No run: the testing window hidden, the main menu still there, nothing renumbered.
    QVERIFY(!testi->isVisible());
    QVERIFY(Form1->isVisible());
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование"));
    QCOMPARE(counter(), QStringLiteral("1"));
    QCOMPARE(QuestionOrder, order);
    QCOMPARE(vopros.currentPosition(), at);
    QCOMPARE(
        bank->scalar(QStringLiteral("SELECT count(*) FROM \"Т_Вопросы\" WHERE \"Номер\" = 40 + id"))
            .toInt(),
        good + spoilt);
}

// Questions that cannot be shown are left out of the draw; a text without value after the
// fourth row is never read and does not count.
void TestTestirovanie::unshowableQuestionsNotDrawn() {
    bank->addStandardQuestions(6);
    for (int i = 0; i < 4; ++i)
        bank->addQuestion(unshowableQuestion(i));
    QuestionRows fifthWithoutText = BankFixture::standardQuestion(7);
    fifthWithoutText.options.push_back({QString(), true});
    bank->addQuestion(fifthWithoutText);
    bank->addStandardQuestions(4);
    ProgramFixture program;
    startRun();
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    std::vector<int32_t> drawn(QuestionOrder.begin() + 1, QuestionOrder.end());
    std::sort(drawn.begin(), drawn.end());
    QCOMPARE(drawn, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15}));
    toolkit::seam::pushAnswer(ModalResult::Yes);
    for (int q = 1; q <= 10; ++q)
        answerAndNext(true, true);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(toolkit::seam::shown().front().text, gradeMessage(20, "5"));
}

void TestTestirovanie::failedLoad_data() {
    QTest::addColumn<bool>("nullOption");
    QTest::newRow("option 3 without text") << true;
    QTest::newRow("no explanations") << false;
}

// The next question cannot be shown: the error box, the buttons filled before the failure
// changed, the others as they were, the counter and the points where they were; once the
// bank is mended the same press goes on, scoring the question once.
void TestTestirovanie::failedLoad() {
    QFETCH(bool, nullOption);
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    const QStringList oldAnswers = texts(answers());
    const QStringList oldExplanations = texts(explanations());

    // The editor spoils the second drawn question meanwhile.
    data::Table& vopros = DataModule2->Vopros;
    vopros.locate(QStringLiteral("Номер"), QuestionOrder[2]);
    const QString second = vopros.fieldValue(QStringLiteral("Вопрос")).toString();
    const QString k = second.mid(second.indexOf(QLatin1Char(' ')) + 1);
    if (nullOption) {
        DataModule2->Variant.moveTo(2);
        DataModule2->Variant.edit();
        DataModule2->Variant.setFieldValue(QStringLiteral("Ответ"), QVariant());
        DataModule2->Variant.post();
    } else {
        while (!DataModule2->Obyasnenie.isEmpty())
            DataModule2->Obyasnenie.remove();
    }
    vopros.locate(QStringLiteral("Номер"), QuestionOrder[1]);

    pick(answers(), true);
    pick(explanations(), true);
    toolkit::seam::pushAnswer(ModalResult::OK);
    pressNext();
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(toolkit::seam::shown().front().kind, ShownBox::Kind::Error);
    QCOMPARE(toolkit::seam::shown().front().text, kNullText);
    QCOMPARE(testi->DBText1->text(), second);
    if (nullOption) {
        QCOMPARE(texts(answers()),
                 (QStringList{QStringLiteral("Ответ %1.1").arg(k),
                              QStringLiteral("Ответ %1.2").arg(k), oldAnswers[2], oldAnswers[3]}));
    } else {
        QCOMPARE(texts(answers()).at(3), QStringLiteral("Ответ %1.4").arg(k));
    }
    QCOMPARE(texts(explanations()), oldExplanations);
    QCOMPARE(counter(), QStringLiteral("2"));
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    QCOMPARE(checkedCount(), 2);

    // Pressing again while the question is still broken adds nothing either.
    toolkit::seam::pushAnswer(ModalResult::OK);
    pressNext();
    QCOMPARE(score(), QStringLiteral("0"));
    QCOMPARE(counter(), QStringLiteral("2"));

    // Mended in the editor, the same press goes on.
    vopros.locate(QStringLiteral("Номер"), QuestionOrder[2]);
    if (nullOption) {
        DataModule2->Variant.moveTo(2);
        DataModule2->Variant.edit();
        DataModule2->Variant.setFieldValue(QStringLiteral("Ответ"), QStringLiteral("Исправлено"));
        DataModule2->Variant.post();
    } else {
        for (int i = 1; i <= 4; ++i) {
            DataModule2->Obyasnenie.append();
            DataModule2->Obyasnenie.setFieldValue(QStringLiteral("Объяснение"),
                                                  QStringLiteral("Новое %1").arg(i));
            DataModule2->Obyasnenie.setFieldValue(QStringLiteral("Правильный"), i == 2);
            DataModule2->Obyasnenie.post();
        }
    }
    pressNext();
    QCOMPARE(toolkit::seam::shown().size(), size_t(2));
    QCOMPARE(counter(), QStringLiteral("3"));
    QCOMPARE(score(), QStringLiteral("2")); // question 1's choices, once, marked by what is shown
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 2 из 10"));
    QCOMPARE(checkedCount(), 0);
    if (!nullOption)
        QCOMPARE(tags(explanations()), (QList<int>{0, 1, 0, 0}));
}

void TestTestirovanie::questionTextFollowsCurrentRow() {
    bank->addStandardQuestions(10);
    ProgramFixture program;
    startRun();
    QVERIFY(QTest::qWaitForWindowExposed(testi));
    PaintCounter counterFilter;
    testi->DBText1->installEventFilter(&counterFilter);
    const QStringList loaded = texts(answers());

    // The editor's grid moves the question table elsewhere during the run.
    data::Table& vopros = DataModule2->Vopros;
    const int elsewhere = vopros.currentPosition() == 0 ? 5 : 0;
    vopros.moveTo(elsewhere);
    const QString now = vopros.fieldValue(QStringLiteral("Вопрос")).toString();
    QCOMPARE(testi->DBText1->text(), now);
    QTRY_VERIFY(counterFilter.paints > 0);
    QCOMPARE(texts(answers()), loaded);

    // Its text edited in place: shown as typed, once posted or not.
    const int paints = counterFilter.paints;
    vopros.edit();
    vopros.setFieldValue(QStringLiteral("Вопрос"), QStringLiteral("Новый текст вопроса"));
    QCOMPARE(testi->DBText1->text(), QStringLiteral("Новый текст вопроса"));
    QTRY_VERIFY(counterFilter.paints > paints);
    vopros.post();
    testi->DBText1->removeEventFilter(&counterFilter);
}

void TestTestirovanie::refusedRenumberingDoesNotStick_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("numberedBefore");
    QTest::addColumn<int>("numberedAfter");
    QTest::newRow("question 5 deleted by another program")
        << "deleted"
        << QStringLiteral("Row cannot be located for updating. Some values may have been "
                          "changed since it was last read.")
        << 4 << 4;
    QTest::newRow("bank locked past the timeout")
        << "locked" << QStringLiteral("database is locked.") << 0 << 12;
    // The engine gives up the whole transaction: the numbers posted before are not in the file.
    QTest::newRow("disk full") << "full" << QStringLiteral("database or disk is full.") << 0
                               << 12 + 400;
}

// The draw's post is refused: the error box, the questions numbered before it keep their
// numbers as far as the file kept them, the cursor believes only what the file holds, the next
// edit is stored and the next draw works.
void TestTestirovanie::refusedRenumberingDoesNotStick() {
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(int, numberedBefore);
    QFETCH(int, numberedAfter);
    bank->addStandardQuestions(12);
    if (fault == QLatin1String("full"))
        // Enough questions for the numbers to need a new page of the file.
        bank->exec(QStringLiteral("WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM "
                                  "k WHERE n < 400) INSERT INTO \"Т_Вопросы\" (\"Вопрос\") "
                                  "SELECT 'Без ответов ' || n FROM k"));
    ProgramFixture program;
    data::sqlite::Database& db = DataModule2->ADOConnection1.database();
    if (fault == QLatin1String("locked")) {
        db.setBusyTimeout(20);
        bank->exec(QStringLiteral("BEGIN EXCLUSIVE"));
    } else if (fault == QLatin1String("full")) {
        const qint64 pages = bank->scalar(QStringLiteral("PRAGMA page_count")).toLongLong();
        db.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages).toUtf8().constData());
    } else {
        // A row changed by another program is read again and numbered; a deleted one stops
        // the draw.
        bank->exec(QStringLiteral("DELETE FROM \"Т_Вопросы\" WHERE id = 5"));
    }
    const auto numbered = [&] {
        return bank
            ->scalar(QStringLiteral("SELECT count(*) FROM \"Т_Вопросы\" WHERE \"Номер\" = id"))
            .toInt();
    };
    toolkit::seam::pushAnswer(ModalResult::OK);
    startRun();
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(toolkit::seam::shown().front().kind, ShownBox::Kind::Error);
    QCOMPARE(toolkit::seam::shown().front().text, message);
    data::Table& questions = DataModule2->Vopros;
    QCOMPARE(questions.state(), data::DataSetState::Browse);
    if (fault == QLatin1String("locked")) {
        bank->exec(QStringLiteral("ROLLBACK"));
        db.setBusyTimeout(5000);
    }
    db.exec("PRAGMA max_page_count = 1073741823");
    QCOMPARE(numbered(), numberedBefore);
    for (int row = 0; row < questions.recordCount(); ++row) {
        const data::Table::ActiveRow shown(questions, row);
        QCOMPARE(DataModule2->VoprosIntegerField->value(),
                 bank->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE id = ?"),
                              {DataModule2->Voprosid->value()}));
    }

    // The next edit is stored, not refused as a row changed by someone else.
    questions.first();
    questions.edit();
    DataModule2->VoprosWideStringField->setValue(QStringLiteral("Исправленный вопрос"));
    questions.post();
    QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" ORDER BY id")),
             QVariant(QStringLiteral("Исправленный вопрос")));

    startRun();
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    QCOMPARE(bank->scalar(QStringLiteral("SELECT count(DISTINCT \"Номер\") FROM \"Т_Вопросы\" "
                                         "WHERE \"Номер\" BETWEEN 1 AND ?"),
                          {bank->count(QStringLiteral("Т_Вопросы"))}),
             QVariant(bank->count(QStringLiteral("Т_Вопросы"))));
    QCOMPARE(numbered(), numberedAfter);
}

void TestTestirovanie::hostileBankRunsNothing_data() {
    testsupport::addHostileBankRows();
}

// What a bank carries never runs: a draw and an edit change in the file exactly what their own
// statements write; a bank the program cannot read safely is refused at start-up, clearly.
void TestTestirovanie::hostileBankRunsNothing() {
    QFETCH(QString, sql);
    QFETCH(QString, refusal);
    bank->addStandardQuestions(12);
    bank->exec(sql);
    if (!refusal.isEmpty()) {
        try {
            ProgramFixture program;
            QFAIL("the bank was opened");
        } catch (const Exception& e) {
            QCOMPARE(e.message(), refusal);
        }
        return;
    }
    const QString number = QStringLiteral("Номер");
    testsupport::BankDump expected = testsupport::dumpBank(bank->db(), number);
    ProgramFixture program;
    startRun();
    QCOMPARE(testi->windowTitle(), QStringLiteral("Тестирование. Вопрос 1 из 10"));
    QCOMPARE(testsupport::dumpBank(bank->db(), number), expected);
    QCOMPARE(bank->scalar(QStringLiteral("SELECT count(*) FROM \"Т_Вопросы\" WHERE \"Номер\" = "
                                         "id")),
             QVariant(qint64(12)));

    DataModule2->Vopros.first();
    // The run may have left question 1 current, and its options at the last one shown.
    DataModule2->Variant.first();
    DataModule2->Variant.edit();
    DataModule2->VariantWideStringField->setValue(QStringLiteral("Правка"));
    DataModule2->Variant.post();
    QStringList& options = expected[QStringLiteral("Т_Вариант")];
    options[0].replace(QStringLiteral("Ответ 1.1"), QStringLiteral("Правка"));
    QCOMPARE(testsupport::dumpBank(bank->db(), number), expected);
}

QTEST_MAIN(TestTestirovanie)
#include "tst_testirovanie.moc"
