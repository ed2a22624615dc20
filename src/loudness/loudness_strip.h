#pragma once

#include "loudness/loudness_profile.h"
#include "loudness/silences.h"

#include <QPixmap>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace tarnveil {

class TrackBar;

// The loudness of the open log drawn directly above the slider, over the span
// the slider spans: short-term loudness as a filled curve, silent stretches in
// a colour of their own, the play position as a line. A click or drag on it
// moves the slider exactly as one on the slider would, and the tooltip names
// the moment and the loudness under the pointer. GUI thread only.
class LoudnessStrip : public QWidget {
    Q_OBJECT

public:
    explicit LoudnessStrip(TrackBar& trackBar, QWidget* parent = nullptr);

    // The open log's profile (nullptr: none yet, or no log open).
    void setProfile(std::shared_ptr<const LoudnessProfile> profile);
    const std::shared_ptr<const LoudnessProfile>& profile() const { return profile_; }

    // When the open log starts, in ms since the epoch, once the console knows.
    void setLogStart(std::optional<int64_t> startMs) { logStartMs_ = startMs; }

    // Redraws when the slider's span or position has moved since the last look.
    void followTrackBar();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int StripHeight = 40;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The slider's mapping between its travel and milliseconds.
    int travelStart() const;
    int travelLength() const;
    double msAt(double x) const;
    double xAt(double ms) const;
    int yAt(double lufs) const;
    QRect lineColumn(int positionX) const;
    void drawBackdrop();
    void forwardToTrackBar(QMouseEvent* event);

    TrackBar& trackBar_;
    std::shared_ptr<const LoudnessProfile> profile_;
    std::optional<int64_t> logStartMs_;
    std::vector<SilentStretch> silences_; // in milliseconds into the log
    QPixmap backdrop_;
    int32_t drawnMin_ = 0;
    int32_t drawnMax_ = 0;
    int drawnPositionX_ = -1;
};

} // namespace tarnveil
