#pragma once

#include "loglist/log_listing.h"
#include "share/drive_lane.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QFileSystemWatcher;
class QLabel;
class QListView;
class QTimer;

namespace tarnveil {

struct Module1;
class LogListModel;
class WidestNameDelegate;

// Keeps lstLogs, a view over a LogListModel, in step with the log folder while
// the console runs. Every look at the folder goes through the catalog on a lane
// of its own, under the drive deadline; the GUI thread only applies what comes
// back. Notification starts the looks on local folders (with an hourly look
// for the older folders); on shares, where notification never arrives, a poll
// every few seconds does. While the catalog is still reading the archive, looks
// follow each other and the list says quietly how far it has come. Selection,
// current row and scroll position survive each update. GUI thread only.
class LogList : public QObject {
    Q_OBJECT

public:
    // `readRecording` finds the log being recorded, which the list marks.
    LogList(Module1& module, QListView& list, RecordingReader readRecording);
    ~LogList() override;

    // Empties the list and lists the folder afresh; a failure is reported.
    void reload();
    // Looks at the folder again, unless a look is still under way (a call
    // stuck on a dead share is never joined by another).
    void refresh();

    // The log the player holds, running or paused (relative to the log folder;
    // empty once it stopped): marked in the list, and kept listed while held
    // even when its file goes.
    void setPlaying(const QByteArray& path);

    // Selects the log at `path` (relative to the log folder), once the list
    // shows it: a log the folder has just gained comes with the next look.
    void selectLog(const QByteArray& path);

    // What the list shows, row by row.
    LogListModel& model() const { return *model_; }

    // A reload has been started and its listing or failure has not come yet.
    bool loading() const { return loading_; }
    // The last reload found no drive behind the drive letter.
    bool driveMissing() const { return driveMissing_; }

    static constexpr int PollIntervalMs = 5000;

    // What the list knows about the archive; lane threads use it, never the GUI thread.
    const std::shared_ptr<LogCatalog>& catalog() const { return catalog_; }

signals:
    // A reload found no drive behind the logger's drive letter (reported already).
    void noDrive();
    // A listing has been applied, or a look has failed.
    void settled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void look(bool loading);
    void apply(LogListing listing);
    std::shared_ptr<const LogRows> applyEdits(const LogListing& listing);
    std::shared_ptr<const LogRows> rebuild(const LogListing& listing);
    void watch(const std::vector<std::filesystem::path>& folders);
    void failed(const Failure& failure, bool loading);
    void pace(const LogListing& listing);
    void storeCatalog();
    void lookAgainIfAsked();
    void placeProgress();
    QByteArray selectedLog() const;
    bool selectListed(const QByteArray& path);

    Module1& module_;
    QListView& list_;
    LogListModel* model_;
    WidestNameDelegate* delegate_;
    QFileSystemWatcher* watcher_;
    QTimer* poll_;
    QTimer* settle_;
    QLabel* progress_;
    DriveLane lane_;
    std::shared_ptr<LogCatalog> catalog_;
    // The rows the last look compares the folder with.
    std::shared_ptr<const LogRows> lookedFrom_;
    // Set while a look's thread runs, cleared by the thread when it returns.
    std::shared_ptr<std::atomic<bool>> lookRunning_;
    bool loading_ = false;
    bool driveMissing_ = false;
    bool announceFill_ = false;
    bool lookAgain_ = false;
    std::optional<std::string> lastReported_;
    QByteArray pendingSelection_;
    QByteArray playing_;
    RecordingReader readRecording_;
};

} // namespace tarnveil
