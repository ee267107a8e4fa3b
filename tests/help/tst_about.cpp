#include "app/Unit1.h"
#include "help/Instructions.h"
#include "help/Unit3.h"
#include "toolkit/Form.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

// The help window as the main menu opens it: its controls, what it shows, and how it goes.
class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void windowAndControlsAreAsDesigned();
    void pictureIsShownUnscaledFromTheTopLeft();
    void resizingMovesAndStretchesNothing();
    void closingOnlyHidesAndBringsTheMainMenuBack_data();
    void closingOnlyHidesAndBringsTheMainMenuBack();
    void everyShowingShowsTheSameWindowAndPicture();
};

void TestAbout::initTestCase() {
    toolkit::registerFonts();
    Form1 = new TForm1;
    about = new Tabout;
}

void TestAbout::cleanupTestCase() {
    delete about;
    about = nullptr;
    delete Form1;
    Form1 = nullptr;
}

void TestAbout::cleanup() {
    about->hide();
    about->resize(642, 452);
    Form1->hide();
}

void TestAbout::windowAndControlsAreAsDesigned() {
    QCOMPARE(about->windowTitle(), QStringLiteral("Справка"));
    QCOMPARE(about->size(), QSize(642, 452));
    QVERIFY(about->isWindow());
    QVERIFY(!about->isModal());
    // The system's window colour, on which the white picture stands without a seam.
    QCOMPARE(about->backgroundRole(), QPalette::Base);
    QCOMPARE(about->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(about->font().pixelSize(), 11);

    auto* label = about->findChild<QLabel*>(QStringLiteral("Label1"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Инструкция по работе с программой."));
    QCOMPARE(label->pos(), QPoint(8, 8));
    QCOMPARE(label->font().pixelSize(), 13);
    QVERIFY(label->font().bold());
    // Drawn in purple, not just given a purple palette entry.
    about->show();
    const QImage heading = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int purple = 0;
    for (int y = 0; y < heading.height(); ++y)
        for (int x = 0; x < heading.width(); ++x)
            purple += (heading.pixel(x, y) & 0xffffff) == (qRgb(128, 0, 128) & 0xffffff);
    QVERIFY(purple > 50);
    // It fits its text: nothing is cut off, and it ends before the picture starts.
    QVERIFY(label->width() >= QFontMetrics(label->font()).horizontalAdvance(label->text()));
    QVERIFY(label->geometry().bottom() < 30);

    auto* image = about->findChild<QLabel*>(QStringLiteral("Image1"));
    QVERIFY(image);
    QCOMPARE(image->geometry(), QRect(8, 30, 626, 411));
    QVERIFY(!image->hasScaledContents());
    QCOMPARE(image->pixmap().size(), QSize(626, 416));
}

void TestAbout::pictureIsShownUnscaledFromTheTopLeft() {
    about->show();
    const QImage shown = about->Image1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(626, 411));
    const QImage expected =
        help::instructionPicture().copy(0, 0, 626, 411).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown, expected);
}

void TestAbout::resizingMovesAndStretchesNothing() {
    about->show();
    about->resize(1000, 800);
    QCoreApplication::processEvents();
    QCOMPARE(about->Label1->pos(), QPoint(8, 8));
    QCOMPARE(about->Image1->geometry(), QRect(8, 30, 626, 411));

    const QImage window = about->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(window.size(), QSize(1000, 800));
    const QImage picture = help::instructionPicture().convertToFormat(QImage::Format_RGB32);
    // The picture's first row and column where they were, and the window colour around.
    for (int x = 0; x < 626; x += 25)
        QCOMPARE(window.pixel(8 + x, 30 + 10), picture.pixel(x, 10));
    const QRgb background = about->palette().color(QPalette::Base).rgb();
    QCOMPARE(window.pixel(900, 100), background);
    QCOMPARE(window.pixel(300, 700), background);
    QCOMPARE(window.pixel(700, 30), background);

    about->resize(300, 200);
    QCoreApplication::processEvents();
    QCOMPARE(about->Image1->geometry(), QRect(8, 30, 626, 411));
}

void TestAbout::closingOnlyHidesAndBringsTheMainMenuBack_data() {
    QTest::addColumn<bool>("menuVisible");
    QTest::newRow("menu beside it") << true;
    QTest::newRow("menu hidden") << false;
}

void TestAbout::closingOnlyHidesAndBringsTheMainMenuBack() {
    QFETCH(bool, menuVisible);
    Form1->setVisible(menuVisible);
    about->show();
    QVERIFY(about->isVisible());
    QPointer<Tabout> window = about;
    QVERIFY(about->close());
    QVERIFY(window);
    QVERIFY(!about->isVisible());
    QVERIFY(Form1->isVisible());
}

void TestAbout::everyShowingShowsTheSameWindowAndPicture() {
    about->show();
    const QPoint position = about->pos();
    const QImage first = about->Image1->grab().toImage();
    about->close();
    about->move(position + QPoint(20, 10));
    about->show();
    QCOMPARE(about->pos(), position + QPoint(20, 10));
    QCOMPARE(about->Image1->grab().toImage(), first);
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(),
                           [](QWidget* w) { return qobject_cast<Tabout*>(w) != nullptr; }),
             1);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
