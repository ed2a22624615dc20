#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

namespace tarnveil {

// The rows of lstLogs: each log's listed name, and under Qt::UserRole its
// path below the log folder as the folder gave it (a name that is not valid
// text still opens the right file). The rows arrive ready-made from a look at
// the folder; applying them costs what changed, not the length of the list,
// so the views' selection and current row follow the logs they point at.
// GUI thread only.
class LogListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Every row at once, replacing what the list held.
    void fill(QList<QString> names, QList<QByteArray> paths);
    // Removes the rows `removed` of the list as it is (ascending), then puts
    // `names`/`paths` at the rows `added` of the list it becomes (ascending).
    void edit(const std::vector<int>& removed, const std::vector<int>& added, const QList<QString>& names,
              const QList<QByteArray>& paths);

    // The row of the log at `path`, or -1.
    int rowOf(const QByteArray& path) const;
    QByteArray pathAt(int row) const { return paths_.value(row); }
    QString nameAt(int row) const { return names_.value(row); }
    const QList<QString>& names() const { return names_; }

private:
    QList<QString> names_;
    QList<QByteArray> paths_;
};

} // namespace tarnveil
