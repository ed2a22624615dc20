#include "loudness/strip_control.h"

#include "console/console_state.h"
#include "console/live_log_header.h"
#include "program/module1.h"
#include "loudness/loudness_strip.h"
#include "loudness/profile_service.h"
#include "platform/failure.h"
#include "timeline/timeline_control.h"

#include <algorithm>

namespace tarnveil {

StripControl::StripControl(Module1& module, const ConsoleState& state, LoudnessStrip& strip,
                           const TimelineControl& timeline)
    : module_(module), state_(state), strip_(strip), timeline_(timeline)
{
}

StripControl::~StripControl() = default;

void StripControl::Timer1_Timer()
{
    strip_.followTrackBar();
    followOpenLog();
    strip_.setLogStart(timeline_.startOf(shownFile_));
}

void StripControl::followOpenLog()
{
    const bool live = !state_.SelectedLogPath.empty() && module_.CurrentLogPath == state_.SelectedLogPath;
    if (state_.SelectedLogPath == shownPath_ && live == shownLive_)
        return;
    std::optional<LoggerPlaces> reached;
    try {
        if (!state_.SelectedLogPath.empty())
            reached = LoggerPlaces::of(module_);
    } catch (const Failure&) {
        // The drive letter leads nowhere for now (its link removed): the strip
        // shows nothing, and the ticks look again until it leads somewhere.
        if (!shownPath_.empty()) {
            shownPath_.clear();
            shownName_.clear();
            shownFile_.clear();
            strip_.setProfile(nullptr);
        }
        return;
    }
    shownPath_ = state_.SelectedLogPath;
    shownLive_ = live;
    shownName_.clear();
    shownFile_.clear();
    strip_.setProfile(nullptr);
    if (!reached)
        return;
    const LoggerPlaces& places = *reached;
    const std::optional<std::string> name = places.listedNameOf(shownPath_);
    if (!name)
        return;
    if (!service_ || places.logFolder != serviceFolder_) {
        serviceFolder_ = places.logFolder;
        service_ = std::make_unique<ProfileService>(places.logFolder, places.logFolderDrivePath());
        connect(service_.get(), &ProfileService::profiled, this, &StripControl::profiled);
    }
    shownName_ = QByteArray::fromStdString(*name);
    shownFile_ = places.file(*name);
    service_->request(shownName_, live, true);
    strip_.setProfile(service_->profile(shownName_));
}

void StripControl::profiled(const QByteArray& name)
{
    if (name == shownName_)
        strip_.setProfile(service_->profile(name));
}

} // namespace tarnveil
