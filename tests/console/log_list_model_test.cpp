#include "loglist/log_list_model.h"

#include <QListView>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tarnveil::test {
namespace {

struct ListEdit {
    std::vector<std::string> before;
    std::vector<int> removed;
    std::vector<int> added;
    std::vector<std::string> after;
    // The log the operator stands on, in both lists.
    std::string current;
    int insertRuns;
    int removeRuns;
};

std::shared_ptr<const LogRows> rowsOf(const std::vector<std::string>& names)
{
    auto rows = std::make_shared<LogRows>();
    for (const std::string& name : names)
        rows->push_back(LogFile{name, {}, {}});
    return rows;
}

void PrintTo(const ListEdit& edit, std::ostream* out)
{
    for (const std::string& name : edit.before)
        *out << name;
    *out << "_to_";
    for (const std::string& name : edit.after)
        *out << name;
}

class LogListModelEdit : public testing::TestWithParam<ListEdit> {};

// An update inserts and removes runs of rows in place, never refills: the
// view's current row stays on its log, and each row shows its log after.
TEST_P(LogListModelEdit, LeavesTheRowsOfTheNewListAndTheCurrentRowOnItsLog)
{
    const ListEdit& edit = GetParam();
    LogListModel model;
    QListView view;
    view.setModel(&model);
    const std::shared_ptr<const LogRows> before = rowsOf(edit.before);
    model.fill(before);
    view.setCurrentIndex(model.index(model.rowOf(QByteArray::fromStdString(edit.current))));
    QSignalSpy refills(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removes(&model, &QAbstractItemModel::rowsRemoved);

    EXPECT_EQ(model.edit(rowsOf(edit.after), edit.removed, edit.added), before);

    ASSERT_EQ(model.rowCount(), static_cast<int>(edit.after.size()));
    for (int row = 0; row < model.rowCount(); ++row) {
        EXPECT_EQ(model.index(row).data().toString().toStdString(), edit.after[static_cast<size_t>(row)]);
        EXPECT_EQ(model.index(row).data(Qt::UserRole).toByteArray().toStdString(), edit.after[static_cast<size_t>(row)]);
    }
    EXPECT_EQ(view.currentIndex().data().toString().toStdString(), edit.current);
    EXPECT_EQ(refills.size(), 0);
    EXPECT_EQ(inserts.size(), edit.insertRuns);
    EXPECT_EQ(removes.size(), edit.removeRuns);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, LogListModelEdit,
    testing::Values(ListEdit{{"a", "b", "c", "d"}, {1}, {3}, {"a", "c", "d", "e"}, "c", 1, 1},
                    ListEdit{{"b", "d"}, {}, {0, 2, 4}, {"a", "b", "c", "d", "e"}, "d", 3, 0},
                    ListEdit{{"a", "b", "c", "d", "e", "f"}, {0, 1, 3, 5}, {}, {"c", "e"}, "e", 0, 3},
                    ListEdit{{"a", "b", "x", "y"}, {0, 1}, {2, 3, 4}, {"x", "y", "z1", "z2", "z3"}, "y", 1, 1}));

} // namespace
} // namespace tarnveil::test
