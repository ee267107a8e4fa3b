#include "cli/BankFile.h"
#include "data/DM.h"
#include "data/Schema.h"
#include "formats/QuestionCsv.h"
#include "tests/support/BankFixture.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QSet>
#include <QTest>

using namespace bank;

namespace {

// The testing window's answer buttons are one line of this width, and its explanation buttons
// wrap to at most three such lines, in the windows' Tahoma 11 px.
constexpr int kButtonTextWidth = 570;
constexpr int kExplanationLines = 3;
// The question label above them is one line of 585 pixels, cut off at its end.
constexpr int kQuestionWidth = 585;

QFont windowFont() {
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    return font;
}

std::vector<Question> sample() {
    QFile file(QStringLiteral(INFOTEST_SAMPLE_CSV));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseQuestions(file.readAll());
}

} // namespace

class TestSample : public QObject {
    Q_OBJECT

private slots:
    void everyQuestionHasFourAndOneCorrect();
    void textsFitTheTestingWindow();
    void importedBankPassesCheckAndOpensInTheProgram();
};

void TestSample::everyQuestionHasFourAndOneCorrect() {
    const std::vector<Question> questions = sample();
    QVERIFY(questions.size() >= 40);
    QSet<QString> texts;
    QList<int> correctOptionAt(4, 0), correctExplanationAt(4, 0);
    for (const Question& q : questions) {
        QVERIFY2(!texts.contains(q.text), qPrintable(q.text));
        texts.insert(q.text);
        for (const auto* choices : {&q.options, &q.explanations}) {
            QCOMPARE(choices->size(), size_t(kChoicesPerQuestion));
            QSet<QString> distinct;
            int correct = 0;
            for (size_t k = 0; k < choices->size(); ++k) {
                const Choice& c = (*choices)[k];
                QVERIFY2(!c.text.trimmed().isEmpty(), qPrintable(q.text));
                distinct.insert(c.text);
                if (c.correct) {
                    ++correct;
                    (choices == &q.options ? correctOptionAt : correctExplanationAt)[int(k)]++;
                }
            }
            QVERIFY2(correct == 1, qPrintable(q.text));
            QVERIFY2(distinct.size() == kChoicesPerQuestion, qPrintable(q.text));
        }
    }
    // The right answer is not always in the same place.
    for (int k = 0; k < kChoicesPerQuestion; ++k) {
        QVERIFY(correctOptionAt[k] >= int(questions.size()) / 8);
        QVERIFY(correctExplanationAt[k] >= int(questions.size()) / 8);
    }
}

void TestSample::textsFitTheTestingWindow() {
    const QFont font = windowFont();
    QVERIFY(QFontInfo(font).family() == QStringLiteral("Tahoma"));
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const Question& q : sample()) {
        QVERIFY(q.text.size() <= kMaxTextLength);
        QVERIFY2(metrics.horizontalAdvance(q.text) <= kQuestionWidth, qPrintable(q.text));
        for (const Choice& option : q.options) {
            const int width = metrics.horizontalAdvance(option.text);
            widest = std::max(widest, width);
            QVERIFY2(width <= kButtonTextWidth, qPrintable(option.text));
        }
        for (const Choice& explanation : q.explanations) {
            const QRect box = metrics.boundingRect(QRect(0, 0, kButtonTextWidth, 1000),
                                                   Qt::TextWordWrap, explanation.text);
            QVERIFY2(box.height() <= kExplanationLines * metrics.lineSpacing(),
                     qPrintable(explanation.text));
        }
    }
    qInfo("widest option: %d px of %d", widest, kButtonTextWidth);
}

void TestSample::importedBankPassesCheckAndOpensInTheProgram() {
    testsupport::BankFixture fixture(false); // the working directory, without a bank
    const std::vector<Question> questions = sample();
    createBank(QString::fromLatin1(data::kBankFileName));
    importQuestions(QString::fromLatin1(data::kBankFileName), questions);
    const QStringList problems = checkBank(readBank(fixture.bankPath()));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));

    // The program's own data module reads the tool's bank.
    TDataModule2 module;
    QCOMPARE(module.Vopros.recordCount(), int(questions.size()));
    QCOMPARE(module.VoprosWideStringField->asString(), questions.front().text);
    QCOMPARE(module.Variant.recordCount(), kChoicesPerQuestion);
    QCOMPARE(module.Obyasnenie.recordCount(), kChoicesPerQuestion);
    for (int k = 0; k < kChoicesPerQuestion; ++k) {
        module.Variant.moveTo(k);
        QCOMPARE(module.VariantWideStringField->asString(), questions.front().options[k].text);
        QCOMPARE(module.VariantBooleanField->asBoolean(), questions.front().options[k].correct);
    }
}

QTEST_MAIN(TestSample)
#include "tst_sample.moc"
