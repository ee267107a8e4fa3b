#pragma once

#include "toolkit/SourceLink.h"

#include <QString>
#include <QWidget>

namespace toolkit {

// A label that shows one field of the current row of a data source, as a grid would show it
// (empty for null), on one line cut off at the label's width. It holds no copy of the text:
// whatever moves or changes the row, the label repaints with what the row holds now.
class DBText : public QWidget, private SourceLink {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);

    void setDataSource(data::DataSource* source);
    data::DataSource* dataSource() const { return source(); }
    void setDataField(const QString& fieldName);
    const QString& dataField() const { return fieldName_; }

    // What the label shows now.
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void dataEvent(data::DataEvent event, int row, data::Field* field) override;

    QString fieldName_;
    bool repaintAsked_ = false;
};

} // namespace toolkit
