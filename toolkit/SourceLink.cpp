#include "toolkit/SourceLink.h"

#include "data/Table.h"

namespace toolkit {

SourceLink::~SourceLink() {
    if (source_)
        source_->removeLink(this);
}

bool SourceLink::link(data::DataSource* source) {
    if (source == source_)
        return false;
    if (source_)
        source_->removeLink(this);
    source_ = source;
    if (source_)
        source_->addLink(this);
    return true;
}

data::Table* SourceLink::table() const {
    return source_ ? &source_->dataSet() : nullptr;
}

data::Field* SourceLink::field(const QString& name) const {
    const data::Table* t = table();
    return t ? t->findField(name) : nullptr;
}

} // namespace toolkit
