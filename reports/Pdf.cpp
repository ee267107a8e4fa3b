#include "reports/Pdf.h"

#include "core/ToolError.h"
#include "toolkit/Form.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>

namespace bank {

PdfFile::PdfFile(const QString& path, const QString& title, int resolution, qreal leftMargin)
    : path_(path), file_(path) {
    toolkit::registerFonts();
    if (!file_.open(QIODevice::WriteOnly))
        throw EToolError(
            QStringLiteral("не удаётся записать «%1»: %2").arg(path, file_.errorString()));
    writer_ = std::make_unique<QPdfWriter>(&file_);
    writer_->setResolution(resolution);
    writer_->setPageSize(QPageSize(QPageSize::A4));
    writer_->setPageMargins(QMarginsF(leftMargin, 12, 15, 12), QPageLayout::Millimeter);
    writer_->setTitle(title);
    writer_->setCreator(QStringLiteral("infotest-bank"));
}

void PdfFile::begin(QPainter& painter) {
    if (!painter.begin(writer_.get()))
        throw EToolError(QStringLiteral("не удаётся начать PDF «%1»").arg(path_));
}

void PdfFile::commit(QPainter& painter) {
    if (!painter.end() || !file_.commit())
        throw EToolError(
            QStringLiteral("не удаётся записать «%1»: %2").arg(path_, file_.errorString()));
}

} // namespace bank
