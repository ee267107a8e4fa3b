#include "cli/BankFile.h"
#include "cli/Cli.h"
#include "formats/QuestionCsv.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace bank;

using Questions = std::vector<Question>;
Q_DECLARE_METATYPE(Questions)

namespace {

struct Run {
    int code;
    QString out;
    QString err;
};

Run tool(const QStringList& args) {
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const int code = runBankTool(args, out, err);
    return {code, QString::fromUtf8(out.data()), QString::fromUtf8(err.data())};
}

// Four choices, the k-th (from 1) correct.
std::vector<Choice> four(const QStringList& texts, int k) {
    std::vector<Choice> choices;
    for (qsizetype i = 0; i < texts.size(); ++i)
        choices.push_back({texts[i], i + 1 == k});
    return choices;
}

// A text of up to 255 characters with every character GIFT, XML, HTML or CSV treat specially,
// letters of several scripts and characters outside the basic plane; no line breaks, which the
// import turns into spaces, and none at its ends, which GIFT trims.
QString randomText(QRandomGenerator& random) {
    static const std::u32string pool = U"~=#{}:\\%[]<>&;\"',/-*_ abcЁёЯ яZ0١😀𝄞\t";
    std::u32string text;
    const int length = random.bounded(1, 256);
    for (int i = 0; i < length; ++i)
        text += pool[size_t(random.bounded(int(pool.size())))];
    const QString trimmed = QString::fromStdU32String(text).trimmed();
    return trimmed.isEmpty() ? QStringLiteral("x") : trimmed;
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

private slots:
    void readers_data();
    void readers();
    void roundTrips_data();
    void roundTrips();
};

void TestImport::readers_data() {
    // A file imported into an empty bank: the questions it gives, or the refusal, after which
    // the bank is still empty.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<Questions>("expected");
    QTest::addColumn<QString>("says"); // each of its lines

    const Question byte{QStringLiteral("Сколько бит в байте?"), four({"4", "8", "16", "2"}, 2),
                        four({"Полубайт", "Верно & точно", "Два байта", "У бита"}, 2)};
    const QByteArray moodleHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quiz>\n"
                                  "<question type=\"category\"><category><text>$course$/top/"
                                  "Инф</text></category></question>\n";
    const QByteArray moodleByte =
        "<question type=\"multichoice\"><name><text>Байт</text></name>\n"
        "<questiontext format=\"html\"><text><![CDATA[<p>Сколько <b>бит</b> в&nbsp;байте?</p>"
        "<img src=\"@@PLUGINFILE@@/b.png\">]]></text><file name=\"b.png\" encoding=\"base64\">"
        "AA==</file></questiontext><single>true</single>\n"
        "<answer fraction=\"0\"><text>4</text><feedback><text>Полубайт</text></feedback></answer>"
        "<answer fraction=\"100.0000000\"><text>8</text><feedback format=\"html\"><text>Верно "
        "&amp;amp; точно</text></feedback></answer><answer fraction=\"0\"><text>16</text>"
        "<feedback><text>Два байта</text></feedback></answer><answer fraction=\"-33.3\"><text>2"
        "</text><feedback><text>У бита</text></feedback></answer></question>\n";
    const QByteArray essay = "<question type=\"essay\"><name><text>Эссе</text></name>"
                             "<questiontext><text>Напишите</text></questiontext></question>\n";
    QTest::newRow("Moodle: HTML, entities, CDATA, a picture, an essay skipped")
        << "q.xml" << moodleHead + moodleByte + essay + "</quiz>" << QStringList()
        << Questions{byte}
        << "Пропущен вопрос, какого тест не задаёт: строка 7 «Эссе» «Напишите»: эссе";
    const QByteArray trueFalse =
        "<question type=\"truefalse\"><name><text>ОЗУ</text></name><questiontext format=\""
        "moodle_auto_format\"><text>ОЗУ\nэнергонезависимо</text></questiontext><answer "
        "fraction=\"0\"><text>true</text><feedback><text>Нет</text></feedback></answer><answer "
        "fraction=\"100\"><text>false</text><feedback><text>Да</text></feedback></answer>"
        "</question>";
    QTest::newRow("Moodle: true/false refused")
        << "q.xml" << moodleHead + trueFalse + "</quiz>" << QStringList() << Questions{}
        << "строка 4 «ОЗУ» «ОЗУ энергонезависимо»: 2 "
           "варианта ответа, а нужно ровно 4";
    QTest::newRow("Moodle: true/false as it stands with --lenient")
        << "q.xml" << moodleHead + trueFalse + "</quiz>" << QStringList{"--lenient"}
        << Questions{{"ОЗУ энергонезависимо",
                      {{"Верно", false}, {"Неверно", true}},
                      {{"Нет", false}, {"Да", true}}}}
        << "Импортирован как есть";
    QTest::newRow("Moodle: a declared entity refused")
        << "q.xml"
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE quiz [<!ENTITY a \"aaaa\">]><quiz>&a;"
                      "</quiz>")
        << QStringList() << Questions{} << "строка 1, символ 57: в файле есть объявление типа";
    QTest::newRow("Moodle: a text over 255 after HTML, cut with --lenient")
        << "q.xml"
        << moodleHead + "<question type=\"multichoice\"><questiontext><text>&lt;i&gt;" +
               QByteArray(300, 'x') +
               "&lt;/i&gt;</text></questiontext><answer fraction=\"100\"><text>a</text>"
               "</answer><answer><text>b</text></answer><answer><text>c</text></answer><answer>"
               "<text>d</text></answer></question></quiz>"
        << QStringList{"--lenient"}
        << Questions{{QString(255, u'x'), four({"a", "b", "c", "d"}, 1), {}}}
        << "текст вопроса сокращён с 300 до 255 символов";

    const QByteArray gift =
        "// комментарий\n$CATEGORY: Информатика\n\n::Байт::Сколько бит в байте?{\n"
        "~4#Полубайт\n=8#Верно & точно\n~16#Два байта\n~%-50%2#У бита\n}\n\n"
        "::Escapes::[plain]\\~\\=\\#\\{\\}\\:\\\\\\n<b>{=a\\=b#x~c#y ~%0%d#z ~e#w}\n\n"
        "[markdown]Без названия {=%100%да#1 ~нет#2 ~может быть#3 ~не знаю#4}\n\n"
        "a < b <i>и</i> 2<3? {~<  >#a ~b#b =c#c ~d#d}\n\n"
        "Кто? {=Никто =Nobody}\n";
    QTest::newRow("GIFT: every escape and marker")
        << "q.gift" << gift << QStringList()
        << Questions{byte,
                     {QStringLiteral("~=#{}:\\ <b>"), four({"a=b", "c", "d", "e"}, 1),
                      four({"x", "y", "z", "w"}, 1)},
                     {QStringLiteral("Без названия"),
                      four({"%100%да", "нет", "может быть", "не знаю"}, 1),
                      four({"1", "2", "3", "4"}, 1)},
                     {QStringLiteral("a < b и 2<3?"), four({"< >", "b", "c", "d"}, 3),
                      four({"a", "b", "c", "d"}, 3)}}
        << "строка 17 «Кто?»: короткий ответ";
    QTest::newRow("GIFT: true/false, its feedback #wrong#right")
        << "q.txt" << QByteArray("Земля круглая{T#Нет, круглая#Да}") << QStringList{"--lenient"}
        << Questions{{"Земля круглая",
                      {{"Верно", true}, {"Неверно", false}},
                      {{"Да", true}, {"Нет, круглая", false}}}}
        << "нужно ровно 4";
    QTest::newRow("GIFT: a brace not closed")
        << "q.gift" << QByteArray("A{=a ~b ~c ~d}\n\n\nB{=a ~b\n~c ~d\n") << QStringList()
        << Questions{} << "q.gift, строка 4: фигурная скобка «{» не закрыта";
    QTest::newRow("GIFT: nothing the quiz asks")
        << "q.gift" << QByteArray("Кто?{=Никто}\n\nОпишите{}\n") << QStringList() << Questions{}
        << "в файле нет вопросов, которые задаёт тест";

    QTest::newRow("Aiken: both option styles, no explanations")
        << "q.txt" << QByteArray("Сколько бит\nв байте?\nA. 4\nB) 8\nC. 16\nD) 2\nANSWER: B\n")
        << QStringList() << Questions{{"Сколько бит в байте?", four({"4", "8", "16", "2"}, 2), {}}}
        << "строка 1 «Сколько бит в байте?»: нужны пояснения";
    QTest::newRow("Aiken: a question without its answer")
        << "q.txt" << QByteArray("Q1\nA. a\nB. b\nANSWER: A\n\nQ2\nA. a\nB. b\n\nQ3\n")
        << QStringList{"--format", "aiken"} << Questions{}
        << "строка 6: у вопроса нет строки «ANSWER: …» с буквой верного варианта, а со строки 10 "
           "начат следующий вопрос";

    // As Moodle reads its own importer tests' files (question/format/*/tests): the kinds a test
    // asks with Moodle's texts, marks and feedback, the other kinds skipped by name.
    QTest::newRow("Moodle's GIFT: markers on answers and feedback, true/false, missing word")
        << "q.gift"
        << QByteArray("// multiple choice with specified feedback for right and wrong answers\n"
                      "::Q2:: What's between orange and green in the spectrum?\n{\n"
                      "    =yellow # right; good!\n    ~red # [html]wrong, it's yellow\n"
                      "    ~[plain]blue # wrong, it's yellow\n}\n\n"
                      "::Q1:: 42 is the Absolute Answer to everything.{\n"
                      "FALSE#42 is the Ultimate Answer.#You gave the right answer.}\n\n"
                      "::2-08 TSL::TSL is blablabla.{T}\n\n::2-08 TSL::TSL is blablabla.{TRUE}\n\n"
                      "Земля круглая{T\n#Нет, круглая\n#Да\n}\n\n"
                      "Grant is {~buried =entombed ~living} in Grant's tomb.\n\n"
                      "[markdown]**Байт** — это _сколько_ бит?{=8 ~[plain]**4**}\n")
        << QStringList{"--lenient", "--allow-duplicates"}
        << Questions{{"What's between orange and green in the spectrum?",
                      {{"yellow", true}, {"red", false}, {"blue", false}},
                      {{"right; good!", true},
                       {"wrong, it's yellow", false},
                       {"wrong, it's yellow", false}}},
                     {"42 is the Absolute Answer to everything.",
                      {{"Верно", false}, {"Неверно", true}},
                      {{"42 is the Ultimate Answer.", false},
                       {"You gave the right answer.", true}}},
                     {"TSL is blablabla.", {{"Верно", true}, {"Неверно", false}}, {}},
                     {"TSL is blablabla.", {{"Верно", true}, {"Неверно", false}}, {}},
                     {"Земля круглая",
                      {{"Верно", true}, {"Неверно", false}},
                      {{"Да", true}, {"Нет, круглая", false}}},
                     {"Grant is _____ in Grant's tomb.",
                      {{"buried", false}, {"entombed", true}, {"living", false}},
                      {}},
                     {"Байт — это сколько бит?", {{"8", true}, {"**4**", false}}, {}}}
        << "строка 2 «Q2» «What's between orange and green in the spectrum?»: 3 варианта ответа\n"
           "строка 16 «Земля круглая»: 2 варианта ответа";
    QTest::newRow("Moodle's GIFT: multiple response, essay, matching, numerical, short answer")
        << "q.gift"
        << QByteArray(
               "::colours:: What's between orange and green?\n{\n    ~%50%yellow # right; "
               "good!\n    ~%-100%red # [html]wrong\n    ~%50%off-beige # right; good!\n"
               "    ~%-100%[plain]blue # wrong\n}\n\n::tricky:: What's between?\n{\n"
               "    ~%100%yellow # right; good!\n    ~%-50%red # wrong\n"
               "    ~%-50%blue # wrong\n}\n\n// essay\n::Q8:: How are you? {}\n\n"
               "::Moodle activities::[html]Match the <b>activity</b> to the description.{\n"
               "    =[html]An activity supporting asynchronous discussions. -> Forum\n"
               "    = -> Chat\n}\n\n"
               "::Q5:: What is a number from 1 to 5? {#3:2~#Completely wrong}\n\n"
               "::Shortanswer::Which is the best animal?{\n    =Frog#Good!\n"
               "    =%50%Cat#What is it with Moodlers and cats?\n    =%0%*#Completely wrong\n"
               "    ####[html]Here is some general feedback!\n}\n")
        << QStringList{"--lenient"} << Questions{}
        << "строка 1 «colours» «What's between orange and green?»: выбор нескольких ответов\n"
           "строка 9 «tricky» «What's between?»: выбор нескольких ответов\n"
           "«Q8» «How are you?»: эссе\n"
           "«Moodle activities» «Match the activity to the description.»: на соответствие\n"
           "«Q5» «What is a number from 1 to 5?»: числовой ответ\n"
           "«Shortanswer» «Which is the best animal?»: короткий ответ";
    QTest::newRow("Moodle's XML: multiple response skipped, true/false, texts in the question's "
                  "format")
        << "q.xml"
        << moodleHead +
               "<question type=\"multichoice\"><name><text>Multiple choice question</text></name>"
               "<questiontext format=\"html\"><text>Which are the even numbers?</text>"
               "</questiontext><single>false</single><answer fraction=\"0\"><text>1</text>"
               "</answer><answer fraction=\"100\"><text>2</text></answer><answer fraction=\"0\">"
               "<text>3</text></answer><answer fraction=\"100\"><text>4</text></answer>"
               "</question>\n<question type=\"truefalse\"><name><text>True false question</text>"
               "</name><questiontext format=\"html\"><text>The answer is true.</text>"
               "</questiontext><generalfeedback><text>General feedback: You should have chosen "
               "true.</text></generalfeedback><answer fraction=\"100\"><text>true</text>"
               "<feedback><text>Well done!</text></feedback></answer><answer fraction=\"0\">"
               "<text>false</text><feedback><text>Doh!</text></feedback></answer></question>\n"
               "<question type=\"multichoice\"><questiontext format=\"plain_text\"><text>2 &lt; "
               "3?</text></questiontext><answer fraction=\"100\"><text>&lt;b&gt;да&lt;/b&gt;"
               "</text><feedback><text>a &lt;b&gt; c</text></feedback></answer><answer "
               "fraction=\"0\"><text>нет</text></answer></question>\n"
               "<question type=\"numerical\"><name><text>Numerical question</text></name>"
               "<questiontext format=\"html\"><text>What is the answer?</text></questiontext>"
               "<answer fraction=\"100\"><text>42</text></answer></question></quiz>"
        << QStringList{"--lenient"}
        << Questions{{"The answer is true.",
                      {{"Верно", true}, {"Неверно", false}},
                      {{"Well done!", true}, {"Doh!", false}}},
                     {"2 < 3?",
                      {{"<b>да</b>", true}, {"нет", false}},
                      {{"a <b> c", true}, {"", false}}}}
        << "строка 4 «Multiple choice question» «Which are the even numbers?»: выбор нескольких "
           "ответов\n«Numerical question» «What is the answer?»: числовой ответ";
    const QByteArray aikenErrors =
        "A question with too few answers\nA) Only answer\nANSWER: A\n\nA) Question not started\n"
        "\nANSWER: Question not started\n\nA good question\nA) Correct\nB) Incorrect\nANSWER: A\n\n"
        "A question started but not finished\nA) Correct-ish\nB) Incorrect-ish\n\n"
        "A second good question\nA)Incorrect (No space)\nB)Correct (No space)\nANSWER: B\n\n"
        "A third good question with HTML chars such as > < &\nA) Correct (< > &)\n"
        "B) Incorrect (< > &)\nANSWER: A";
    QTest::newRow("Moodle's Aiken: every good question kept, each broken one named")
        << "q.txt" << aikenErrors << QStringList{"--lenient", "--format", "aiken"}
        << Questions{{"A good question", {{"Correct", true}, {"Incorrect", false}}, {}},
                     {"A second good question",
                      {{"Incorrect (No space)", false}, {"Correct (No space)", true}},
                      {}},
                     {"A third good question with HTML chars such as > < &",
                      {{"Correct (< > &)", true}, {"Incorrect (< > &)", false}},
                      {}}}
        << "строка 3: у вопроса со строки 1 меньше двух вариантов\n"
           "строка 5: вариант ответа без вопроса\nстрока 7: строка «ANSWER:» без вопроса\n"
           "строка 14: у вопроса нет строки «ANSWER: …» с буквой верного варианта, а со строки 18";
    QTest::newRow("Moodle's Aiken: the first broken question refuses the file")
        << "q.txt" << aikenErrors << QStringList{"--format", "aiken"} << Questions{}
        << "строка 3: у вопроса со строки 1 меньше двух вариантов";
    // A control character is refused in every format as in CSV, --lenient or not.
    QTest::newRow("GIFT: a NUL") << "q.gift" << QByteArray("Q\n{=a ~b\0 ~c ~d}", 16)
                                 << QStringList{"--lenient"} << Questions{}
                                 << "строка 2, символ 7: в тексте управляющий символ U+0000";
    QTest::newRow("Aiken: a DEL") << "q.txt" << QByteArray("Q\nA. a\x7f\nB. b\nANSWER: A\n")
                                  << QStringList{"--lenient"} << Questions{}
                                  << "строка 2, символ 5: в тексте управляющий символ U+007F";
    QTest::newRow("Moodle: a C1 character")
        << "q.xml"
        << moodleHead + "<question type=\"multichoice\"><questiontext format=\"plain_text\"><text>"
                        "Q\xc2\x85</text></questiontext></question></quiz>"
        << QStringList{"--lenient"} << Questions{} << "в тексте управляющий символ U+0085";
    QTest::newRow("Moodle: a control character by an HTML reference")
        << "q.xml"
        << moodleHead + "<question type=\"multichoice\"><questiontext><text>Q&amp;#1;</text>"
                        "</questiontext></question></quiz>"
        << QStringList{"--lenient"} << Questions{} << "в тексте управляющий символ U+0001";

    QStringDecoder fromUtf8("windows-1251");
    const QString csv = QStringLiteral(
        "Вопрос;Ответ 1;Ответ 2;Ответ 3;Ответ 4;Верный ответ;Пояснение 1;Пояснение 2;Пояснение "
        "3;Пояснение 4;Верное пояснение\r\nСколько бит в байте?;4;8;16;2;2;Полубайт;\"Верно & "
        "точно\";Два байта;У бита;2\r\n");
    QStringEncoder to1251("windows-1251");
    QTest::newRow("CSV from a Russian Excel: Windows-1251, ';', CRLF")
        << "q.csv" << QByteArray(to1251.encode(csv)) << QStringList() << Questions{byte}
        << "прочитан как CSV, кодировка Windows-1251";
    QTest::newRow("CSV: a NUL in a cell")
        << "q.csv"
        << QByteArray("Вопрос;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение\r\n"
                      "Q;\"a\nb\x01\";1;x;1\r\n")
        << QStringList() << Questions{} << "строка 3, символ 2: в тексте управляющий символ U+0001";
}

void TestImport::readers() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, options);
    QFETCH(Questions, expected);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString bank = dir.filePath("db.mdb"), path = dir.filePath(name);
    createBank(bank);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const Run run = tool(QStringList{"import", bank, path} + options);
    for (const QString& said : says.split(u'\n'))
        QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
    QCOMPARE(run.code, expected.empty() ? kExitFailure : kExitOk);
    QCOMPARE(questionsOf(readBank(bank)), expected);
}

void TestImport::roundTrips_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("GIFT") << "export-gift";
    QTest::newRow("Moodle XML") << "export-moodle";
}

void TestImport::roundTrips() {
    QFETCH(QString, command);
    // From seed 9 on, several options may be correct, at 12 all of them, which only --lenient
    // imports.
    for (quint32 seed = 1; seed <= 12; ++seed) {
        QRandomGenerator random(seed);
        QTemporaryDir dir;
        const QString first = dir.filePath("a.mdb"), second = dir.filePath("b.mdb");
        const QString file = dir.filePath("out.file");
        Questions questions(size_t(random.bounded(1, 12)));
        for (Question& q : questions) {
            q.text = randomText(random);
            for (auto* list : {&q.options, &q.explanations}) {
                const int correct = seed == 12 ? 15
                                    : seed > 8 ? random.bounded(1, 16)
                                               : 1 << random.bounded(4);
                for (int k = 0; k < 4; ++k)
                    list->push_back({randomText(random), (correct >> k & 1) != 0});
            }
        }
        createBank(first);
        importQuestions(first, questions, true);
        createBank(second);
        const Run exported = tool({command, first, file});
        QVERIFY2(exported.code == kExitOk, qPrintable(exported.err));
        const Run imported = tool(QStringList{"import", second, file, "--allow-duplicates"} +
                                  (seed > 8 ? QStringList{"--lenient"} : QStringList{}));
        QVERIFY2(imported.code == kExitOk, qPrintable(imported.err));
        QCOMPARE(questionsOf(readBank(second)), questions);
    }
    // A bank Moodle cannot take is refused whole, naming the question.
    QTemporaryDir dir;
    const QString bank = dir.filePath("c.mdb"), file = dir.filePath("out.file");
    createBank(bank);
    importQuestions(bank, {{"Без верного", four({"a", "b", "c", "d"}, 0), {}}});
    const Run refused = tool({command, bank, file});
    QCOMPARE(refused.code, kExitFailure);
    QVERIFY2(refused.err.contains(QStringLiteral("Вопрос id 1 «Без верного»: нет верного "
                                                 "варианта ответа, пояснений меньше двух")),
             qPrintable(refused.err));
    QVERIFY(!QFile::exists(file));
}

QTEST_MAIN(TestImport)
#include "tst_import.moc"
