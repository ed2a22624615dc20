#include "timeline/timeline_control.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "program/module1.h"
#include "console/playback_control.h"
#include "platform/drive_map.h"
#include "timeline/catalog_survey.h"
#include "timeline/clip_saver.h"
#include "timeline/go_to_time_window.h"
#include "timeline/save_clip_window.h"
#include "windows/error_window.h"
#include "windows/quiet_notice.h"

#include <QFile>
#include <QLabel>
#include <QListView>
#include <QProgressDialog>

namespace tarnveil {

TimelineControl::TimelineControl(Module1& module, const ConsoleControls& controls, PlaybackControl& playback,
                                 QLabel& lblTimeOfDay, std::shared_ptr<LogCatalog> catalog)
    : module_(module), controls_(controls), playback_(playback), lblTimeOfDay_(lblTimeOfDay),
      catalog_(std::move(catalog)), saver_(new ClipSaver(this))
{
    connect(saver_, &ClipSaver::progressed, this, [this](int permille) {
        if (progress_)
            progress_->setValue(permille);
    });
    connect(saver_, &ClipSaver::finished, this, [this](bool saved, const QString& failure) {
        closeProgress();
        if (!failure.isEmpty()) {
            frmError::report(failure);
            return;
        }
        if (saved) {
            QuietNotice::show(controls_.lstLogs, QStringLiteral("Clip saved as ") + savingAs_);
            if (frmSaveClip* window = frmSaveClip::instance())
                window->close();
        }
    });
    connect(saver_, &ClipSaver::targetExists, this, [this] {
        closeProgress();
        if (frmSaveClip* window = frmSaveClip::instance())
            window->askToReplace();
    });
}

TimelineControl::~TimelineControl()
{
    delete progress_;
}

TimelineControl::Paths TimelineControl::paths() const
{
    const std::string logFolderName = module_.LoggerDrive + ":\\logger\\logs";
    return {logFolderName, module_.drives.resolve(logFolderName),
            module_.drives.resolve(module_.LoggerDrive + ":\\logger\\CurFile")};
}

void TimelineControl::Timer1_Timer()
{
    const WavePlayer& player = *controls_.WavePlayer;
    if (player.FileName() != probedFile_)
        probeOpenLog();
    // The text changes once a second; the quick ticks of playback need not
    // work out the local time twenty times over.
    const std::optional<int64_t> ms = momentMsAtPosition();
    const int64_t second = ms ? *ms / 1000 : NoMoment;
    if (second == shownSecond_)
        return;
    shownSecond_ = second;
    lblTimeOfDay_.setText(ms ? QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss"))
                             : QString());
}

std::optional<int64_t> TimelineControl::momentMsAtPosition() const
{
    const WavePlayer& player = *controls_.WavePlayer;
    if (!openLog_ || !(player.isPlaying() || player.isPaused()))
        return std::nullopt;
    return openLog_->startMs + player.Position();
}

std::optional<QDateTime> TimelineControl::momentAtPosition() const
{
    const std::optional<int64_t> ms = momentMsAtPosition();
    return ms ? std::optional(QDateTime::fromMSecsSinceEpoch(*ms)) : std::nullopt;
}

std::optional<int64_t> TimelineControl::startOf(const std::filesystem::path& file) const
{
    if (!openLog_ || file.empty() || file != probedFile_)
        return std::nullopt;
    return openLog_->startMs;
}

// Learns when the open log starts. The name the player was given is a path on
// the logger drive; the log's name relative to the log folder carries the
// dated folders a start may be read from.
void TimelineControl::probeOpenLog()
{
    probedFile_ = controls_.WavePlayer->FileName();
    openLog_.reset();
    if (probedFile_.empty()) {
        probeLane_.cancel();
        return;
    }
    std::filesystem::path folder = probedFile_.parent_path();
    std::filesystem::path relative = probedFile_.filename();
    Paths where;
    try {
        where = paths();
        const std::filesystem::path inside = probedFile_.lexically_relative(where.logFolder);
        if (!inside.empty() && *inside.begin() != "..") {
            folder = where.logFolder;
            relative = inside;
        }
    } catch (const Failure&) {
    }
    const QByteArray name = QByteArray::fromStdString(relative.string());
    probeLane_.start(
        probedFile_.string(),
        [folder, name, curFile = where.curFile] {
            // A CurFile that cannot be read makes no log live; the header fix-up reports it.
            bool live = false;
            try {
                live = !curFile.empty() && readLiveLogName(curFile) == name;
            } catch (const Failure&) {
            }
            return probeLog(folder, name, live);
        },
        [this](DriveOutcome<LogSpan> outcome) {
            // A log that cannot be read has no time of day; the player reports it.
            if (LogSpan* log = std::get_if<LogSpan>(&outcome))
                openLog_ = std::move(*log);
        });
}

void TimelineControl::mnuGoToTime_Click()
{
    const QDateTime initial =
        momentAtPosition().value_or(QDateTime::currentDateTime().addSecs(-60));
    frmGoToTime* window = frmGoToTime::showWindow(initial);
    connect(window, &frmGoToTime::chosen, this, &TimelineControl::goTo, Qt::UniqueConnection);
}

void TimelineControl::goTo(const QDateTime& moment)
{
    Paths where;
    try {
        where = paths();
    } catch (const Failure& failure) {
        frmError::report(QString::fromStdString(failure.message()));
        return;
    }
    struct Found {
        std::vector<LogSpan> logs;
        MomentPlace place;
    };
    const int64_t momentMs = moment.toMSecsSinceEpoch();
    goToLane_.start(
        where.logFolderName,
        [where, catalog = catalog_, momentMs] {
            Found found;
            found.logs = surveyCatalog(*catalog, where.logFolder, momentMs, momentMs, readLiveLogName(where.curFile));
            found.place = placeMoment(found.logs, momentMs);
            return found;
        },
        [this, momentMs](DriveOutcome<Found> outcome) {
            if (const Failure* failure = std::get_if<Failure>(&outcome)) {
                frmError::report(QString::fromStdString(failure->message()));
                return;
            }
            const Found& found = std::get<Found>(outcome);
            if (!found.place.holder) {
                const Failure gap(FailureCode::NoLogAtTime, describeGap(found.logs, found.place, momentMs));
                frmError::report(QString::fromStdString(gap.message()));
                return;
            }
            const LogSpan& log = found.logs[*found.place.holder];
            playback_.playLogAt(log.name, checkedMs(found.place.offsetMs));
        });
}

void TimelineControl::closeProgress()
{
    if (progress_) {
        progress_->close();
        progress_->deleteLater();
        progress_ = nullptr;
    }
}

void TimelineControl::mnuSaveClipAs_Click()
{
    if (controls_.WavePlayer->FileName().empty() || !openLog_ || probedFile_ != controls_.WavePlayer->FileName()) {
        frmError::report(QStringLiteral("No Log Selected"));
        return;
    }
    const TrackBar& slider = *controls_.TrackBar;
    const int64_t low = std::max(0, std::min(slider.Min(), slider.Max()));
    const int64_t high = std::max(slider.Min(), slider.Max());
    frmSaveClip* window = frmSaveClip::showWindow(openLog_->startMs + low, openLog_->startMs + high,
                                                  clipFormats(openLog_->format, openLog_->sampleRate,
                                                              openLog_->channels),
                                                  lastClip_);
    connect(window, &frmSaveClip::saveRequested, this, &TimelineControl::saveClip, Qt::UniqueConnection);
}

void TimelineControl::saveClip(bool replace)
{
    frmSaveClip* window = frmSaveClip::instance();
    if (window == nullptr || !openLog_)
        return;
    ClipJob job;
    try {
        const Paths where = paths();
        job.logFolder = where.logFolder;
        job.curFile = where.curFile;
    } catch (const Failure& failure) {
        frmError::report(QString::fromStdString(failure.message()));
        return;
    }
    job.catalog = catalog_;
    job.fromMs = window->fromMs();
    job.toMs = window->toMs();
    job.sndfileFormat = window->format().sndfileFormat;
    savingAs_ = window->fileName();
    job.target = QFile::encodeName(savingAs_).toStdString();
    job.replace = replace;
    lastClip_ = window->choice();

    if (!progress_) {
        progress_ = new QProgressDialog(QStringLiteral("Saving the clip..."), QStringLiteral("Cancel"), 0, 1000);
        progress_->setObjectName(QStringLiteral("dlgClipProgress"));
        progress_->setWindowTitle(QStringLiteral("Save Clip As"));
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(0);
        connect(progress_, &QProgressDialog::canceled, saver_, &ClipSaver::cancel);
    }
    progress_->setValue(0);
    progress_->show();
    saver_->start(std::move(job));
}

} // namespace tarnveil
