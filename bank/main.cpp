#include "bank/Cli.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QFile out, err;
    // Unbuffered, so that messages and output keep their order on a terminal.
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return bank::runBankTool(QCoreApplication::arguments().mid(1), out, err);
}
