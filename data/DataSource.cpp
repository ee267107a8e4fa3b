#include "data/DataSource.h"

#include "data/Table.h"

#include <algorithm>

namespace data {

DataSource::DataSource(Table& table) : table_(table) {
    table_.addDataSource(this);
}

DataSource::~DataSource() {
    table_.removeDataSource(this);
}

bool DataSource::edit() {
    if (table_.state() == DataSetState::Browse && autoEdit)
        table_.edit();
    return table_.state() == DataSetState::Edit || table_.state() == DataSetState::Insert;
}

void DataSource::addLink(DataLink* link) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end())
        links_.push_back(link);
}

void DataSource::removeLink(DataLink* link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void DataSource::notify(DataEvent event, int row, Field* field) {
    if (!enabled)
        return;
    // A link may remove itself while it is told.
    const std::vector<DataLink*> links = links_;
    for (DataLink* link : links)
        if (std::find(links_.begin(), links_.end(), link) != links_.end())
            link->dataEvent(event, row, field);
}

} // namespace data
