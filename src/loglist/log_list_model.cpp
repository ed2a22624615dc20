#include "loglist/log_list_model.h"

#include <utility>

namespace tarnveil {

namespace {

// Calls `each(first, count, done)` for every run of consecutive numbers in
// `rows` (ascending); `done` is how many numbers the runs before it held.
template <typename Each>
void forEachRun(const std::vector<int>& rows, Each each)
{
    size_t start = 0;
    for (size_t i = 1; i <= rows.size(); ++i) {
        if (i == rows.size() || rows[i] != rows[i - 1] + 1) {
            each(rows[start], static_cast<int>(i - start), static_cast<qsizetype>(start));
            start = i;
        }
    }
}

} // namespace

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= names_.size())
        return {};
    if (role == Qt::DisplayRole)
        return names_[index.row()];
    if (role == Qt::UserRole)
        return paths_[index.row()];
    return {};
}

void LogListModel::fill(QList<QString> names, QList<QByteArray> paths)
{
    beginResetModel();
    names_ = std::move(names);
    paths_ = std::move(paths);
    endResetModel();
}

void LogListModel::edit(const std::vector<int>& removed, const std::vector<int>& added, const QList<QString>& names,
                        const QList<QByteArray>& paths)
{
    // Removed from the bottom up, so that each run's rows are still those the
    // listing named.
    std::vector<std::pair<int, int>> runs;
    forEachRun(removed, [&](int first, int count, qsizetype) { runs.emplace_back(first, count); });
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows({}, run->first, run->first + run->second - 1);
        names_.remove(run->first, run->second);
        paths_.remove(run->first, run->second);
        endRemoveRows();
    }
    // Inserted from the top down: the rows above each run are already final.
    forEachRun(added, [&](int first, int count, qsizetype done) {
        beginInsertRows({}, first, first + count - 1);
        names_.insert(first, count, QString());
        paths_.insert(first, count, QByteArray());
        std::copy_n(names.begin() + done, count, names_.begin() + first);
        std::copy_n(paths.begin() + done, count, paths_.begin() + first);
        endInsertRows();
    });
}

int LogListModel::rowOf(const QByteArray& path) const
{
    return path.isNull() ? -1 : static_cast<int>(paths_.indexOf(path));
}

} // namespace tarnveil
