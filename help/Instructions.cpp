#include "help/Instructions.h"

#include "data/Errors.h"
#include "toolkit/Form.h"
#include "toolkit/Pictures.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegularExpression>

namespace help {

namespace {

using enum LineKind;

// x positions: the headings at the left edge; the first section's numbers at 28 and text at
// 52; the second section's numbers at the edge and text at 28, its sub-items at 27 and 57;
// the third section's numbers at 8 and text at 32.
const InstructionLine kLines[] = {
    {Heading, "", 0, "Работа с тестом.", 4},
    {Item, "1)", 28,
     "Для того чтобы начать работу с тестом нажмите на кнопку «Начать тест». После этого", 52},
    {Continuation, "", 0,
     "программа случайным образом выберет 10 вопросов из базы. В заголовке окна вы уведете", 52},
    {Continuation, "", 0, "номер текущего вопроса.", 52},
    {Item, "2)", 28,
     "Выберите ответ и пояснение ответа которые кажутся вам правильными. Нажмите кнопку", 52},
    {Continuation, "", 0, "«Далее» для перехода к следующему вопросу.", 52},
    {Item, "3)", 28,
     "После того, как вы ответите на все вопросы, появится с количеством набранных баллов и", 52},
    {Continuation, "", 0, "вашей оценкой.", 52},

    {Heading, "", 0, "Правила выставления оценок.", 4},
    {Item, "1.", 4, "За каждый правильный ответ начисляется по одному баллу.", 28},
    {Item, "2.", 4, "За каждое правильное пояснение начисляется по одному баллу.", 28},
    {Item, "3.", 4, "За не правильные ответы и пояснения баллы не снимаются.", 28},
    {Item, "4.", 4, "Выставление оценок:", 28},
    {Item, "4.1.", 27, "Оценка «5» ставится, если вы набрали больше 16 баллов;", 57},
    {Item, "4.2.", 27, "Оценка «4» ставится, если вы набрали от 14 до 16 баллов;", 57},
    {Item, "4.3.", 27, "Оценка «3» ставится, если вы набрали от 10 до 13 баллов;", 57},
    {Item, "4.4.", 27, "Оценка «2» ставится, если вы набрали меньше 10 баллов.", 57},

    {Heading, "", 0, "Редактирование теста.", 4},
    {Item, "1)", 8, "Для редактирования теста нажмите на кнопку «Редактирование теста».", 32},
    {Item, "2)", 8, "Чтобы добавить новый вопрос нажмите {add} и напишите текст вопроса.", 32},
    {Item, "3)", 8,
     "Чтобы добавить варианты ответов (пояснений) к вопросу, нажмите {add}, введите 4 варианта",
     32},
    {Continuation, "", 0, "ответа (пояснений) и напротив правильного поставьте галочку.", 32},
    {Item, "4)", 8, "Чтобы удалить вопрос, ответ или пояснения нажмите {delete}", 32},
};

constexpr int kFirstBaseline = 14;
constexpr int kLineStep = 15;
// A line with a button picture needs room for the 16-pixel picture above and below it.
constexpr int kButtonLineStep = 24;
constexpr int kAfterHeadingStep = 16;
constexpr int kSectionStep = 22;
// The pictures stand slightly above the baseline: their bottom row is this far above the
// row the letters stand on.
constexpr int kButtonRaise = 1;
constexpr int kButtonSize = 16;

const QColor kHeadingColour(153, 51, 102);

QFont bodyFont() {
    QFont font = toolkit::windowFont();
    // Crisp letters in the pure colours, as a bitmap of the instructions has them.
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QFont headingFont() {
    QFont font = toolkit::headingFont();
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

bool holdsButton(const InstructionLine& line) {
    const QString text = lineText(line);
    return text.contains(QLatin1String(kAddMark)) || text.contains(QLatin1String(kDeleteMark));
}

// The text of a line cut into words and button pictures, in order.
struct Piece {
    QString text;
    enum { Text, Add, Delete } kind;
};

std::vector<Piece> pieces(const InstructionLine& line) {
    static const QRegularExpression marks(QStringLiteral("\\{add\\}|\\{delete\\}"));
    const QString text = lineText(line);
    std::vector<Piece> result;
    qsizetype at = 0;
    for (const QRegularExpressionMatch& match : marks.globalMatch(text)) {
        if (match.capturedStart() > at)
            result.push_back({text.mid(at, match.capturedStart() - at), Piece::Text});
        result.push_back(
            {QString(), match.captured() == QLatin1String(kAddMark) ? Piece::Add : Piece::Delete});
        at = match.capturedEnd();
    }
    if (at < text.size())
        result.push_back({text.mid(at), Piece::Text});
    return result;
}

} // namespace

std::span<const InstructionLine> instructionLines() {
    return kLines;
}

QString lineText(const InstructionLine& line) {
    return QString::fromUtf8(line.text);
}

InstructionLayout instructionLayout() {
    InstructionLayout layout;
    const QFontMetrics metrics(bodyFont());
    const auto lines = instructionLines();
    int baseline = kFirstBaseline;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            const InstructionLine& previous = lines[i - 1];
            if (lines[i].kind == Heading)
                baseline += kSectionStep;
            else if (holdsButton(previous) || holdsButton(lines[i]))
                baseline += kButtonLineStep;
            else if (previous.kind == Heading)
                baseline += kAfterHeadingStep;
            else
                baseline += kLineStep;
        }
        layout.baselines.push_back(baseline);
        int x = lines[i].textX;
        for (const Piece& piece : pieces(lines[i])) {
            if (piece.kind == Piece::Text) {
                x += metrics.horizontalAdvance(piece.text);
                continue;
            }
            const int top = baseline - kButtonRaise - kButtonSize;
            layout.buttons.push_back({piece.kind == Piece::Add, int(i), QPoint(x, top)});
            x += kButtonSize;
        }
    }
    return layout;
}

QImage renderInstructions() {
    QImage image(kPictureSize, QImage::Format_RGB888);
    image.fill(Qt::white);
    const InstructionLayout layout = instructionLayout();
    const QImage add = toolkit::whiteTransparent(toolkit::addBitmap());
    const QImage remove = toolkit::whiteTransparent(toolkit::deleteBitmap());

    QPainter painter(&image);
    const QFont body = bodyFont();
    const QFontMetrics metrics(body);
    const auto lines = instructionLines();
    auto button = layout.buttons.begin();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const InstructionLine& line = lines[i];
        const int baseline = layout.baselines[i];
        if (line.kind == Heading) {
            painter.setFont(headingFont());
            painter.setPen(kHeadingColour);
            painter.drawText(line.textX, baseline, lineText(line));
            continue;
        }
        painter.setFont(body);
        painter.setPen(Qt::black);
        if (line.kind == Item)
            painter.drawText(line.numberX, baseline, QString::fromUtf8(line.number));
        int x = line.textX;
        for (const Piece& piece : pieces(line)) {
            if (piece.kind == Piece::Text) {
                painter.drawText(x, baseline, piece.text);
                x += metrics.horizontalAdvance(piece.text);
                continue;
            }
            painter.drawImage(button->topLeft, button->add ? add : remove);
            ++button;
            x += kButtonSize;
        }
    }
    return image;
}

QImage instructionPicture() {
    QImage image(QStringLiteral(":/help/instructions.bmp"));
    if (image.isNull())
        throw Exception(QStringLiteral("The instruction picture is missing"));
    return image;
}

} // namespace help
