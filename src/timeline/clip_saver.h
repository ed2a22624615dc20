#pragma once

#include "catalog/log_catalog.h"
#include "timeline/clip_writer.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
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
};

// Any thread: finds the logs, plans the clip and writes it. False when cancelled.
bool runClipJob(const ClipJob& job, const ClipProgress& progress);

// Runs one save on a thread of its own, reporting back as queued signals on
// the GUI thread. The thread is never joined; cancelling asks it to stop and
// leave nothing behind.
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

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

} // namespace tarnveil
