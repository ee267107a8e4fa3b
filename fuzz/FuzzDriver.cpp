// Runs a fuzz target over the files it is given (or the files in the folders it is given), once
// each: the corpus as a regression test, in builds without libFuzzer.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    // All names first, as absolute paths: a target may change the working directory.
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo path(QString::fromLocal8Bit(argv[i]));
        if (path.isDir()) {
            QDirIterator it(path.absoluteFilePath(), QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        } else {
            files << path.absoluteFilePath();
        }
    }
    files.sort();
    int runs = 0;
    for (const QString& name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "%s\n", qPrintable(name));
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
        ++runs;
    }
    std::fprintf(stderr, "%d inputs run\n", runs);
    return runs > 0 ? 0 : 1;
}
