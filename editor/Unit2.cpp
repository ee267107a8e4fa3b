#include "editor/Unit2.h"

#include "app/Unit1.h"
#include "data/DM.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"
#include "toolkit/Pictures.h"

#include <QLabel>
#include <QToolButton>

TEdittest* Edittest = nullptr;

namespace {

const QString kDeleteQuestion = QStringLiteral("Вы действительно хотите удалить текущую запись? ");

QToolButton* speedButton(QWidget* parent, const char* name, int left, int top,
                         const QPixmap& picture) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, 23, 22);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(QIcon(picture));
    button->setIconSize(QSize(16, 16));
    return button;
}

QLabel* heading(QWidget* parent, const char* name, int left, int top, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(toolkit::headingFont());
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, toolkit::headingColor());
    label->setPalette(palette);
    label->move(left, top);
    label->adjustSize();
    return label;
}

toolkit::TDBGrid* grid(QWidget* parent, const char* name, const QRect& geometry,
                       data::DataSource& source) {
    auto* g = new toolkit::TDBGrid(parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(geometry);
    g->setOptions(toolkit::dgEditing | toolkit::dgTitles | toolkit::dgColumnResize |
                  toolkit::dgColLines | toolkit::dgRowLines | toolkit::dgTabs |
                  toolkit::dgConfirmDelete | toolkit::dgCancelOnExit);
    g->setDataSource(&source);
    return g;
}

} // namespace

TEdittest::TEdittest(QWidget* parent)
    : TForm(QStringLiteral("Редактирование тестов"), toolkit::clientSizeForOuter(QSize(702, 615)),
            QPalette::Button, parent) {
    setObjectName(QStringLiteral("Edittest"));

    DBGrid1 = grid(this, "DBGrid1", QRect(8, 30, 658, 254), DataModule2->Vopros_DS);
    DBGrid1->addColumn(QStringLiteral("Вопрос"), 621);
    Label1 = heading(this, "Label1", 61, 8, QStringLiteral("Вопросы"));
    DBGrid2 = grid(this, "DBGrid2", QRect(8, 326, 658, 107), DataModule2->Variant_DS);
    DBGrid2->addColumn(QStringLiteral("Ответ"), 548);
    DBGrid2->addColumn(QStringLiteral("Правильный"));
    Label2 = heading(this, "Label2", 61, 304,
                     QStringLiteral("Варианты ответов (напростив верного поставьте галочку)"));
    SpeedButton1 = speedButton(this, "SpeedButton1", 8, 298, toolkit::addPicture());
    SpeedButton2 = speedButton(this, "SpeedButton2", 8, 8, toolkit::addPicture());
    SpeedButton3 = speedButton(this, "SpeedButton3", 32, 8, toolkit::deletePicture());
    SpeedButton4 = speedButton(this, "SpeedButton4", 32, 298, toolkit::deletePicture());
    DBGrid3 = grid(this, "DBGrid3", QRect(8, 461, 658, 112), DataModule2->Obyasnenie_DS);
    DBGrid3->addColumn(QStringLiteral("Объяснение"), 548);
    DBGrid3->addColumn(QStringLiteral("Правильный"), 81);
    SpeedButton5 = speedButton(this, "SpeedButton5", 8, 439, toolkit::addPicture());
    SpeedButton6 = speedButton(this, "SpeedButton6", 32, 439, toolkit::deletePicture());
    Label3 = heading(this, "Label3", 61, 439, QStringLiteral("Объяснение правильности ответа"));

    setTabOrder(DBGrid1, DBGrid2);
    setTabOrder(DBGrid2, DBGrid3);

    using toolkit::guarded;
    connect(SpeedButton1, &QToolButton::clicked, this,
            guarded([this] { SpeedButton1Click(SpeedButton1); }));
    connect(SpeedButton2, &QToolButton::clicked, this,
            guarded([this] { SpeedButton2Click(SpeedButton2); }));
    connect(SpeedButton3, &QToolButton::clicked, this,
            guarded([this] { SpeedButton3Click(SpeedButton3); }));
    connect(SpeedButton4, &QToolButton::clicked, this,
            guarded([this] { SpeedButton4Click(SpeedButton4); }));
    connect(SpeedButton5, &QToolButton::clicked, this,
            guarded([this] { SpeedButton5Click(SpeedButton5); }));
    connect(SpeedButton6, &QToolButton::clicked, this,
            guarded([this] { SpeedButton6Click(SpeedButton6); }));
    OnClose = guarded([this] { FormClose(this); });
}

// Adds an answer option to the current question: the link comes from the question, the flag
// starts false and the text empty.
void TEdittest::SpeedButton1Click(QObject*) {
    DataModule2->Variant.append();
    DataModule2->Variant.setFieldValue(QStringLiteral("Правильный"), false);
    DataModule2->Variant.post();
}

// Adds a question whose text is one space, stored at once.
void TEdittest::SpeedButton2Click(QObject*) {
    DataModule2->Vopros.append();
    DataModule2->Vopros.setFieldValue(QStringLiteral("Вопрос"), QStringLiteral(" "));
    DataModule2->Vopros.post();
}

// Deletes the current question only: its answer options and explanations stay in their tables.
void TEdittest::SpeedButton3Click(QObject*) {
    if (toolkit::MessageDlg(kDeleteQuestion, toolkit::mbYes | toolkit::mbNo) ==
        toolkit::ModalResult::Yes)
        DataModule2->Vopros.remove();
}

void TEdittest::SpeedButton4Click(QObject*) {
    if (toolkit::MessageDlg(kDeleteQuestion, toolkit::mbYes | toolkit::mbNo) ==
        toolkit::ModalResult::Yes)
        DataModule2->Variant.remove();
}

// Leaves an edit in progress pending in its table: the next post on that table stores it.
void TEdittest::FormClose(QObject*) {
    showMainMenu();
}

void TEdittest::SpeedButton5Click(QObject*) {
    DataModule2->Obyasnenie.append();
    DataModule2->Obyasnenie.setFieldValue(QStringLiteral("Правильный"), false);
    DataModule2->Obyasnenie.post();
}

void TEdittest::SpeedButton6Click(QObject*) {
    if (toolkit::MessageDlg(kDeleteQuestion, toolkit::mbYes | toolkit::mbNo) ==
        toolkit::ModalResult::Yes)
        DataModule2->Obyasnenie.remove();
}
