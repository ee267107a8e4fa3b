#include "journal/RunsModel.h"

#include "data/Errors.h"
#include "reports/JournalExport.h"

#include <QColor>
#include <QPalette>

namespace journal {

using data::journal::Run;
using data::journal::RunColumn;
using data::journal::RunState;

namespace {

qint64 idOf(const Run& run) {
    return run.id;
}

// A stored run never changes; a journal replaced by another file may reuse its ids.
bool same(const Run& a, const Run& b) {
    return a.record.uuid == b.record.uuid;
}

} // namespace

QString durationText(qint64 seconds) {
    if (seconds < 0)
        return QStringLiteral("—");
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString stateText(RunState state) {
    switch (state) {
    case RunState::InProgress:
        return QStringLiteral("идёт");
    case RunState::Abandoned:
        return QStringLiteral("брошен");
    case RunState::Recorded:
        break;
    }
    return {};
}

RunsModel::RunsModel(QObject* parent) : RowListModel(parent) {}

void RunsModel::setReader(data::journal::JournalReader* reader) {
    reader_ = reader;
    reload();
}

void RunsModel::reconnect(data::journal::JournalReader* reader) {
    reader_ = reader;
    if (rows_.empty())
        reload();
    else
        refresh();
}

void RunsModel::setFilter(const data::journal::RunFilter& filter) {
    filter_ = filter;
    reload();
}

void RunsModel::reload() {
    // Read before the reset: a journal that fails leaves the rows as they were.
    data::journal::RunSummary summary;
    std::vector<Run> page;
    if (reader_) {
        summary = reader_->summary(filter_);
        page = reader_->runs(filter_, order_, 0, kPage);
    }
    beginResetModel();
    rows_ = std::move(page);
    summary_ = summary;
    endResetModel();
    noteAbandoning();
    emit summaryChanged();
}

void RunsModel::refresh() {
    if (!reader_)
        return;
    const data::journal::RunSummary fresh = reader_->summary(filter_);
    // As many rows as were read, and those recorded since: the rows already read stay read.
    const qint64 wanted = std::max<qint64>(
        kPage, qint64(rows_.size()) + std::max<qint64>(0, fresh.runs - summary_.runs));
    std::vector<Run> runs = reader_->runs(filter_, order_, 0, wanted);
    summary_ = fresh;
    mergeRows(rows_, std::move(runs), idOf, same);
    noteAbandoning();
    emit summaryChanged();
}

void RunsModel::noteAbandoning() {
    // Not sooner than a minute from now: a server whose clock is behind ours still calls the run
    // in progress, and is asked again only then.
    const QDateTime soonest = QDateTime::currentDateTimeUtc().addSecs(60);
    abandoningAt_ = QDateTime();
    for (const Run& run : rows_)
        if (run.state == RunState::InProgress) {
            const QDateTime at = std::max(
                run.record.started.addSecs(data::journal::kAnsweringLimitSeconds), soonest);
            if (!abandoningAt_.isValid() || at < abandoningAt_)
                abandoningAt_ = at;
        }
}

bool RunsModel::runTurnedAbandoned() const {
    return abandoningAt_.isValid() && QDateTime::currentDateTimeUtc() >= abandoningAt_;
}

const Run* RunsModel::runAt(int row) const {
    return row >= 0 && size_t(row) < rows_.size() ? &rows_[size_t(row)] : nullptr;
}

int RunsModel::rowOf(qint64 runId) const {
    const auto found =
        std::find_if(rows_.begin(), rows_.end(), [&](const Run& run) { return run.id == runId; });
    return found == rows_.end() ? -1 : int(found - rows_.begin());
}

int RunsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int RunsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : data::journal::kRunColumns;
}

QVariant RunsModel::data(const QModelIndex& index, int role) const {
    const Run* run = index.isValid() ? runAt(index.row()) : nullptr;
    if (!run)
        return {};
    const data::journal::RunRecord& r = run->record;
    const auto column = RunColumn(index.column());
    if (role == Qt::DisplayRole) {
        switch (column) {
        case RunColumn::Started:
            return r.started.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
        case RunColumn::Host:
            return r.host;
        case RunColumn::Login:
            return r.login;
        case RunColumn::Name:
            return bank::journal::pupilName(r);
        case RunColumn::Duration:
            return run->state == RunState::Recorded ? durationText(run->seconds())
                                                    : durationText(-1);
        case RunColumn::Points: // a run still going has no points yet, not none
            return run->state == RunState::Recorded ? QVariant(r.points)
                                                    : QVariant(QStringLiteral("—"));
        case RunColumn::Grade:
            return r.grade ? QVariant(*r.grade) : QVariant(QStringLiteral("—"));
        case RunColumn::Finished:
            if (run->state != RunState::Recorded)
                return stateText(run->state);
            {
                const QString finished = r.finished ? QStringLiteral("да")
                                                    : QStringLiteral("нет (%1 из %2)")
                                                          .arg(run->answered)
                                                          .arg(data::journal::kQuestionsPerRun);
                return run->late() ? finished + QStringLiteral(", записан поздно") : finished;
            }
        case RunColumn::LoginReported:
            return run->loginReported ? QStringLiteral("программой") : QString();
        }
    }
    if (role == Qt::TextAlignmentRole && column >= RunColumn::Duration &&
        column <= RunColumn::Grade)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    // An abandoned run stands out from the finished ones without a colour of its own.
    if (role == Qt::ForegroundRole && !r.finished && run->state != RunState::InProgress)
        return QPalette().color(QPalette::Disabled, QPalette::Text);
    if (role == Qt::ToolTipRole && column == RunColumn::Finished &&
        run->state == RunState::Recorded && run->late())
        return QStringLiteral("Ответы пришли на сервер позже, чем через %1 ч после начала: "
                              "программа ученика ждала сервер")
            .arg(data::journal::kAnsweringLimitSeconds / 3600);
    if (role == Qt::ToolTipRole && column == RunColumn::LoginReported && run->loginReported)
        return QStringLiteral("Логин назвала программа ученика, а не сервер: под общей ролью "
                              "учеников сервер учеников не различает");
    if (role == Qt::ToolTipRole && column == RunColumn::Name && !r.pupil.isEmpty())
        return r.fullName;
    return {};
}

QVariant RunsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[data::journal::kRunColumns] = {
        "Дата и время", "Компьютер", "Логин",    "Имя",          "Время",
        "Баллы",        "Оценка",    "Завершён", "Логин сообщён"};
    return section >= 0 && section < data::journal::kRunColumns
               ? QVariant(QString::fromUtf8(titles[section]))
               : QVariant();
}

bool RunsModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && reader_ && qint64(rows_.size()) < summary_.runs;
}

void RunsModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    try {
        std::vector<Run> page = reader_->runs(filter_, order_, qint64(rows_.size()), kPage);
        // Runs removed meanwhile (an old school year cleared) leave fewer than counted.
        if (page.empty()) {
            summary_.runs = qint64(rows_.size());
            return;
        }
        // A run recorded since the last refresh moved the page: what is shown already stays
        // once; the next refresh puts the new run in its place.
        std::unordered_set<qint64> shown;
        for (const Run& run : rows_)
            shown.insert(run.id);
        std::erase_if(page, [&](const Run& run) { return shown.count(run.id) > 0; });
        if (page.empty())
            return;
        beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size() + page.size()) - 1);
        rows_.insert(rows_.end(), std::make_move_iterator(page.begin()),
                     std::make_move_iterator(page.end()));
        endInsertRows();
    } catch (const Exception& error) {
        emit readFailed(error.message());
    }
}

void RunsModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= data::journal::kRunColumns)
        return;
    order_ = {RunColumn(column), order == Qt::DescendingOrder};
    try {
        reload();
    } catch (const Exception& error) {
        emit readFailed(error.message());
    }
}

} // namespace journal
