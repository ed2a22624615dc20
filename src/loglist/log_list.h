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
class QListWidget;
class QTimer;

namespace tarnveil {

struct Module1;
class WidestNameDelegate;

// Keeps lstLogs in step with the log folder while the console runs. Every look
// at the folder runs on a lane of its own, under the drive deadline; the GUI
// thread only applies what comes back. Notification (local folders) and a poll
// every few seconds (shares, where notification never arrives) start the looks.
// Selection, current item and scroll position survive each update. GUI thread only.
class LogList : public QObject {
    Q_OBJECT

public:
    // `playerHoldsLog` tells whether a log is open in the player, whose selected
    // entry then stays listed even when its file goes.
    LogList(Module1& module, QListWidget& list, std::function<bool()> playerHoldsLog);
    ~LogList() override;

    // Empties the list and lists the folder afresh; a failure is reported.
    void reload();
    // Looks at the folder again, unless a look is still under way (a call
    // stuck on a dead share is never joined by another).
    void refresh();

    // A reload has been started and its listing or failure has not come yet.
    bool loading() const { return loading_; }
    // The last reload found no drive behind the drive letter.
    bool driveMissing() const { return driveMissing_; }

    static constexpr int PollIntervalMs = 5000;

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
    void applyEdits(const LogListing& listing);
    void rebuild(const LogListing& listing);
    void watch(const std::vector<std::filesystem::path>& folders);
    void failed(const Failure& failure, bool loading);
    std::vector<std::string> heldPaths() const;

    Module1& module_;
    QListWidget& list_;
    std::function<bool()> playerHoldsLog_;
    WidestNameDelegate* delegate_;
    QFileSystemWatcher* watcher_;
    QTimer* poll_;
    QTimer* settle_;
    DriveLane lane_;
    std::shared_ptr<const LogRows> rows_;
    // Set while a look's thread runs, cleared by the thread when it returns.
    std::shared_ptr<std::atomic<bool>> lookRunning_;
    bool loading_ = false;
    bool driveMissing_ = false;
    bool announceFill_ = false;
    std::optional<std::string> lastReported_;
};

} // namespace tarnveil
