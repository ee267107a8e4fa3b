#include "app/Startup.h"

#include "app/Unit1.h"
#include "data/DM.h"
#include "editor/Unit2.h"
#include "help/Unit3.h"
#include "testing/testirovanie.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <memory>

int runProgram(int argc, char** argv) {
    QApplication application(argc, argv);
    toolkit::registerFonts();
    auto form1 = std::make_unique<TForm1>();
    Form1 = form1.get();
    std::unique_ptr<TDataModule2> dataModule;
    try {
        dataModule = std::make_unique<TDataModule2>();
    } catch (const std::exception& error) {
        toolkit::ShowStartupError(error);
        return 1;
    }
    DataModule2 = dataModule.get();
    auto testiWindow = std::make_unique<Ttesti>();
    testi = testiWindow.get();
    auto edittestWindow = std::make_unique<TEdittest>();
    Edittest = edittestWindow.get();
    auto aboutWindow = std::make_unique<Tabout>();
    about = aboutWindow.get();
    Form1->show();
    const int code = application.exec();
    return code;
}
