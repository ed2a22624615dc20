#pragma once

#include "catalog/log_catalog.h"
#include "console/console_state.h"
#include "share/drive_lane.h"
#include "timeline/log_timeline.h"
#include "timeline/save_clip_window.h"

#include <QDateTime>
#include <QObject>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QProgressDialog;

namespace tarnveil {

struct Module1;
class ClipSaver;
class PlaybackControl;

// The console's sense of the time of day: the label with the time of day at
// the play position, Go To Time and Save Clip As. File work runs off the GUI
// thread; this class only gathers its inputs and takes its answers. GUI thread only.
class TimelineControl : public QObject {
    Q_OBJECT

public:
    // Go To Time and Save Clip As find their logs in `catalog`, the log list's.
    TimelineControl(Module1& module, const ConsoleControls& controls, PlaybackControl& playback,
                    QLabel& lblTimeOfDay, std::shared_ptr<LogCatalog> catalog);
    ~TimelineControl() override;

    void Timer1_Timer();
    void mnuGoToTime_Click();
    void mnuSaveClipAs_Click();

    // The time of day at the play position, when a log is open and its start known.
    std::optional<QDateTime> momentAtPosition() const;

    // When `file` starts (ms since the epoch), if it is the open log and its start is known.
    std::optional<int64_t> startOf(const std::filesystem::path& file) const;

    // Plays the log that holds `moment`, from there; reports a moment no log holds.
    void goTo(const QDateTime& moment);

private:
    struct Paths {
        std::string logFolderName; // as the operator knows it, "L:\logger\logs"
        std::filesystem::path logFolder;
        std::filesystem::path curFile;
    };
    Paths paths() const;
    std::optional<int64_t> momentMsAtPosition() const;
    void probeOpenLog();
    void saveClip(bool replace);
    void closeProgress();

    Module1& module_;
    const ConsoleControls& controls_;
    PlaybackControl& playback_;
    QLabel& lblTimeOfDay_;
    std::shared_ptr<LogCatalog> catalog_;

    // The log the player has open, and what the last probe found out about it.
    std::filesystem::path probedFile_;
    std::optional<LogSpan> openLog_;
    // The second lblTimeOfDay shows, NoMoment while it is empty.
    static constexpr int64_t NoMoment = std::numeric_limits<int64_t>::min();
    int64_t shownSecond_ = NoMoment;
    // A newer request on a lane drops the older one's answer.
    DriveLane probeLane_;
    DriveLane goToLane_;

    ClipSaver* saver_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    QString savingAs_;
    ClipChoice lastClip_;
};

} // namespace tarnveil
