#include "toolkit/DBText.h"

#include "data/Field.h"
#include "data/Table.h"

#include <QPainter>

namespace toolkit {

DBText::DBText(QWidget* parent) : QWidget(parent) {}

void DBText::setDataSource(data::DataSource* source) {
    if (link(source))
        update();
}

void DBText::setDataField(const QString& fieldName) {
    fieldName_ = fieldName;
    update();
}

QString DBText::text() const {
    if (!source() || !source()->enabled || !table()->active())
        return QString();
    const data::Field* f = field(fieldName_);
    return f ? f->displayText() : QString();
}

void DBText::paintEvent(QPaintEvent*) {
    repaintAsked_ = false;
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    // drawText clips to the rectangle: a long text is cut off at the label's width.
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
}

void DBText::dataEvent(data::DataEvent event, int, data::Field*) {
    switch (event) {
    case data::DataEvent::RecordMoved:
    case data::DataEvent::RecordChanged:
    case data::DataEvent::StateChanged:
    case data::DataEvent::RowsReset:
    case data::DataEvent::RowInserted:
    case data::DataEvent::RowRemoved:
        // One repaint shows whatever the row holds by then: a draw moves the questions
        // thousands of times before the label is painted once. A hidden label asks nothing;
        // showing it paints it.
        if (!repaintAsked_ && isVisible()) {
            repaintAsked_ = true;
            update();
        }
        break;
    case data::DataEvent::UpdateRecord:
    case data::DataEvent::RowsAboutToBeReset:
    case data::DataEvent::RowAboutToBeInserted:
    case data::DataEvent::RowAboutToBeRemoved:
        break;
    }
}

} // namespace toolkit
