#pragma once

#include "platform/log_folder.h"

#include <QAbstractListModel>
#include <QByteArray>

#include <memory>
#include <vector>

namespace tarnveil {

// The logs lstLogs holds, row by row.
using LogRows = std::vector<LogFile>;

// The rows of lstLogs: each log's name as shown, and under Qt::UserRole its
// path below the log folder as the folder gave it (a name that is not valid
// text still opens the right file). The rows come ready-made from a look at
// the folder and are shown as they are: a name becomes text only when a view
// asks for it. An update inserts and removes the rows that changed, so the
// views' selection and current row follow the logs they point at.
// GUI thread only.
class LogListModel : public QAbstractListModel {
public:
    explicit LogListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Every row at once, replacing what the list held. Hands back the rows it
    // held, for the caller to free where freeing a long list costs nothing.
    std::shared_ptr<const LogRows> fill(std::shared_ptr<const LogRows> rows);
    // Takes the list to `rows`: removes the rows `removed` of the list as it
    // is (ascending), then inserts the rows `added` of `rows` (ascending).
    // Hands back the rows it held, as fill() does.
    std::shared_ptr<const LogRows> edit(std::shared_ptr<const LogRows> rows, const std::vector<int>& removed,
                                        const std::vector<int>& added);

    const LogRows& rows() const { return *rows_; }
    const std::shared_ptr<const LogRows>& sharedRows() const { return rows_; }
    // The row of the log at `path`, or -1.
    int rowOf(const QByteArray& path) const;

private:
    std::shared_ptr<const LogRows> rows_;
    // Each row's log: the same as rows_ but while an edit is under way, when
    // it points into the rows before and after the edit.
    std::vector<const LogFile*> shown_;
};

} // namespace tarnveil
