#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <span>
#include <vector>

// The instructions of the help window. Their text is drawn into a bitmap when the program is
// built (help/generator) and the window shows that bitmap, so the text cannot be selected,
// copied or re-wrapped. The text below is the only copy of it.
namespace help {

enum class LineKind { Heading, Item, Continuation };

// One line of the picture as it is broken there. Items carry their number; continuation lines
// carry only their text. In the text, kAddMark and kDeleteMark stand where a button picture
// stands.
struct InstructionLine {
    LineKind kind;
    const char* number; // UTF-8; empty unless an item
    int numberX;
    const char* text; // UTF-8
    int textX;
};

inline constexpr const char* kAddMark = "{add}";
inline constexpr const char* kDeleteMark = "{delete}";

std::span<const InstructionLine> instructionLines();

// A line's text as it reads, with the marks of the button pictures left in.
QString lineText(const InstructionLine& line);

inline constexpr QSize kPictureSize(626, 416);

// Where the lines go: the baseline of each line, and the top-left corner of every button
// picture in the order they stand in the text.
struct InstructionLayout {
    std::vector<int> baselines;
    struct Button {
        bool add;
        int line;
        QPoint topLeft;
    };
    std::vector<Button> buttons;
};
InstructionLayout instructionLayout();

// Draws the instructions into a white 626 x 416 picture in 24-bit colour. Needs the Tahoma
// fonts registered (toolkit::registerFonts).
QImage renderInstructions();

// The picture that was drawn at build time and embedded in the program.
QImage instructionPicture();

} // namespace help
