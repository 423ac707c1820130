// The readings since the program started, at full resolution, for the trend chart: a ring of
// frames that keeps the newest 48 hours, and the per-column min/max reduction that lets the chart
// draw two days as quickly as ten minutes.
#pragma once

#include "core/readings/frame_feed.h"

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace kv {

struct HistoryFrame {
    // On the history's own timeline: for live frames the steady clock, set to the wall clock of the
    // first frame, so that a step of the wall clock neither piles frames up nor ages them out.
    qint64 timeMs = 0;
    qint64 wallMs = 0;  // the wall clock when it came, as a recording holds it
    std::array<float, kMonitoringFields> values{};
    bool correctionActive = false;
    bool gapBefore = false;  // the line breaks between the previous frame and this one
};

class FrameHistory {
  public:
    static constexpr qint64 kLiveSpanMs = 48LL * 3600 * 1000;
    // 48 hours at one frame per 700 ms is 246,858 frames; the rest is room for a faster device.
    static constexpr std::size_t kLiveCapacity = 300'000;
    // Frames further apart than this are not joined: a missed frame or two still draws as a line.
    static constexpr qint64 kGapMs = 2500;
    static constexpr qint64 kFrameIntervalMs = 700;  // the pace kGapMs is meant for

    // spanMs 0 and capacity 0: no limit (a recording under review).
    explicit FrameHistory(qint64 spanMs = kLiveSpanMs, std::size_t capacity = kLiveCapacity);

    // Adds the newest frame; frames older than the span before it, and the oldest beyond the
    // capacity, drop off. A frame stamped before the newest one is kept at the newest time. A live
    // frame comes with the steady clock's time of its arrival, which places it on the timeline; a
    // recorded one is placed by its wall-clock time.
    void append(const FeedFrame& frame, std::optional<qint64> steadyMs = std::nullopt);
    // For a recording once it is read: a gap is a pause as long, measured in the recording's own
    // typical interval, as kGapMs is at one frame per kFrameIntervalMs, and never shorter.
    void fitGapsToInterval();
    qint64 gapMs() const { return gapMs_; }
    // What to add to a time on the timeline to give the wall-clock time as the wall clock reads
    // now (at the newest live frame); 0 for a recording.
    qint64 wallOffsetMs() const { return wallOffsetMs_; }
    // The link went down: the next frame starts a new line.
    void markGap() { gapPending_ = true; }
    void clear();

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // 0 is the oldest frame.
    const HistoryFrame& at(std::size_t i) const { return ring_[(head_ + i) % ring_.size()]; }
    const HistoryFrame& back() const { return at(count_ - 1); }
    // The first frame at or after timeMs (size() when none).
    std::size_t lowerBound(qint64 timeMs) const;
    // The frame nearest to timeMs; size() when empty.
    std::size_t nearest(qint64 timeMs) const;
    // The memory the frames take up: the ring is reserved whole, but its pages are only touched as
    // it fills.
    std::size_t memoryBytes() const { return ring_.size() * sizeof(HistoryFrame); }

  private:
    std::vector<HistoryFrame> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    qint64 spanMs_;
    std::size_t capacity_;
    bool gapPending_ = false;
    qint64 gapMs_ = kGapMs;
    std::optional<qint64> steadyToTimeline_;  // set by the first live frame
    qint64 wallOffsetMs_ = 0;
};

// A point for the chart: seconds since 1970 UTC and a value; a NaN value breaks the line.
struct PlotPoint {
    double key;
    double value;
};

struct PlotData {
    std::array<std::vector<PlotPoint>, kMonitoringFields> series;
    // 1 while correction is active, 0 while not, drawn as steps.
    std::vector<PlotPoint> correction;
};

// Reduces the frames between fromMs and toMs to at most two points per series and column, the
// smallest and the largest in the column's time slice, in the order they came, so that every
// peak a full-resolution drawing would show is still drawn. The frame just outside each end is
// included so the lines run to the edges.
void decimate(const FrameHistory& history, qint64 fromMs, qint64 toMs, int columns, PlotData* out);

}  // namespace kv
