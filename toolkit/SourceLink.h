#pragma once

#include "data/DataSource.h"

#include <QString>

namespace toolkit {

// A data-aware control's tie to its data source: the link is made when a source is set and
// undone when another is set or the control goes. The control answers the source's events
// through dataEvent.
class SourceLink : public data::DataLink {
public:
    SourceLink() = default;
    ~SourceLink() override;
    SourceLink(const SourceLink&) = delete;
    SourceLink& operator=(const SourceLink&) = delete;

    // False when that source was set already.
    bool link(data::DataSource* source);
    data::DataSource* source() const { return source_; }
    // The source's table, or null without a source.
    data::Table* table() const;
    // The table's field of that name, or null.
    data::Field* field(const QString& name) const;

private:
    data::DataSource* source_ = nullptr;
};

} // namespace toolkit
