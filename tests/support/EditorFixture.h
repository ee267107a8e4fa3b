#pragma once

#include "tests/support/BankFixture.h"
#include "tests/support/ProgramFixture.h"

#include <memory>
#include <vector>

namespace data {
class TDataModule2;
}
class TEdittest;

namespace testsupport {

// The editor window over a fresh bank of three standard questions, for the suites that drive
// it. The windows are made by open(), so that a case may seed the bank further first.
class EditorFixture {
public:
    EditorFixture();
    // Makes the program's windows over the bank as seeded.
    void open();
    // Shows the editor, active, with the question grid focused.
    void show();

    BankFixture bank;
    std::vector<qint64> ids; // of the three questions
    data::TDataModule2* dm = nullptr;
    TEdittest* editor = nullptr;

private:
    std::unique_ptr<ProgramFixture> program_;
};

} // namespace testsupport
