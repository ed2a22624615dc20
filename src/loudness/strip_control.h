#pragma once

#include <QByteArray>
#include <QObject>

#include <filesystem>
#include <memory>
#include <string>

namespace tarnveil {

struct ConsoleState;
struct Module1;
class LoudnessStrip;
class ProfileService;
class TimelineControl;

// Keeps the loudness strip on the log the console opened last: asks for its
// profile before any other (read on as it grows when it is the live log) and
// hands each new or grown profile to the strip. GUI thread only.
class StripControl : public QObject {
    Q_OBJECT

public:
    // `timeline` tells when the open log starts.
    StripControl(Module1& module, const ConsoleState& state, LoudnessStrip& strip, const TimelineControl& timeline);
    ~StripControl() override;

    void Timer1_Timer();

private:
    void followOpenLog();
    void profiled(const QByteArray& name);

    Module1& module_;
    const ConsoleState& state_;
    LoudnessStrip& strip_;
    const TimelineControl& timeline_;
    std::unique_ptr<ProfileService> service_;
    std::filesystem::path serviceFolder_;
    std::string shownPath_;
    std::filesystem::path shownFile_;
    bool shownLive_ = false;
    QByteArray shownName_;
};

} // namespace tarnveil
