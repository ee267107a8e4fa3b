#include "formats/Csv.h"
#include "formats/QuestionCsv.h"

#include <QTest>

using bank::Choice;
using bank::EInputError;
using bank::parseQuestions;
using bank::Question;

namespace {

const QByteArray kHeader = "Вопрос;Ответ 1;Ответ 2;Ответ 3;Ответ 4;Верный ответ;"
                           "Пояснение 1;Пояснение 2;Пояснение 3;Пояснение 4;Верное пояснение\n";

Question sampleQuestion() {
    return {QStringLiteral("Сколько бит в байте?"),
            {{"4", false}, {"8", true}, {"16", false}, {"2", false}},
            {{"Так принято", false},
             {"Байт — восемь двоичных разрядов", true},
             {"По числу пальцев", false},
             {"Так решил ГОСТ", false}}};
}

// The fault of a bad file, or a failure when the file was taken.
EInputError faultOf(const QByteArray& csv) {
    try {
        parseQuestions(csv);
    } catch (const EInputError& e) {
        return e;
    }
    QTest::qFail("the file was taken", __FILE__, __LINE__);
    return EInputError({}, 0, 0);
}

} // namespace

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void delimitersBomAndLineEnds_data();
    void delimitersBomAndLineEnds();
    void quotedCells();
    void lineBreaksInCellsKeepLineNumbers();
    void blankLinesAreSkipped();
    void correctNumbers();
    void headerInAnyOrderAndCase();
    void emptyOptionInTheMiddleIsKept();
    void textOfExactly255Fits();
    void badFiles_data();
    void badFiles();
    void formatQuotesWhatNeedsIt();
};

void TestCsv::delimitersBomAndLineEnds_data() {
    QTest::addColumn<QByteArray>("csv");
    const QByteArray row = "Сколько бит в байте?;4;8;16;2;2;Так принято;Байт — восемь двоичных "
                           "разрядов;По числу пальцев;Так решил ГОСТ;2\n";
    const QByteArray semicolons = kHeader + row;
    QByteArray commas = semicolons, tabs = semicolons, crlf = semicolons;
    commas.replace(';', ',');
    tabs.replace(';', '\t');
    crlf.replace("\n", "\r\n");
    QByteArray cr = semicolons;
    cr.replace('\n', '\r');
    QTest::newRow("semicolons") << semicolons;
    QTest::newRow("commas") << commas;
    QTest::newRow("tabs") << tabs;
    QTest::newRow("BOM") << QByteArray("\xEF\xBB\xBF") + semicolons;
    QTest::newRow("BOM, CRLF, no last line end") << QByteArray("\xEF\xBB\xBF") + crlf.chopped(2);
    QTest::newRow("CR alone") << cr;
    // A heading quoted, with a comma inside, must not make the comma the delimiter.
    QByteArray quotedHeading = semicolons;
    quotedHeading.replace("Вопрос;", "\"Вопрос\";");
    QTest::newRow("quoted heading") << quotedHeading;
    // Spreadsheets name the delimiter in a first line, and may end every line with one.
    QTest::newRow("sep= line names the delimiter") << "sep=,\r\n" + commas;
    QTest::newRow("sep= line, tabs, semicolons in texts")
        << QByteArray("SEP=\t\n") + QByteArray(tabs).replace("Так принято", "Так; принято;;");
    QByteArray trailing = semicolons;
    trailing.replace("\n", ";;\n");
    QTest::newRow("trailing delimiters on every line") << trailing;
}

void TestCsv::delimitersBomAndLineEnds() {
    QFETCH(QByteArray, csv);
    auto questions = parseQuestions(csv);
    QCOMPARE(questions.size(), size_t(1));
    questions[0].explanations[0].text.replace(QStringLiteral("Так; принято;;"),
                                              QStringLiteral("Так принято"));
    QCOMPARE(questions[0], sampleQuestion());
}

void TestCsv::quotedCells() {
    const QByteArray csv = kHeader +
                           "\"Что выведет print(\"\"a;b\"\")?\";a;b;\"a;b\";\"\"\"a;b\"\"\";3;"
                           "\"Кавычки; точка с запятой\";\"\";2;3;1\n";
    const auto questions = parseQuestions(csv);
    QCOMPARE(questions.size(), size_t(1));
    const Question& q = questions[0];
    QCOMPARE(q.text, QStringLiteral("Что выведет print(\"a;b\")?"));
    QCOMPARE(q.options[2], (Choice{"a;b", true}));
    QCOMPARE(q.options[3], (Choice{"\"a;b\"", false}));
    // A quoted empty cell in the middle is an (empty) explanation, kept in its place.
    QCOMPARE(q.explanations.size(), size_t(4));
    QCOMPARE(q.explanations[0], (Choice{QStringLiteral("Кавычки; точка с запятой"), true}));
    QCOMPARE(q.explanations[1].text, QString());
}

void TestCsv::lineBreaksInCellsKeepLineNumbers() {
    const QByteArray csv = kHeader + "\"Строка 1\r\nстрока 2\nстрока 3\";a;b;c;d;1;e;f;g;h;1\n"
                                     "Второй;a;b;c;d;9;e;f;g;h;1\n";
    const EInputError e = faultOf(csv);
    // The second question starts on line 5: three lines of the header and the first question
    // before it, not two.
    QCOMPARE(e.line(), 5);
    QVERIFY2(e.message().contains(QStringLiteral("столбец 6 «Верный ответ»")),
             qPrintable(e.message()));

    const auto questions = parseQuestions(csv.left(csv.indexOf("Второй")));
    QCOMPARE(questions[0].text, QStringLiteral("Строка 1\r\nстрока 2\nстрока 3"));
}

void TestCsv::blankLinesAreSkipped() {
    const QByteArray csv = "\n" + kHeader + "\n;;;;;;;;;;\r\n" +
                           "Первый;a;b;c;d;1;e;f;g;h;1\n \n\nВторой;a;b;c;d;2;e;f;g;h;2\n\n";
    const auto questions = parseQuestions(csv);
    QCOMPARE(questions.size(), size_t(2));
    QCOMPARE(questions[1].text, QStringLiteral("Второй"));
    QVERIFY(questions[1].options[1].correct);
}

void TestCsv::correctNumbers() {
    const QByteArray csv = kHeader + "Q;a;b;c;d;\"1, 3\";e;f;g;h;2  4\n"
                                     "Q;a;b;c;d;;e;f;g;h; 4,\n";
    const auto questions = parseQuestions(csv);
    auto flags = [](const std::vector<Choice>& choices) {
        QList<bool> out;
        for (const Choice& c : choices)
            out << c.correct;
        return out;
    };
    QCOMPARE(flags(questions[0].options), (QList<bool>{true, false, true, false}));
    QCOMPARE(flags(questions[0].explanations), (QList<bool>{false, true, false, true}));
    QCOMPARE(flags(questions[1].options), (QList<bool>{false, false, false, false}));
    QCOMPARE(flags(questions[1].explanations), (QList<bool>{false, false, false, true}));
}

void TestCsv::headerInAnyOrderAndCase() {
    const QByteArray csv = " верное пояснение ;Пояснение 2;Пояснение 1;ВОПРОС;Ответ2;Ответ 1;"
                           "Верный ответ\n1;П2;П1;Текст;О2;О1;2\n";
    const auto questions = parseQuestions(csv);
    QCOMPARE(questions[0], (Question{QStringLiteral("Текст"),
                                     {{"О1", false}, {"О2", true}},
                                     {{"П1", true}, {"П2", false}}}));
}

void TestCsv::emptyOptionInTheMiddleIsKept() {
    // A row's options run up to its last text; the trailing empty cells are the columns other
    // questions needed.
    const QByteArray csv = kHeader + "Q;a;;c;;1;e;;;;1\n";
    const auto questions = parseQuestions(csv);
    QCOMPARE(questions[0].options.size(), size_t(3));
    QCOMPARE(questions[0].options[1].text, QString());
    QCOMPARE(questions[0].explanations.size(), size_t(1));
    // An empty option written "" is one, at the end too, and may be the correct one.
    const auto quoted = parseQuestions(kHeader + "Q;a;b;c;\"\";4;e;\"\";;;2\n");
    QCOMPARE(quoted[0].options.size(), size_t(4));
    QCOMPARE(quoted[0].options[3], (Choice{QString(), true}));
    QCOMPARE(quoted[0].explanations.size(), size_t(2));
    QCOMPARE(quoted[0].explanations[1], (Choice{QString(), true}));
}

void TestCsv::textOfExactly255Fits() {
    // Characters are counted, not UTF-16 units: an emoji is one.
    for (const QString& text : {QString(255, QChar(u'ж')), QStringLiteral("😀").repeated(255)}) {
        const QByteArray csv = kHeader + text.toUtf8() + ";a;b;c;d;1;e;f;g;h;1\n";
        QCOMPARE(parseQuestions(csv)[0].text, text);
    }
}

void TestCsv::badFiles_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("says");

    const QByteArray good = "Q;a;b;c;d;1;e;f;g;h;1\n";
    QTest::newRow("empty file") << QByteArray("\xEF\xBB\xBF\n\n") << 1 << 0 << "файл пуст";
    QTest::newRow("unknown column")
        << QByteArray("Вопрос;Ответ 1;Ответы;Верный ответ;Пояснение 1;Верное пояснение\n") << 1 << 0
        << "столбец 3 «Ответы»: неизвестный столбец";
    QTest::newRow("unnamed column")
        << QByteArray("Вопрос;;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение\n") << 1 << 0
        << "столбец 2 без заголовка";
    QTest::newRow("text under an empty heading at the end")
        << QByteArray("Вопрос;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение;\n"
                      "Q;a;1;b;1;забытое\n")
        << 2 << 11 << "столбец 6: текст в столбце без заголовка";
    QTest::newRow("sep= line is line 1") << "sep=;\n" + kHeader + "Q;a;b;c;d;5;e;f;g;h;1\n"
                                         << 3 << 11 << "«5» — не номер";
    QTest::newRow("missing correct column")
        << QByteArray("Вопрос;Ответ 1;Пояснение 1;Верное пояснение\n") << 1 << 0
        << "нет столбца «Верный ответ»";
    QTest::newRow("gap in option columns")
        << QByteArray("Вопрос;Ответ 1;Ответ 3;Верный ответ;Пояснение 1;Верное пояснение\n") << 1
        << 0 << "нет столбца «Ответ 2»";
    QTest::newRow("no explanation columns")
        << QByteArray("Вопрос;Ответ 1;Верный ответ;Верное пояснение\n") << 1 << 0
        << "нет столбца «Пояснение 1»";
    QTest::newRow("repeated column")
        << QByteArray("Вопрос;Ответ 1;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение\n") << 1
        << 0 << "столбец 3 «Ответ 1»: столбец повторяет столбец 2";
    QTest::newRow("more cells than headings")
        << kHeader + good + "Что такое бит; байт?;a;b;c;d;1;e;f;g;h;1\n"
        << 3 << 40 << "столбец 12: в строке 12 ячеек, а в заголовке 11";
    QTest::newRow("correct number above N") << kHeader + good + "Q;a;b;c;d;5;e;f;g;h;1\n"
                                            << 3 << 11 << "«5» — не номер";
    QTest::newRow("correct number zero")
        << kHeader + "Q;a;b;c;d;1;e;f;g;h;0\n"
        << 2 << 21 << "столбец 11 «Верное пояснение»: «0» — не номер";
    QTest::newRow("correct word") << kHeader + "Q;a;b;c;d;второй;e;f;g;h;1\n"
                                  << 2 << 11 << "«второй» — не номер";
    QTest::newRow("correct names an empty option") << kHeader + "Q;a;b;;;3;e;f;g;h;1\n"
                                                   << 2 << 9 << "ячейка «Ответ 3» пуста";
    QTest::newRow("text over 255")
        << kHeader + "Q;a;" + QByteArray(256, 'x') + ";c;d;1;e;f;g;h;1\n"
        << 2 << 5 << "столбец 3 «Ответ 2»: текст длиннее 255 символов (256)";
    QTest::newRow("text over 255 characters, counted as characters")
        << kHeader + "Q;a;" + QStringLiteral("😀").repeated(256).toUtf8() + ";c;d;1;e;f;g;h;1\n"
        << 2 << 5 << "текст длиннее 255 символов (256)";
    QTest::newRow("unterminated quote") << kHeader + good + "Q;\"a;b;c;d;1;e;f;g;h;1\n" + good << 3
                                        << 3 << "кавычка, открытая здесь, не закрыта";
    QTest::newRow("text after closing quote") << kHeader + "Q;\"a\"b;b;c;d;1;e;f;g;h;1\n"
                                              << 2 << 6 << "после закрывающей кавычки";
    QTest::newRow("invalid UTF-8 (Windows-1251)")
        << kHeader + good + "Q;a;\xE1\xE8\xF2;c;d;1;e;f;g;h;1\n"
        << 3 << 5 << "не в кодировке UTF-8 (неверный байт 0xE1)";
    QTest::newRow("overlong UTF-8") << kHeader + "Вопрос \xC0\xAF;a;b;c;d;1;e;f;g;h;1\n"
                                    << 2 << 8 << "неверный байт 0xC0";
    QTest::newRow("truncated UTF-8 at the end")
        << kHeader + "Q;a;b;c;d;1;e;f;g;h;1\n\xD0" << 3 << 1 << "неверный байт 0xD0";
}

void TestCsv::badFiles() {
    QFETCH(QByteArray, csv);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QString, says);
    const EInputError e = faultOf(csv);
    QVERIFY2(e.message().contains(says), qPrintable(e.message()));
    QVERIFY2(e.message().startsWith(QStringLiteral("строка %1").arg(line)),
             qPrintable(e.message()));
    QCOMPARE(e.line(), line);
    QCOMPARE(e.column(), column);
}

void TestCsv::formatQuotesWhatNeedsIt() {
    const std::vector<Question> questions{
        {QStringLiteral("a;b \"c\"\nd"), {{" ведущий пробел", true}, {"просто", false}}, {}}};
    const QByteArray csv = bank::formatQuestions(questions);
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"
                           "Вопрос;Ответ 1;Ответ 2;Ответ 3;Ответ 4;Верный ответ;"
                           "Пояснение 1;Пояснение 2;Пояснение 3;Пояснение 4;Верное пояснение\r\n"));
    QVERIFY(csv.contains("\"a;b \"\"c\"\"\nd\";\" ведущий пробел\";просто;;;1;;;;;\r\n"));
    QCOMPARE(parseQuestions(csv), questions);
}

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
