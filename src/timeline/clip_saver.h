#pragma once

#include "catalog/log_catalog.h"
#include "timeline/clip_writer.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace tarnveil {

// Everything a save needs, gathered on the GUI thread so that the work itself
// touches no window and no program-wide state.
struct ClipJob {
    std::filesystem::path logFolder;
    std::filesystem::path curFile;
    std::shared_ptr<LogCatalog> catalog; // the logs, for clips that run on into the next
    int64_t fromMs = 0;             // since the epoch
    int64_t toMs = 0;
    int sndfileFormat = 0;
    std::filesystem::path target;
    bool replace = false;           // the operator agreed to replace an existing target
};

// Any thread: finds the logs, plans the clip and writes it. False when cancelled.
bool runClipJob(const ClipJob& job, ClipCancel& cancel, const ClipProgress& progress);

// Runs saves on threads of their own, reporting back as queued signals on the
// GUI thread. Cancelling asks the save in hand to stop and leave nothing
// behind; destroying the saver cancels every save and waits for each to have
// cleaned up, but no longer than the drive's deadline for one stuck on a share
// that does not answer. GUI thread only.
class ClipSaver : public QObject {
    Q_OBJECT

public:
    explicit ClipSaver(QObject* parent = nullptr);
    ~ClipSaver() override;

    void start(ClipJob job);
    void cancel();

signals:
    void progressed(int permille);
    // saved: the clip is in place; otherwise `failure` is the operator's text,
    // empty when the save was cancelled (and its temporary file is gone).
    void finished(bool saved, const QString& failure);
    // The target exists and the job did not say to replace it; nothing was written.
    void targetExists();

private:
    struct Run {
        std::shared_ptr<ClipCancel> cancel;
        std::thread thread;
        std::future<void> over; // ready once the thread has nothing left to do
    };
    void joinFinishedRuns();

    std::vector<Run> runs_; // the save in hand last; older ones are cancelled
};

} // namespace tarnveil
