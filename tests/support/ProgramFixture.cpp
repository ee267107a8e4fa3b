#include "tests/support/ProgramFixture.h"

#include "app/Unit1.h"
#include "data/DM.h"
#include "editor/Unit2.h"
#include "help/Unit3.h"
#include "testing/testirovanie.h"
#include "toolkit/MessageBox.h"

#include <QTest>

namespace testsupport {

namespace {

template <typename T> void destroy(T*& instance) {
    T* doomed = instance;
    instance = nullptr;
    delete doomed;
}

// The windows first: they show the data module's tables.
void destroyAll() {
    destroy(about);
    destroy(Edittest);
    destroy(testi);
    destroy(Form1);
    destroy(DataModule2);
}

} // namespace

ProgramFixture::ProgramFixture() {
    try {
        Form1 = new TForm1;
        DataModule2 = new TDataModule2;
        testi = new Ttesti;
        Edittest = new TEdittest;
        about = new Tabout;
    } catch (...) {
        destroyAll();
        throw;
    }
}

ProgramFixture::~ProgramFixture() {
    destroyAll();
}

void verifyAllBoxesAnswered() {
    const int unexpected = toolkit::seam::unexpectedBoxes();
    const int unused = toolkit::seam::pendingAnswers();
    toolkit::seam::disarm();
    QCOMPARE(unexpected, 0);
    QCOMPARE(unused, 0);
}

} // namespace testsupport
