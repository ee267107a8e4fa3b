// The windows' common behaviour: placement, closing, fonts.
#include "data/Errors.h"
#include "toolkit/Form.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWindow>

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
        QCOMPARE(form.size(), QSize(383, 146));
        QCOMPARE(form.windowIconText(), applicationTitle());
        QVERIFY(!form.isVisible());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // The window as the platform frames it is centred, whatever frame that is.
        const QRect desktop = form.screen()->availableGeometry();
        const auto centred = [&] {
            const QRect frame = form.frameGeometry();
            return frame.topLeft() - desktop.topLeft() ==
                   QPoint((desktop.width() - frame.width()) / 2,
                          (desktop.height() - frame.height()) / 2);
        };
        QTRY_VERIFY(centred());
        QCOMPARE(form.size(), QSize(383, 146));
        form.move(10, 20);
        form.close();
        QVERIFY(!form.isVisible());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.pos(), QPoint(10, 20));
    }

    void placementFromAGivenFrame_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QPoint>("clientPos");
        QTest::newRow("nominal frame") << QRect(0, 0, 1024, 768) << QSize(383, 146)
                                       << QMargins(4, 30, 4, 4) << QPoint(320, 324);
        QTest::newRow("thin frame, panel on top") << QRect(0, 24, 1280, 1000) << QSize(647, 433)
                                                  << QMargins(1, 22, 1, 1) << QPoint(316, 318);
        QTest::newRow("no frame") << QRect(0, 0, 800, 600) << QSize(642, 452) << QMargins()
                                  << QPoint(79, 74);
    }
    void placementFromAGivenFrame() {
        QFETCH(QRect, available);
        QFETCH(QSize, client);
        QFETCH(QMargins, frame);
        QFETCH(QPoint, clientPos);
        QCOMPARE(centredClientPos(available, client, frame), clientPos);
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
