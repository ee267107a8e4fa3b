// The testing window's radio buttons: captions wrapped inside their rectangles, and every way
// a pupil checks one (mouse, keyboard, access key) still working.
#include "toolkit/Form.h"
#include "toolkit/WrapRadioButton.h"

#include <QGroupBox>
#include <QImage>
#include <QPushButton>
#include <QtTest>
#include <memory>

using toolkit::WrapRadioButton;

namespace {

const QString kLong = QStringLiteral(
    "Процессор выполняет команды программы, хранящейся в оперативной памяти, и обменивается "
    "данными с устройствами ввода и вывода через системную шину; кэш ускоряет доступ к "
    "часто используемым данным, а регистры хранят промежуточные результаты вычислений, "
    "поэтому этот длинный текст не помещается даже в три строки пояснения");

// A group box with four buttons of the given height, as in the testing window.
struct Group {
    explicit Group(int height) {
        window.setFont(toolkit::windowFont());
        window.resize(640, 220);
        box = new QGroupBox(QStringLiteral("Группа"), &window);
        box->setGeometry(8, 8, 614, 200);
        for (int i = 0; i < 4; ++i) {
            buttons[i] = new WrapRadioButton(QStringLiteral("Вариант %1").arg(i + 1), box);
            buttons[i]->setGeometry(15, 24 + i * (height + 5), 570, height);
        }
        after = new QPushButton(QStringLiteral("Далее"), &window);
        after->setGeometry(8, 210, 75, 25);
        window.show();
        window.activateWindow();
    }
    QWidget window;
    QGroupBox* box;
    WrapRadioButton* buttons[4];
    QPushButton* after;
};

// Rows of the image that hold a dark pixel (text) in the given columns.
QList<int> inkedRows(const QImage& image, int fromX) {
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y)
        for (int x = fromX; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 100) {
                rows << y;
                break;
            }
    return rows;
}

} // namespace

class TestWrapRadioButton : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { toolkit::registerFonts(); }
    void wrapsIntoThreeLines();
    void oneLineButtonShowsFirstLineOnly();
    void paintsWrappedLinesInsideItsRectangle();
    void mouseAnywhereChecks();
    void keyboardChecksAndMoves();
    void accessKeyChecks();
    void uncheckCheckedButton();
};

void TestWrapRadioButton::wrapsIntoThreeLines() {
    Group group(40);
    WrapRadioButton* b = group.buttons[0];
    b->setText(QStringLiteral("Короткий текст"));
    QCOMPARE(b->visibleLines(), QStringList{QStringLiteral("Короткий текст")});

    b->setText(kLong);
    const QStringList lines = b->visibleLines();
    QCOMPARE(lines.size(), 3);
    // Broken at word boundaries, in order, from the start of the text.
    QVERIFY(kLong.startsWith(lines.join(QString())));
    QVERIFY(lines[0].endsWith(QLatin1Char(' ')));
    QVERIFY(lines[1].endsWith(QLatin1Char(' ')));
    QVERIFY(b->heightForWidth(b->width()) > b->height());

    // An ampersand marks the access key and takes no room.
    b->setText(QStringLiteral("&Да && нет"));
    QCOMPARE(b->visibleLines(), QStringList{QStringLiteral("Да & нет")});
}

void TestWrapRadioButton::oneLineButtonShowsFirstLineOnly() {
    Group group(17);
    WrapRadioButton* b = group.buttons[0];
    b->setText(kLong);
    const QStringList lines = b->visibleLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY(kLong.startsWith(lines[0]));
    QVERIFY(lines[0].size() < kLong.size());
}

void TestWrapRadioButton::paintsWrappedLinesInsideItsRectangle() {
    Group group(40);
    WrapRadioButton* b = group.buttons[0];
    const int textLeft = 20; // right of the indicator
    b->setText(QStringLiteral("Одна строка"));
    const QList<int> one = inkedRows(b->grab().toImage(), textLeft);
    QVERIFY(!one.isEmpty());
    b->setText(kLong);
    const QImage image = b->grab().toImage();
    const QList<int> three = inkedRows(image, textLeft);
    // Three lines of text reach much further down than one, and all within the 40 pixels.
    QVERIFY(three.last() - three.first() > 2 * (one.last() - one.first()));
    QVERIFY(three.last() < b->height());
    // The text runs to near the right edge of the button before it wraps.
    int rightmost = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = image.width() - 1; x > rightmost; --x)
            if (qGray(image.pixel(x, y)) < 100)
                rightmost = x;
    QVERIFY(rightmost > b->width() - 60);
}

void TestWrapRadioButton::mouseAnywhereChecks() {
    Group group(40);
    WrapRadioButton* b = group.buttons[1];
    b->setText(kLong);
    QSignalSpy toggled(b, &QAbstractButton::toggled);
    // On the third line, far right of the indicator.
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() - 10, b->height() - 4));
    QVERIFY(b->isChecked());
    QCOMPARE(toggled.count(), 1);
    QTest::mouseClick(group.buttons[3], Qt::LeftButton, {}, QPoint(300, 20));
    QVERIFY(group.buttons[3]->isChecked());
    QVERIFY(!b->isChecked());
}

void TestWrapRadioButton::keyboardChecksAndMoves() {
    Group group(17);
    QVERIFY(QTest::qWaitForWindowActive(&group.window));
    WrapRadioButton* first = group.buttons[0];
    first->setFocus();
    QVERIFY(first->hasFocus());
    QTest::keyClick(first, Qt::Key_Space);
    QVERIFY(first->isChecked());
    // With the focused button checked, an arrow key moves on and checks the next one.
    QTest::keyClick(first, Qt::Key_Down);
    QVERIFY(group.buttons[1]->hasFocus());
    QVERIFY(group.buttons[1]->isChecked());
    QVERIFY(!first->isChecked());
}

void TestWrapRadioButton::accessKeyChecks() {
    Group group(40);
    QVERIFY(QTest::qWaitForWindowActive(&group.window));
    WrapRadioButton* b = group.buttons[2];
    b->setText(QStringLiteral("&Жёсткий диск хранит данные"));
    QTest::sendKeyEvent(QTest::Click, &group.window, Qt::Key(0x0416), QStringLiteral("ж"),
                        Qt::AltModifier);
    QTRY_VERIFY(b->isChecked());
    QVERIFY(b->hasFocus());
}

void TestWrapRadioButton::uncheckCheckedButton() {
    Group group(17);
    WrapRadioButton* b = group.buttons[0];
    b->setChecked(true);
    b->setChecked(false);
    QVERIFY(b->isChecked()); // what the toolkit does on its own
    toolkit::uncheck(b);
    QVERIFY(!b->isChecked());
    QVERIFY(b->autoExclusive());
    // Still exclusive afterwards.
    group.buttons[1]->click();
    group.buttons[2]->click();
    QVERIFY(!group.buttons[1]->isChecked());
}

QTEST_MAIN(TestWrapRadioButton)
#include "tst_wrapradiobutton.moc"
