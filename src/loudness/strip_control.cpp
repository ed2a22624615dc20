#include "loudness/strip_control.h"

#include "console/console_state.h"
#include "console/live_log_header.h"
#include "program/module1.h"
#include "loudness/loudness_strip.h"
#include "loudness/profile_service.h"
#include "platform/failure.h"

#include <algorithm>

namespace tarnveil {

StripControl::StripControl(Module1& module, const ConsoleState& state, LoudnessStrip& strip)
    : module_(module), state_(state), strip_(strip)
{
}

StripControl::~StripControl() = default;

void StripControl::Timer1_Timer()
{
    strip_.followTrackBar();
    followOpenLog();
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
            strip_.setProfile(nullptr);
        }
        return;
    }
    shownPath_ = state_.SelectedLogPath;
    shownLive_ = live;
    shownName_.clear();
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
    service_->request(shownName_, live, true);
    strip_.setProfile(service_->profile(shownName_));
}

void StripControl::profiled(const QByteArray& name)
{
    if (name == shownName_)
        strip_.setProfile(service_->profile(name));
}

} // namespace tarnveil
