#pragma once

#include <QPdfWriter>
#include <QSaveFile>
#include <QString>
#include <memory>

class QPainter;

namespace bank {

// An A4 PDF, set up as every printout of the tool is (12 mm above and below, 15 mm on the right,
// the left margin given; the windows' fonts registered; infotest-bank its creator), that
// replaces its file only once the whole PDF is written.
class PdfFile {
public:
    // Throws EToolError when the file cannot be written.
    PdfFile(const QString& path, const QString& title, int resolution, qreal leftMargin);
    QPdfWriter& writer() { return *writer_; }
    // Starts painting on the PDF; throws EToolError.
    void begin(QPainter& painter);
    // Ends the painting and replaces the file with the PDF; throws EToolError.
    void commit(QPainter& painter);

private:
    QString path_;
    QSaveFile file_;
    std::unique_ptr<QPdfWriter> writer_;
};

} // namespace bank
