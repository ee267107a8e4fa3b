// The message boxes as a user meets them: keys, close box, buttons, Ctrl+C, placement, and the
// texts of the error boxes.
#include "data/Errors.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <dlfcn.h>
#include <functional>

using namespace toolkit;

Q_DECLARE_METATYPE(toolkit::ModalResult)

namespace {

QDialog* openBox() {
    return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

// Opens a real box with `show`, lets `drive` act on it once it is up, and returns what the box
// returned. A box still open after `drive` is closed by its close box, so a test never hangs.
ModalResult runReal(const std::function<ModalResult()>& show,
                    const std::function<void(QDialog*)>& drive, bool* stayedOpen = nullptr) {
    bool reached = false;
    QTimer::singleShot(0, qApp, [&] {
        QDialog* box = openBox();
        if (!box)
            return;
        reached = true;
        box->activateWindow();
        if (!QTest::qWaitForWindowActive(box))
            qWarning("the box did not become active");
        drive(box);
        QApplication::processEvents();
        if (stayedOpen)
            *stayedOpen = box->isVisible();
        if (box->isVisible())
            box->close();
    });
    const ModalResult result = show();
    if (!reached)
        qWarning("the box never opened");
    return result;
}

QWidget* keyTarget(QDialog* box) {
    return box->focusWidget() ? box->focusWidget() : box;
}

std::vector<QPushButton*> buttonsLeftToRight(QDialog* box) {
    auto list = box->findChildren<QPushButton*>();
    std::vector<QPushButton*> buttons(list.begin(), list.end());
    std::sort(buttons.begin(), buttons.end(),
              [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    return buttons;
}

enum Key { Enter, Escape, CloseBox, AltF4 };

} // namespace

class TestMessageBox : public QObject {
    Q_OBJECT
private slots:
    void init() { seam::disarm(); }
    void cleanup() {
        QVERIFY(!QApplication::activeModalWidget());
        seam::disarm();
    }

    void keysAgainstButtonSets_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<ModalResult>("result");
        struct Row {
            const char* name;
            int buttons;
            int key;
            bool closes;
            ModalResult result;
        };
        const Row rows[] = {
            {"Yes: Enter", mbYes, Enter, true, ModalResult::Yes},
            {"Yes: Esc does nothing", mbYes, Escape, false, ModalResult::Cancel},
            {"Yes: close box", mbYes, CloseBox, true, ModalResult::Cancel},
            {"Yes: Alt+F4", mbYes, AltF4, true, ModalResult::Cancel},
            {"YesNo: Enter", mbYes | mbNo, Enter, true, ModalResult::Yes},
            {"YesNo: Esc", mbYes | mbNo, Escape, true, ModalResult::No},
            {"YesNo: close box", mbYes | mbNo, CloseBox, true, ModalResult::Cancel},
            {"YesNo: Alt+F4", mbYes | mbNo, AltF4, true, ModalResult::Cancel},
            {"OKCancel: Enter", mbOK | mbCancel, Enter, true, ModalResult::OK},
            {"OKCancel: Esc", mbOK | mbCancel, Escape, true, ModalResult::Cancel},
            {"OKCancel: close box", mbOK | mbCancel, CloseBox, true, ModalResult::Cancel},
            {"OK: Esc", mbOK, Escape, true, ModalResult::OK},
            {"YesOK: Enter takes OK", mbYes | mbOK, Enter, true, ModalResult::OK},
            {"YesNoCancel: Esc takes Cancel", mbYes | mbNo | mbCancel, Escape, true,
             ModalResult::Cancel},
        };
        for (const Row& row : rows)
            QTest::newRow(row.name) << row.buttons << row.key << row.closes << row.result;
    }
    void keysAgainstButtonSets() {
        QFETCH(int, buttons);
        QFETCH(int, key);
        QFETCH(bool, closes);
        QFETCH(ModalResult, result);
        bool stayedOpen = false;
        const ModalResult got =
            runReal([&] { return MessageDlg(QStringLiteral("Вопрос?"), buttons); },
                    [&](QDialog* box) {
                        switch (key) {
                        case Enter:
                            QTest::keyClick(keyTarget(box), Qt::Key_Return);
                            break;
                        case Escape:
                            QTest::keyClick(keyTarget(box), Qt::Key_Escape);
                            break;
                        case CloseBox:
                            box->close();
                            break;
                        case AltF4:
                            QTest::keyClick(keyTarget(box), Qt::Key_F4, Qt::AltModifier);
                            break;
                        }
                    },
                    &stayedOpen);
        QCOMPARE(stayedOpen, !closes);
        QCOMPARE(got, result);
    }

    void buttonsInOrderCentredWithCaptions() {
        std::vector<QString> captions;
        int leftGap = -1, rightGap = -1;
        QString title, iconText;
        bool hasIcon = false;
        runReal(
            [] { return MessageDlg(QStringLiteral("Удалить?"), mbCancel | mbOK | mbNo | mbYes); },
            [&](QDialog* box) {
                title = box->windowTitle();
                iconText = box->windowIconText();
                hasIcon = box->findChild<QLabel*>(QStringLiteral("Icon")) != nullptr;
                const auto buttons = buttonsLeftToRight(box);
                for (QPushButton* b : buttons)
                    captions.push_back(b->text());
                leftGap = buttons.front()->x();
                rightGap = box->width() - buttons.back()->geometry().right() - 1;
            });
        QCOMPARE(title, QStringLiteral("Confirm"));
        QCOMPARE(iconText, applicationTitle());
        QVERIFY(hasIcon);
        const std::vector<QString> expected{QStringLiteral("&Yes"), QStringLiteral("&No"),
                                            QStringLiteral("OK"), QStringLiteral("Cancel")};
        QCOMPARE(captions, expected);
        QVERIFY2(std::abs(leftGap - rightGap) <= 1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(leftGap).arg(rightGap)));
    }

    void accessKeysPressButtons_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<ModalResult>("result"); // None: the box stays open
        QTest::newRow("Alt+N") << int(mbYes | mbNo) << int(Qt::Key_N) << int(Qt::AltModifier)
                               << ModalResult::No;
        QTest::newRow("N alone") << int(mbYes | mbNo) << int(Qt::Key_N) << int(Qt::NoModifier)
                                 << ModalResult::No;
        QTest::newRow("Y alone") << int(mbYes | mbNo) << int(Qt::Key_Y) << int(Qt::NoModifier)
                                 << ModalResult::Yes;
        QTest::newRow("Y alone, the grade's box")
            << int(mbYes) << int(Qt::Key_Y) << int(Qt::NoModifier) << ModalResult::Yes;
        QTest::newRow("a letter of no button")
            << int(mbOK | mbCancel) << int(Qt::Key_Y) << int(Qt::NoModifier) << ModalResult::None;
    }
    void accessKeysPressButtons() {
        QFETCH(int, buttons);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(ModalResult, result);
        bool stayedOpen = false;
        const ModalResult got = runReal(
            [&] { return MessageDlg(QStringLiteral("?"), buttons); },
            [&](QDialog* box) {
                QTest::keyClick(keyTarget(box), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
                // A mnemonic presses its button with a short animation.
                if (result != ModalResult::None)
                    QVERIFY(QTest::qWaitFor([box] { return !box->isVisible(); }, 1000));
            },
            &stayedOpen);
        QCOMPARE(stayedOpen, result == ModalResult::None);
        if (result != ModalResult::None)
            QCOMPARE(got, result);
    }

    void plainAndErrorBoxesCloseByEveryMeans_data() {
        QTest::addColumn<bool>("error");
        QTest::addColumn<int>("key");
        for (bool error : {false, true}) {
            const char* kind = error ? "error" : "plain";
            QTest::addRow("%s: Enter", kind) << error << int(Enter);
            QTest::addRow("%s: Esc", kind) << error << int(Escape);
            QTest::addRow("%s: close box", kind) << error << int(CloseBox);
        }
    }
    void plainAndErrorBoxesCloseByEveryMeans() {
        QFETCH(bool, error);
        QFETCH(int, key);
        bool stayedOpen = true;
        QString title;
        bool hasIcon = true;
        std::vector<QString> captions;
        runReal(
            [&] {
                if (error)
                    ShowErrorBox(QStringLiteral("Сбой"));
                else
                    ShowMessage(QStringLiteral("Готово"));
                return ModalResult::None;
            },
            [&](QDialog* box) {
                title = box->windowTitle();
                hasIcon = box->findChild<QLabel*>(QStringLiteral("Icon")) != nullptr;
                for (QPushButton* b : buttonsLeftToRight(box))
                    captions.push_back(b->text());
                if (key == Enter)
                    QTest::keyClick(keyTarget(box), Qt::Key_Return);
                else if (key == Escape)
                    QTest::keyClick(keyTarget(box), Qt::Key_Escape);
                else
                    box->close();
            },
            &stayedOpen);
        QVERIFY(!stayedOpen);
        QCOMPARE(title, applicationTitle());
        QCOMPARE(hasIcon, error);
        QCOMPARE(captions, std::vector<QString>{QStringLiteral("OK")});
    }

    void ctrlCCopiesTitleTextAndCaptions() {
        QGuiApplication::clipboard()->clear();
        bool stayedOpen = false;
        runReal(
            [] { return MessageDlg(QStringLiteral("Удалить запись?"), mbYes | mbNo); },
            [](QDialog* box) { QTest::keyClick(keyTarget(box), Qt::Key_C, Qt::ControlModifier); },
            &stayedOpen);
        QVERIFY(stayedOpen);
        const QString dashes(27, QLatin1Char('-'));
        const QString expected = dashes + "\nConfirm\n" + dashes +
                                 QStringLiteral("\nУдалить запись?\n") + dashes +
                                 "\nYes   No   \n" + dashes + "\n";
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);

        runReal(
            [] {
                ShowMessage(QStringLiteral("Итог"));
                return ModalResult::None;
            },
            [](QDialog* box) { QTest::keyClick(keyTarget(box), Qt::Key_C, Qt::ControlModifier); });
        QCOMPARE(QGuiApplication::clipboard()->text(), dashes + "\n" + applicationTitle() + "\n" +
                                                           dashes + QStringLiteral("\nИтог\n") +
                                                           dashes + "\nOK   \n" + dashes + "\n");
    }

    void loneCarriageReturnBreaksTheLine() {
        QString shown;
        int oneLineHeight = 0, twoLineHeight = 0;
        runReal(
            [] {
                ShowMessage(QStringLiteral("Одна строка"));
                return ModalResult::None;
            },
            [&](QDialog* box) { oneLineHeight = box->findChild<QLabel*>("Message")->height(); });
        runReal(
            [] {
                ShowMessage(QStringLiteral("Вы набрали 12 баллов\rОценка: 4"));
                return ModalResult::None;
            },
            [&](QDialog* box) {
                auto* label = box->findChild<QLabel*>("Message");
                shown = label->text();
                twoLineHeight = label->height();
            });
        QCOMPARE(shown, QStringLiteral("Вы набрали 12 баллов\nОценка: 4"));
        QVERIFY(twoLineHeight > oneLineHeight);
    }

    void sizedToTextAndCentred() {
        // The box as the platform frames it is centred, whatever frame that is.
        QRect shortBox, longBox, wrapped;
        QRect shortFrame, longFrame;
        runReal([] { return MessageDlg(QStringLiteral("Да?"), mbYes); },
                [&](QDialog* box) {
                    shortBox = box->geometry();
                    shortFrame = box->frameGeometry();
                });
        runReal([] { return MessageDlg(QString(60, QLatin1Char('W')), mbYes); },
                [&](QDialog* box) {
                    longBox = box->geometry();
                    longFrame = box->frameGeometry();
                });
        QVERIFY(longBox.width() > shortBox.width());
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        for (const QRect& frame : {shortFrame, longFrame}) {
            QCOMPARE(frame.x(), screen.x() + (screen.width() - frame.width()) / 2);
            QCOMPARE(frame.y(), screen.y() + (screen.height() - frame.height()) / 2);
        }
        // A long sentence wraps at half the screen instead of running off it.
        QString sentence;
        for (int i = 0; i < 80; ++i)
            sentence += QStringLiteral("слово ");
        runReal([&] { return MessageDlg(sentence, mbYes); },
                [&](QDialog* box) { wrapped = box->geometry(); });
        QVERIFY(wrapped.width() < screen.width() * 3 / 4);
        QVERIFY(wrapped.height() > shortBox.height());
    }

    void errorBoxFullStopRule_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("letter") << "Vopros: Field 'id' not found"
                                << "Vopros: Field 'id' not found.";
        QTest::newRow("full stop") << "Готово."
                                   << "Готово.";
        QTest::newRow("exclamation below the stop") << "Ошибка!"
                                                    << "Ошибка!";
        QTest::newRow("closing parenthesis below") << "(ошибка)"
                                                   << "(ошибка)";
        QTest::newRow("dash below") << "a -"
                                    << "a -";
        QTest::newRow("slash above") << "a/"
                                     << "a/.";
        QTest::newRow("question mark above") << "Что?"
                                             << "Что?.";
        QTest::newRow("digit") << "code 14"
                               << "code 14.";
        QTest::newRow("trailing space") << "a "
                                        << "a ";
    }
    void errorBoxFullStopRule() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(errorBoxText(message), shown);
        seam::arm();
        seam::pushAnswer(ModalResult::OK);
        ShowException(EDatabaseError(message));
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown()[0].kind, ShownBox::Kind::Error);
        QCOMPARE(seam::shown()[0].text, shown);
    }

    void startupErrorText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("tail");
        QTest::newRow("no stop") << "unable to open database file"
                                 << "unable to open database file.";
        QTest::newRow("stop kept") << "Готово."
                                   << "Готово.";
        // Unlike the error box, any last character but the stop gets one.
        QTest::newRow("exclamation") << "Сбой!"
                                     << "Сбой!.";
        QTest::newRow("empty") << QString() << QString();
    }
    void startupErrorText() {
        QFETCH(QString, message);
        QFETCH(QString, tail);
        try {
            throw EEngineError(message, 14);
        } catch (const EEngineError& error) {
            Dl_info info{};
            QVERIFY(dladdr(error.raiseAddress(), &info) != 0);
            const auto offset = quintptr(error.raiseAddress()) - quintptr(info.dli_fbase);
            const QString expected =
                QStringLiteral("Exception EEngineError in module %1 at %2.\r\n%3\r\n")
                    .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                         QString::number(offset, 16).toUpper().rightJustified(8, QLatin1Char('0')),
                         tail);
            QCOMPARE(toolkit::startupErrorText(error), expected);
        }
    }

    void startupErrorBoxTitleAndButton() {
        QString title, text;
        std::vector<QString> captions;
        bool hasParent = true, stayedOpen = true;
        runReal(
            [] {
                ShowStartupError(EEngineError(QStringLiteral("unable to open database file"), 14));
                return ModalResult::None;
            },
            [&](QDialog* box) {
                title = box->windowTitle();
                text = box->findChild<QLabel*>("Message")->text();
                hasParent = box->parentWidget() != nullptr;
                for (QPushButton* b : buttonsLeftToRight(box))
                    captions.push_back(b->text());
                QTest::keyClick(keyTarget(box), Qt::Key_Return);
            },
            &stayedOpen);
        QVERIFY(!stayedOpen);
        QVERIFY(!hasParent);
        QCOMPARE(title, QStringLiteral("Application Error"));
        QVERIFY(text.startsWith(QStringLiteral("Exception EEngineError in module ")));
        QVERIFY(text.contains(QStringLiteral("\nunable to open database file.")));
        QCOMPARE(captions, std::vector<QString>{QStringLiteral("OK")});
    }

    void applicationTitleRule_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("installed") << "/usr/bin/infotest"
                                   << "infotest";
        QTest::newRow("first dot on") << "/opt/InfoTEST.v2.bin"
                                      << "Infotest";
        QTest::newRow("first letter kept") << "quiz"
                                           << "quiz";
        QTest::newRow("cyrillic") << "/x/ТЕСТ.exe" << QStringLiteral("Тест");
    }
    void applicationTitleRule() {
        QFETCH(QString, file);
        QFETCH(QString, title);
        QCOMPARE(applicationTitle(file), title);
    }

    void seamAnswersInOrderAndCatchesStrayBoxes() {
        seam::arm();
        seam::pushAnswer(ModalResult::No);
        seam::pushAnswer(ModalResult::OK);
        QCOMPARE(MessageDlg(QStringLiteral("a\rb"), mbYes | mbNo), ModalResult::No);
        ShowMessage(QStringLiteral("m"));
        QCOMPARE(seam::pendingAnswers(), 0);
        QCOMPARE(seam::unexpectedBoxes(), 0);
        ShowErrorBox(QStringLiteral("stray"));
        QCOMPARE(seam::unexpectedBoxes(), 1);
        const auto& shown = seam::shown();
        QCOMPARE(shown.size(), size_t(3));
        QCOMPARE(shown[0].kind, ShownBox::Kind::Confirmation);
        QCOMPARE(shown[0].text, QStringLiteral("a\rb"));
        QCOMPARE(shown[0].buttons, (std::vector<QString>{"&Yes", "&No"}));
        QCOMPARE(shown[1].kind, ShownBox::Kind::Message);
        QCOMPARE(shown[2].text, QStringLiteral("stray."));
    }
};

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
