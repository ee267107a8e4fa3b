#include "tests/support/ProgramFixture.h"

#include "app/Startup.h"
#include "toolkit/MessageBox.h"

#include <QTest>

namespace testsupport {

ProgramFixture::ProgramFixture() {
    createWindows();
}

ProgramFixture::~ProgramFixture() {
    destroyWindows();
}

void verifyAllBoxesAnswered() {
    const int unexpected = toolkit::seam::unexpectedBoxes();
    const int unused = toolkit::seam::pendingAnswers();
    toolkit::seam::disarm();
    QCOMPARE(unexpected, 0);
    QCOMPARE(unused, 0);
}

} // namespace testsupport
