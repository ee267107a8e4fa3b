// The main menu and the navigation between the windows, start-up and its failures, and the end
// of the program, driven in-process as a user would.
#include "app/Startup.h"
#include "app/Unit1.h"
#include "data/DM.h"
#include "data/Errors.h"
#include "editor/Unit2.h"
#include "help/Unit3.h"
#include "testing/testirovanie.h"
#include "tests/support/BadBanks.h"
#include "tests/support/BankFixture.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <thread>

using namespace toolkit;
using testsupport::BankFixture;

namespace {

// Counts the top-level windows that get shown: start-up must show none before the main menu.
class ShowCounter : public QObject {
public:
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            ++shown;
        return false;
    }
};

void click(QRadioButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

} // namespace

class TestMainMenu : public QObject {
    Q_OBJECT
private slots:
    void init() {
        seam::disarm();
        seam::arm();
    }
    void cleanup() {
        if (Form1)
            destroyProgram();
        bank_.reset();
        QCOMPARE(seam::unexpectedBoxes(), 0);
        seam::disarm();
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->windowTitle()));
    }

    void startsWithOnlyTheMainMenu() {
        start();
        QVERIFY(Form1 && DataModule2 && testi && Edittest && about);
        QVERIFY(Form1->isVisible());
        QVERIFY(!testi->isVisible() && !Edittest->isVisible() && !about->isVisible());
        for (QRadioButton* b : {Form1->RadioButton1, Form1->RadioButton2, Form1->RadioButton3})
            QVERIFY(!b->isChecked());
        QCOMPARE(Form1->windowTitle(), QStringLiteral("Тесты по информатике"));
        QCOMPARE(Form1->size(), QSize(383, 146));
        QCOMPARE(Form1->GroupBox1->geometry(), QRect(8, 8, 369, 129));
        QCOMPARE(Form1->GroupBox1->title(), QStringLiteral("Выберите действие"));
        QCOMPARE(Form1->RadioButton1->geometry(), QRect(16, 24, 113, 17));
        QCOMPARE(Form1->RadioButton2->geometry(), QRect(16, 63, 161, 17));
        QCOMPARE(Form1->RadioButton3->geometry(), QRect(16, 103, 161, 17));
        QCOMPARE(Form1->RadioButton2->text(), QStringLiteral("Редактирование теста"));
        QCOMPARE(Form1->font().pixelSize(), 11);
        // Tab order follows the entries.
        QCOMPARE(Form1->RadioButton1->nextInFocusChain(), Form1->RadioButton2);
        QCOMPARE(testi->size(), QSize(647, 433));
        QCOMPARE(Edittest->size(), QSize(694, 581));
        QCOMPARE(about->size(), QSize(642, 452));
        // A taskbar groups the windows under the program's name and finds its desktop entry.
        QCOMPARE(QApplication::applicationName(), applicationTitle());
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("infotest"));
        for (QWidget* window : {static_cast<QWidget*>(Form1), static_cast<QWidget*>(testi),
                                static_cast<QWidget*>(Edittest), static_cast<QWidget*>(about)})
            QCOMPARE(window->windowIconText(), applicationTitle());
    }

    // Every control the user can see lies inside its window's client area.
    void everyControlInsideItsWindow_data() {
        QTest::addColumn<QString>("window");
        for (const char* name : {"Form1", "testi", "Edittest", "about"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void everyControlInsideItsWindow() {
        QFETCH(QString, window);
        start();
        QWidget* shown = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == window)
                shown = w;
        QVERIFY(shown);
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        const auto children = shown->findChildren<QWidget*>();
        QVERIFY(!children.isEmpty());
        for (QWidget* child : children) {
            if (!child->isVisibleTo(shown))
                continue;
            const QRect inWindow(child->mapTo(shown, QPoint(0, 0)), child->size());
            QVERIFY2(shown->rect().contains(inWindow),
                     qPrintable(QStringLiteral("%1 at %2,%3 %4 x %5 in %6 x %7")
                                    .arg(child->objectName())
                                    .arg(inWindow.x())
                                    .arg(inWindow.y())
                                    .arg(inWindow.width())
                                    .arg(inWindow.height())
                                    .arg(shown->width())
                                    .arg(shown->height())));
        }
    }

    void checkedEntryClickedAgainDoesNothing() {
        start();
        click(Form1->RadioButton3);
        QVERIFY(about->isVisible());
        QVERIFY(Form1->isVisible());
        about->close();
        QVERIFY(!about->isVisible());
        QVERIFY(Form1->isVisible());
        QVERIFY(Form1->RadioButton3->isChecked());
        click(Form1->RadioButton3);
        QVERIFY(!about->isVisible());

        click(Form1->RadioButton1);
        QVERIFY(testi->isVisible());
        QVERIFY(!Form1->isVisible());
        testi->close();
        QVERIFY(Form1->isVisible());
        QVERIFY(Form1->RadioButton1->isChecked());
        // After a test, "Начать тест" again starts nothing.
        click(Form1->RadioButton1);
        QVERIFY(!testi->isVisible());
        QVERIFY(Form1->isVisible());
        // Another entry first, then the test again.
        click(Form1->RadioButton3);
        click(Form1->RadioButton1);
        QVERIFY(testi->isVisible());
        QVERIFY(!Form1->isVisible());
    }

    void entriesChosenFromTheKeyboard() {
        start();
        Form1->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(Form1));
        Form1->RadioButton2->setFocus();
        QTest::keyClick(Form1->RadioButton2, Qt::Key_Space);
        QVERIFY(Form1->RadioButton2->isChecked());
        QVERIFY(Edittest->isVisible());
        QVERIFY(!Form1->isVisible());
        Edittest->close();
        QVERIFY(Form1->isVisible());
        Form1->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(Form1));
        // The arrow moves to the next entry and chooses it.
        Form1->RadioButton2->setFocus();
        QTest::keyClick(Form1->RadioButton2, Qt::Key_Down);
        QVERIFY(Form1->RadioButton3->isChecked());
        QVERIFY(!Form1->RadioButton2->isChecked());
        QVERIFY(about->isVisible());
        QVERIFY(Form1->isVisible());
        QTest::keyClick(Form1->RadioButton3, Qt::Key_Up);
        QVERIFY(Form1->RadioButton2->isChecked());
        QVERIFY(!Form1->isVisible());
    }

    void severalWindowsOpenAtOnce() {
        start();
        click(Form1->RadioButton3);
        click(Form1->RadioButton1);
        // The help window stays; the main menu hides after the draw.
        QVERIFY(about->isVisible());
        QVERIFY(testi->isVisible());
        QVERIFY(!Form1->isVisible());
        about->close();
        QVERIFY(Form1->isVisible());
        QVERIFY(testi->isVisible());
        QVERIFY(Form1->RadioButton1->isChecked());
        click(Form1->RadioButton2);
        QVERIFY(Edittest->isVisible());
        QVERIFY(testi->isVisible());
        QVERIFY(!Form1->isVisible());
        // The test window, still open, is brought back by choosing the test again.
        Edittest->close();
        click(Form1->RadioButton3);
        click(Form1->RadioButton1);
        QVERIFY(testi->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(testi));
    }

    void closingTheMainMenuEndsTheProgramAtOnce() {
        start();
        click(Form1->RadioButton3);
        click(Form1->RadioButton1);
        about->close();
        click(Form1->RadioButton2);
        Edittest->close();
        // Testing and editor windows... the editor closed; the testing window still open.
        QVERIFY(testi->isVisible());
        QVERIFY(Form1->isVisible());
        QTimer::singleShot(0, Form1, [] { Form1->close(); });
        QCOMPARE(QApplication::exec(), 0);
        // The testing window's close handler did not run: it would have brought the menu back.
        QVERIFY(!Form1->isVisible());
        QVERIFY(testi->isVisible());
        // After the event loop a box still works (an error while posting at the end shows one).
        seam::disarm();
        bool answered = false;
        QTimer::singleShot(0, qApp, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                answered = true;
                box->close();
            }
        });
        ShowErrorBox(QStringLiteral("после цикла"));
        QVERIFY(answered);
        seam::arm();
        destroyProgram();
        QVERIFY(!Form1 && !testi && !Edittest && !about && !DataModule2);
    }

    void errorInAHandlerLeavesTheProgramWorking() {
        start();
        // An extra control wired the way every window wires its handlers.
        auto* button = new QPushButton(QStringLiteral("x"), Form1);
        int done = 0;
        QObject::connect(button, &QPushButton::clicked, button, guarded([&done] {
                             ++done;
                             throw EDatabaseError(QStringLiteral("Vopros: Поле недоступно"));
                         }));
        seam::pushAnswer(ModalResult::OK);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(done, 1);
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown()[0].kind, ShownBox::Kind::Error);
        QCOMPARE(seam::shown()[0].title, applicationTitle());
        QCOMPARE(seam::shown()[0].text, QStringLiteral("Vopros: Поле недоступно."));
        // The next events are handled as usual.
        seam::pushAnswer(ModalResult::OK);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(done, 2);
        click(Form1->RadioButton3);
        QVERIFY(about->isVisible());
    }

    void errorEscapingAnEventReachesTheLastNet() {
        // An error thrown straight from an event delivery, with no guard in between.
        class Thrower : public QObject {
        public:
            bool event(QEvent* e) override {
                if (e->type() == QEvent::User)
                    throw EEngineError(QStringLiteral("disk I/O error"), 10);
                return QObject::event(e);
            }
        } thrower;
        seam::pushAnswer(ModalResult::OK);
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event);
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown()[0].text, QStringLiteral("disk I/O error."));
    }

    void failedDrawLeavesTheMainMenuUp() {
        bank_ = std::make_unique<BankFixture>();
        bank_->addStandardQuestions(12);
        QVERIFY(createProgram());
        Form1->show();
        // Another program deletes a question after it was read: renumbering it fails (one it
        // only changed is read again and numbered).
        bank_->exec(QStringLiteral("DELETE FROM \"Т_Вопросы\" WHERE id = 1"));
        seam::pushAnswer(ModalResult::OK);
        click(Form1->RadioButton1);
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown()[0].kind, ShownBox::Kind::Error);
        QVERIFY2(seam::shown()[0].text.startsWith(QStringLiteral("Row cannot be located")),
                 qPrintable(seam::shown()[0].text));
        QVERIFY(testi->isVisible());
        QVERIFY(Form1->isVisible());
        QVERIFY(Form1->RadioButton1->isChecked());
        // The draw gave its refused edit up: nothing is left pending to fail at the end.
        destroyProgram();
        QCOMPARE(seam::shown().size(), size_t(1));
    }

    void startupFailures_data() { testsupport::addBadBankRows(); }
    void startupFailures() {
        QFETCH(QString, recipe);
        QFETCH(QString, message);
        bank_ = std::make_unique<BankFixture>(false);
        QVERIFY(testsupport::makeBadBank(bank_->dir(), recipe));
        ShowCounter counter;
        qApp->installEventFilter(&counter);
        seam::pushAnswer(ModalResult::OK);
        const bool started = createProgram();
        qApp->removeEventFilter(&counter);
        QVERIFY(!started);
        QCOMPARE(counter.shown, 0);
        QVERIFY(!Form1 && !DataModule2 && !testi);
        QCOMPARE(seam::shown().size(), size_t(1));
        const ShownBox& box = seam::shown()[0];
        QCOMPARE(box.kind, ShownBox::Kind::StartupError);
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QCOMPARE(box.buttons, std::vector<QString>{QStringLiteral("OK")});
        // The error is raised in the program's own code.
        const QRegularExpression form(
            QStringLiteral("^Exception (\\w+) in module %1 at [0-9A-F]{8}\\.\\r\\n(.*)\\r\\n$")
                .arg(QRegularExpression::escape(
                    QFileInfo(QCoreApplication::applicationFilePath()).fileName())),
            QRegularExpression::DotMatchesEverythingOption);
        const auto match = form.match(box.text);
        QVERIFY2(match.hasMatch(), qPrintable(box.text));
        QCOMPARE(match.captured(2), message + QLatin1Char('.'));
    }

    // A pooler (or server) not yet listening when the program starts, as at a lesson's start
    // while it restarts: tried again for a few seconds, then the start-up box says where to look.
    void serverNotListeningAtStartup_data() {
        QTest::addColumn<int>("listensAfterMs");
        QTest::newRow("listening a second later") << 1000;
        QTest::newRow("never listening") << -1;
    }
    void serverNotListeningAtStartup() {
        QFETCH(int, listensAfterMs);
        if (const QString why = testsupport::PgBouncer::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        bank_ = std::make_unique<BankFixture>(true, testsupport::BankEngine::Server);
        bank_->addStandardQuestions(12);
        testsupport::PgBouncer pooler(testsupport::PgServer::shared(), {"postgres"});
        pooler.stop();
        qputenv("INFOTEST_BANK_URL", pooler.url().toUtf8());
        std::thread listening([&] {
            if (listensAfterMs < 0)
                return;
            QThread::msleep(ulong(listensAfterMs));
            pooler.start();
        });
        if (listensAfterMs < 0)
            seam::pushAnswer(ModalResult::OK);
        const bool started = createProgram();
        listening.join();
        QCOMPARE(started, listensAfterMs >= 0);
        if (started) {
            QCOMPARE(DataModule2->Vopros.recordCount(), 12);
            return;
        }
        QCOMPARE(seam::shown().size(), size_t(1));
        QVERIFY2(seam::shown()[0].text.contains(
                     QStringLiteral("Сервер банка вопросов не принял соединение. Что проверить на "
                                    "сервере, сказано в разделе «Школьный сервер» файла README.")),
                 qPrintable(seam::shown()[0].text));
    }

    void pendingChangesPostedAtTheEnd() {
        start();
        DataModule2->Vopros.next();
        DataModule2->Vopros.edit();
        DataModule2->VoprosWideStringField->setValue(QStringLiteral("исправленный вопрос"));
        const auto questionId = DataModule2->Voprosid->value();
        DataModule2->Variant.edit();
        DataModule2->VariantWideStringField->setValue(QStringLiteral("исправленный ответ"));
        const auto id = DataModule2->Variantid->value();
        DataModule2->Obyasnenie.edit(); // in edit, changed nothing: nothing to write
        destroyProgram();
        QCOMPARE(
            bank_->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = ?"), {id}),
            QVariant(QStringLiteral("исправленный ответ")));
        QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" WHERE id = ?"),
                               {questionId}),
                 QVariant(QStringLiteral("исправленный вопрос")));
        QCOMPARE(seam::shown().size(), size_t(0));
    }

    void untouchedNewQuestionDroppedAtTheEnd() {
        start();
        DataModule2->Vopros.append();
        destroyProgram();
        QCOMPARE(bank_->count(QStringLiteral("Т_Вопросы")), 12);
        QCOMPARE(seam::shown().size(), size_t(0));
    }

    void failedPostAtTheEndShowsTheErrorAndEnds() {
        start();
        DataModule2->Variant.edit();
        DataModule2->VariantBooleanField->setValue(false);
        DataModule2->Obyasnenie.edit();
        DataModule2->ObyasnenieWideStringField->setValue(QStringLiteral("новое объяснение"));
        const auto id = DataModule2->Variantid->value();
        bank_->exec(QStringLiteral("UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка'"));
        seam::pushAnswer(ModalResult::OK);
        destroyProgram();
        QVERIFY(!Form1 && !DataModule2);
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown()[0].kind, ShownBox::Kind::Error);
        QVERIFY(seam::shown()[0].text.startsWith(QStringLiteral("Row cannot be located")));
        // The other tables were still posted.
        QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Объяснение\" FROM \"Т_Объяснение\" WHERE "
                                              "id = 1")),
                 QVariant(QStringLiteral("новое объяснение")));
        QCOMPARE(bank_
                     ->scalar(QStringLiteral("SELECT \"Правильный\" FROM \"Т_Вариант\" WHERE "
                                             "id = ?"),
                              {id})
                     .toInt(),
                 1);
    }

    // On a school's server a role that may not change the bank gets a box, not the editor, and
    // the menu stays.
    void editorRefusedToAReaderOfTheServer() {
        if (const QString why = testsupport::PgServer::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        bank_ = std::make_unique<BankFixture>(true, testsupport::BankEngine::Server);
        bank_->addStandardQuestions(12);
        bank_->exec(QStringLiteral("CREATE ROLE reader LOGIN; GRANT USAGE ON SCHEMA public TO "
                                   "reader; GRANT SELECT ON \"Т_Вопросы\", "
                                   "\"Т_Вариант\", \"Т_Объяснение\" TO reader"));
        qputenv("INFOTEST_BANK_URL",
                testsupport::PgServer::shared().url(QStringLiteral("reader")).toUtf8());
        QVERIFY(createProgram());
        Form1->show();
        seam::pushAnswer(ModalResult::OK);
        click(Form1->RadioButton2);
        QVERIFY(Form1->isVisible() && !Edittest->isVisible());
        QVERIFY(seam::shown().at(0).text.startsWith(QStringLiteral("Изменять банк вопросов")));
    }

private:
    void start() {
        bank_ = std::make_unique<BankFixture>();
        bank_->addStandardQuestions(12);
        QVERIFY(createProgram());
        Form1->show();
    }

    std::unique_ptr<BankFixture> bank_;
};

int main(int argc, char** argv) {
    // The program's own application object, with its last net for errors.
    Application application(argc, argv);
    setUpApplication();
    TestMainMenu test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainmenu.moc"
