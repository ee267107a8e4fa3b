#include "tests/support/EditorFixture.h"

#include "data/DM.h"
#include "editor/Unit2.h"

#include <QApplication>
#include <QTest>

namespace testsupport {

EditorFixture::EditorFixture() : ids(bank.addStandardQuestions(3)) {}

void EditorFixture::open() {
    program_ = std::make_unique<ProgramFixture>();
    dm = DataModule2;
    editor = Edittest;
}

void EditorFixture::show() {
    editor->show();
    editor->activateWindow();
    QApplication::setActiveWindow(editor);
    editor->DBGrid1->setFocus();
    QTRY_VERIFY(editor->DBGrid1->hasFocus());
}

} // namespace testsupport
