#include "cli/BankFile.h"
#include "cli/Cli.h"
#include "formats/QuestionCsv.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace bank;

Q_DECLARE_METATYPE(bank::Question)

namespace {

// One multiple-choice item as it reads back from the file.
struct Item {
    QString name;
    QString text;
    QString textFormat;
    QString grade;
    QString single;
    std::vector<std::pair<QString, QString>> answers; // (fraction, text)
};

struct Quiz {
    QString category;
    std::vector<Item> items;
};

// The text of the <text> child of the current element.
QString readText(QXmlStreamReader& xml) {
    QString text;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("text"))
            text = xml.readElementText();
        else
            xml.skipCurrentElement();
    }
    return text;
}

Quiz parse(const QByteArray& bytes) {
    Quiz quiz;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("quiz"))
        return quiz;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("question")) {
            xml.skipCurrentElement();
            continue;
        }
        const QString type = xml.attributes().value(QLatin1String("type")).toString();
        Item item;
        while (xml.readNextStartElement()) {
            const auto name = xml.name();
            if (type == QLatin1String("category") && name == QLatin1String("category")) {
                quiz.category = readText(xml);
            } else if (name == QLatin1String("name")) {
                item.name = readText(xml);
            } else if (name == QLatin1String("questiontext")) {
                item.textFormat = xml.attributes().value(QLatin1String("format")).toString();
                item.text = readText(xml);
            } else if (name == QLatin1String("defaultgrade")) {
                item.grade = xml.readElementText();
            } else if (name == QLatin1String("single")) {
                item.single = xml.readElementText();
            } else if (name == QLatin1String("answer")) {
                const QString fraction =
                    xml.attributes().value(QLatin1String("fraction")).toString();
                item.answers.emplace_back(fraction, readText(xml));
            } else {
                xml.skipCurrentElement();
            }
        }
        if (type == QLatin1String("multichoice"))
            quiz.items.push_back(item);
    }
    if (xml.hasError())
        QTest::qFail(qPrintable(xml.errorString()), __FILE__, __LINE__);
    return quiz;
}

int tool(const QStringList& args, QString* err = nullptr) {
    QBuffer out, errors;
    out.open(QIODevice::WriteOnly);
    errors.open(QIODevice::WriteOnly);
    const int code = runBankTool(args, out, errors);
    if (err)
        *err = QString::fromUtf8(errors.data());
    return code;
}

} // namespace

class TestMoodle : public QObject {
    Q_OBJECT

private slots:
    void everyQuestionAndFractionReadsBack();
    void characterXmlCannotCarryIsReported();
    void questionsMoodleRejectsAreRefused_data();
    void questionsMoodleRejectsAreRefused();
};

void TestMoodle::everyQuestionAndFractionReadsBack() {
    QTemporaryDir dir;
    const QString bankPath = dir.filePath("informatics.mdb");
    const QString xmlPath = dir.filePath("out.xml");
    const std::vector<Question> questions{
        {QStringLiteral("Что означает тег <b> в HTML & XML?"),
         {{"<b>жирный</b>", true},
          {"&amp;", false},
          {"\"кавычки\" и 'апострофы'", false},
          {"]]>", false}},
         {{"Первое", false}, {"Второе", true}, {"Третье", false}, {"Четвёртое", false}}},
        {QStringLiteral("Две строки\nтекста,\r\nCRLF и\rCR"),
         {{"a", true}, {"b", false}, {"c", true}, {"d\r\n", false}},
         {{"два верных", true}, {"x", false}, {"y", true}, {"z", false}}},
    };
    createBank(bankPath);
    importQuestions(bankPath, questions);
    QString err;
    QCOMPARE(tool({"export-moodle", bankPath, xmlPath}, &err), kExitOk);

    QFile file(xmlPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
    const Quiz quiz = parse(bytes);
    QCOMPARE(quiz.category, QStringLiteral("$course$/top/informatics"));
    QCOMPARE(quiz.items.size(), questions.size() * 2);

    int points = 0;
    for (size_t i = 0; i < questions.size(); ++i) {
        const Question& q = questions[i];
        const Item& asked = quiz.items[2 * i];
        const Item& explained = quiz.items[2 * i + 1];
        QCOMPARE(asked.text, q.text);
        QVERIFY2(explained.text.startsWith(q.text), qPrintable(explained.text));
        QVERIFY(explained.text.contains(QStringLiteral("пояснение")));
        QVERIFY(asked.name != explained.name);
        for (const auto* item : {&asked, &explained}) {
            QCOMPARE(item->textFormat, QStringLiteral("plain_text"));
            QCOMPARE(item->single, QStringLiteral("true"));
            QCOMPARE(item->grade, QStringLiteral("1"));
            points += item->grade.toInt();
        }
        auto expect = [](const Item& item, const std::vector<Choice>& choices) {
            QCOMPARE(item.answers.size(), choices.size());
            for (size_t k = 0; k < choices.size(); ++k) {
                QCOMPARE(item.answers[k].second, choices[k].text);
                QCOMPARE(item.answers[k].first,
                         choices[k].correct ? QStringLiteral("100") : QStringLiteral("0"));
            }
        };
        expect(asked, q.options);
        expect(explained, q.explanations);
    }
    QCOMPARE(points, 4);
}

void TestMoodle::characterXmlCannotCarryIsReported() {
    QTemporaryDir dir;
    const QString bankPath = dir.filePath("db.mdb");
    const QString xmlPath = dir.filePath("out.xml");
    createBank(bankPath);
    importQuestions(bankPath,
                    {{"Хороший", {{"a", true}, {"b", false}}, {{"c", true}, {"d", false}}},
                     {QStringLiteral("Звонок\x07 в тексте"),
                      {{"a", true}, {"b", false}},
                      {{"c", true}, {"d", false}}}});
    QString err;
    QCOMPARE(tool({"export-moodle", bankPath, xmlPath}, &err), kExitFailure);
    QVERIFY2(err.contains(QStringLiteral("в тексте вопроса 2")), qPrintable(err));
    QVERIFY(!QFile::exists(xmlPath));
}

void TestMoodle::questionsMoodleRejectsAreRefused_data() {
    // The second of three questions is the one Moodle's import would reject.
    QTest::addColumn<Question>("bad");
    QTest::addColumn<QString>("why");
    const std::vector<Choice> two{{"да", true}, {"нет", false}};
    QTest::newRow("no correct option")
        << Question{"Q", {{"a", false}, {"b", false}}, two} << "нет верного варианта ответа";
    QTest::newRow("no correct explanation")
        << Question{"Q", two, {{"a", false}, {"b", false}, {"c", false}}}
        << "нет верного пояснения";
    QTest::newRow("one option") << Question{"Q", {{"a", true}}, two}
                                << "вариантов ответа меньше двух";
    QTest::newRow("no explanations") << Question{"Q", two, {}} << "пояснений меньше двух";
    QTest::newRow("empty option, correct")
        << Question{"Q", {{"a", false}, {"", true}}, two} << "пустой текст варианта ответа 2";
    QTest::newRow("blank explanation")
        << Question{"Q", two, {{"a", true}, {" ", false}}} << "пустой текст пояснения 2";
    QTest::newRow("no question text") << Question{" ", two, two} << "нет текста вопроса";
}

void TestMoodle::questionsMoodleRejectsAreRefused() {
    QFETCH(Question, bad);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString bankPath = dir.filePath("db.mdb");
    const QString xmlPath = dir.filePath("out.xml");
    const std::vector<Choice> two{{"да", true}, {"нет", false}};
    createBank(bankPath);
    importQuestions(bankPath, {{"Первый", two, two}, bad, {"Третий", two, two}});

    QString err;
    QCOMPARE(tool({"export-moodle", bankPath, xmlPath}, &err), kExitFailure);
    QVERIFY2(err.contains(QStringLiteral("Вопрос id 2 ")) && err.contains(why), qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("--skip-invalid")));
    QVERIFY(!QFile::exists(xmlPath));

    QCOMPARE(tool({"export-moodle", bankPath, xmlPath, "--skip-invalid"}, &err), kExitOk);
    QVERIFY2(err.startsWith(QStringLiteral("Пропущен: Вопрос id 2 ")), qPrintable(err));
    QFile file(xmlPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const Quiz quiz = parse(file.readAll());
    QCOMPARE(quiz.items.size(), size_t(4));
    QCOMPARE(quiz.items[2].text, QStringLiteral("Третий"));
}

QTEST_MAIN(TestMoodle)
#include "tst_moodle.moc"
