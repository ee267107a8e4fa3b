// The windows' common behaviour: placement, closing, fonts.
#include "data/Errors.h"
#include "toolkit/Form.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

using namespace toolkit;

class TestForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { registerFonts(); }
    void init() { seam::arm(); }
    void cleanup() {
        QCOMPARE(seam::unexpectedBoxes(), 0);
        seam::disarm();
    }

    void centredOnFirstShowThenKeepsItsPlace() {
        TForm form(QStringLiteral("Окно"), clientSizeForOuter(QSize(391, 180)), QPalette::Button);
        QCOMPARE(form.size(), QSize(375, 141));
        QVERIFY(!form.isVisible());
        form.show();
        const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
        // The framed window, 391 x 180, is what is centred.
        QCOMPARE(form.pos(), QPoint(desktop.x() + (desktop.width() - 391) / 2,
                                    desktop.y() + (desktop.height() - 180) / 2));
        form.move(10, 20);
        form.close();
        QVERIFY(!form.isVisible());
        form.show();
        QCOMPARE(form.pos(), QPoint(10, 20));
    }

    void closingHidesAndRunsTheCloseHandler() {
        TForm form(QStringLiteral("Окно"), QSize(100, 100), QPalette::Window);
        int closed = 0;
        form.OnClose = guarded([&] { ++closed; });
        form.show();
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
        QCOMPARE(closed, 1);
        // A failing close handler is reported; the window is hidden all the same.
        form.OnClose = guarded([] { throw EDatabaseError(QStringLiteral("Vopros: сбой")); });
        form.show();
        seam::pushAnswer(ModalResult::OK);
        form.close();
        QVERIFY(!form.isVisible());
        QCOMPARE(seam::shown().size(), size_t(1));
        QCOMPARE(seam::shown()[0].text, QStringLiteral("Vopros: сбой."));
    }

    void anyErrorIsReportedAtTheHandlerBoundary() {
        // Errors that are not the program's own still reach the error box.
        seam::pushAnswer(ModalResult::OK);
        seam::pushAnswer(ModalResult::OK);
        guarded([] { throw std::runtime_error("bad_alloc"); })();
        guarded([] { throw 42; })();
        QCOMPARE(seam::shown().size(), size_t(2));
        QCOMPARE(seam::shown()[0].text, QStringLiteral("bad_alloc."));
        QCOMPARE(seam::shown()[1].text, QString());
    }

    void tahomaFonts() {
        const QFontInfo window(windowFont());
        QCOMPARE(window.family(), QStringLiteral("Tahoma"));
        QCOMPARE(window.pixelSize(), 11);
        const QFontInfo heading(headingFont());
        QCOMPARE(heading.family(), QStringLiteral("Tahoma"));
        QCOMPARE(heading.pixelSize(), 13);
        QVERIFY(heading.bold());
        QCOMPARE(headingColor(), QColor(128, 0, 128));
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
