#include "loglist/log_list_model.h"

#include <QFile>

#include <algorithm>
#include <utility>

namespace tarnveil {

namespace {

// Calls `each(first, count)` for every run of consecutive numbers in `rows`
// (ascending).
template <typename Each>
void forEachRun(const std::vector<int>& rows, Each each)
{
    size_t start = 0;
    for (size_t i = 1; i <= rows.size(); ++i) {
        if (i == rows.size() || rows[i] != rows[i - 1] + 1) {
            each(rows[start], static_cast<int>(i - start));
            start = i;
        }
    }
}

void pointAt(const LogRows& rows, std::vector<const LogFile*>& shown)
{
    shown.resize(rows.size());
    std::transform(rows.begin(), rows.end(), shown.begin(), [](const LogFile& log) { return &log; });
}

} // namespace

LogListModel::LogListModel(QObject* parent) : QAbstractListModel(parent), rows_(std::make_shared<const LogRows>()) {}

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<size_t>(index.row()) >= shown_.size())
        return {};
    const LogFile& log = *shown_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return QFile::decodeName(QByteArray::fromStdString(log.shown()));
    if (role == Qt::UserRole)
        return QByteArray::fromStdString(log.path);
    return {};
}

std::shared_ptr<const LogRows> LogListModel::fill(std::shared_ptr<const LogRows> rows)
{
    beginResetModel();
    std::swap(rows_, rows);
    pointAt(*rows_, shown_);
    endResetModel();
    return rows;
}

std::shared_ptr<const LogRows> LogListModel::edit(std::shared_ptr<const LogRows> rows, const std::vector<int>& removed,
                                                  const std::vector<int>& added)
{
    // Removed from the bottom up, so that each run's rows are still those
    // the listing named.
    std::vector<std::pair<int, int>> runs;
    forEachRun(removed, [&](int first, int count) { runs.emplace_back(first, count); });
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows({}, run->first, run->first + run->second - 1);
        shown_.erase(shown_.begin() + run->first, shown_.begin() + run->first + run->second);
        endRemoveRows();
    }
    // Inserted from the top down: the rows above each run are already final.
    forEachRun(added, [&](int first, int count) {
        beginInsertRows({}, first, first + count - 1);
        shown_.insert(shown_.begin() + first, static_cast<size_t>(count), nullptr);
        for (int row = first; row < first + count; ++row)
            shown_[static_cast<size_t>(row)] = &(*rows)[static_cast<size_t>(row)];
        endInsertRows();
    });
    // The rows that stayed still point into the list before the edit.
    std::swap(rows_, rows);
    pointAt(*rows_, shown_);
    return rows;
}

int LogListModel::rowOf(const QByteArray& path) const
{
    if (path.isNull())
        return -1;
    const std::string wanted = path.toStdString();
    const auto found = std::find_if(rows_->begin(), rows_->end(), [&](const LogFile& log) { return log.path == wanted; });
    return found == rows_->end() ? -1 : static_cast<int>(found - rows_->begin());
}

} // namespace tarnveil
