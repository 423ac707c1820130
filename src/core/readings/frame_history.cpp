#include "core/readings/frame_history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv {

FrameHistory::FrameHistory(qint64 spanMs, std::size_t capacity) : spanMs_(spanMs), capacity_(capacity) {
    // One allocation for the whole span: no copies while it fills, and pages are only taken from
    // the system as frames arrive.
    ring_.reserve(capacity_);
}

void FrameHistory::clear() {
    ring_.clear();
    head_ = count_ = 0;
    gapPending_ = false;
    steadyToTimeline_.reset();
    wallOffsetMs_ = 0;
}

void FrameHistory::append(const FeedFrame& frame, std::optional<qint64> steadyMs) {
    HistoryFrame entry{frame.timeMs, frame.timeMs, frame.values, frame.correctionActive, gapPending_};
    gapPending_ = false;
    if (steadyMs) {
        if (!steadyToTimeline_)
            steadyToTimeline_ = frame.timeMs - *steadyMs;
        entry.timeMs = *steadyMs + *steadyToTimeline_;
        wallOffsetMs_ = frame.timeMs - entry.timeMs;
    }
    if (count_ > 0) {
        const qint64 last = back().timeMs;
        entry.timeMs = std::max(entry.timeMs, last);
        entry.gapBefore = entry.gapBefore || entry.timeMs - last > gapMs_;
    }
    if (spanMs_ > 0) {
        while (count_ > 0 && at(0).timeMs < entry.timeMs - spanMs_) {
            head_ = (head_ + 1) % ring_.size();
            --count_;
        }
    }
    if (capacity_ > 0 && count_ == capacity_) {
        head_ = (head_ + 1) % ring_.size();
        --count_;
    }
    if (count_ < ring_.size()) {
        ring_[(head_ + count_) % ring_.size()] = entry;
    } else {
        // The ring is full at its present size but may grow: make the oldest frame the first
        // element so that the new one can go at the end.
        std::rotate(ring_.begin(), ring_.begin() + std::ptrdiff_t(head_), ring_.end());
        head_ = 0;
        ring_.push_back(entry);
    }
    ++count_;
}

void FrameHistory::fitGapsToInterval() {
    std::vector<qint64> intervals;
    intervals.reserve(count_);
    for (std::size_t i = 1; i < count_; ++i) {
        if (at(i).timeMs > at(i - 1).timeMs)
            intervals.push_back(at(i).timeMs - at(i - 1).timeMs);
    }
    if (intervals.empty())
        return;
    const auto middle = intervals.begin() + std::ptrdiff_t(intervals.size() / 2);
    std::nth_element(intervals.begin(), middle, intervals.end());
    gapMs_ = std::max(kGapMs, *middle * kGapMs / kFrameIntervalMs);
    for (std::size_t i = 1; i < count_; ++i) {
        HistoryFrame& f = ring_[(head_ + i) % ring_.size()];
        f.gapBefore = f.timeMs - at(i - 1).timeMs > gapMs_;
    }
}

std::size_t FrameHistory::lowerBound(qint64 timeMs) const {
    std::size_t lo = 0, hi = count_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (at(mid).timeMs < timeMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::size_t FrameHistory::nearest(qint64 timeMs) const {
    if (count_ == 0)
        return 0;
    const std::size_t i = lowerBound(timeMs);
    if (i == count_)
        return count_ - 1;
    if (i > 0 && timeMs - at(i - 1).timeMs < at(i).timeMs - timeMs)
        return i - 1;
    return i;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Extremes {
    float min = 0, max = 0;
    qint64 minTime = 0, maxTime = 0;
};

}  // namespace

void decimate(const FrameHistory& history, qint64 fromMs, qint64 toMs, int columns, PlotData* out) {
    for (auto& series : out->series)
        series.clear();
    out->correction.clear();
    if (history.empty() || toMs <= fromMs || columns <= 0)
        return;
    std::size_t first = history.lowerBound(fromMs);
    if (first > 0)
        --first;
    std::size_t end = std::min(history.lowerBound(toMs + 1) + 1, history.size());
    if (first >= end)
        return;

    const double slice = double(toMs - fromMs) / columns;
    auto columnOf = [&](qint64 t) { return qint64(std::floor(double(t - fromMs) / slice)); };
    std::array<Extremes, kMonitoringFields> column{};
    bool columnActive = false;
    qint64 columnStart = 0;
    bool open = false;  // a column has frames not yet emitted
    int lastCorrection = -1;
    qint64 current = 0;

    auto emitColumn = [&] {
        if (!open)
            return;
        for (int s = 0; s < kMonitoringFields; ++s) {
            const Extremes& e = column[s];
            auto& series = out->series[s];
            if (e.minTime == e.maxTime) {
                series.push_back({e.minTime / 1000.0, e.min});
            } else if (e.minTime < e.maxTime) {
                series.push_back({e.minTime / 1000.0, e.min});
                series.push_back({e.maxTime / 1000.0, e.max});
            } else {
                series.push_back({e.maxTime / 1000.0, e.max});
                series.push_back({e.minTime / 1000.0, e.min});
            }
        }
        if (int(columnActive) != lastCorrection) {
            out->correction.push_back({columnStart / 1000.0, columnActive ? 1.0 : 0.0});
            lastCorrection = columnActive;
        }
        open = false;
    };

    for (std::size_t i = first; i < end; ++i) {
        const HistoryFrame& f = history.at(i);
        const qint64 c = columnOf(f.timeMs);
        if (open && (c != current || f.gapBefore))
            emitColumn();
        if (f.gapBefore && i != first) {
            const double key = (f.timeMs - 1) / 1000.0;
            for (auto& series : out->series)
                series.push_back({key, kNaN});
            // Close the band at the last frame before the gap, then break it.
            out->correction.push_back({history.at(i - 1).timeMs / 1000.0, double(lastCorrection)});
            out->correction.push_back({key, kNaN});
            lastCorrection = -1;
        }
        if (!open) {
            open = true;
            current = c;
            columnStart = f.timeMs;
            columnActive = false;
            for (int s = 0; s < kMonitoringFields; ++s)
                column[s] = {f.values[s], f.values[s], f.timeMs, f.timeMs};
        } else {
            for (int s = 0; s < kMonitoringFields; ++s) {
                Extremes& e = column[s];
                const float v = f.values[s];
                if (v < e.min || std::isnan(e.min)) {
                    e.min = v;
                    e.minTime = f.timeMs;
                }
                if (v > e.max || std::isnan(e.max)) {
                    e.max = v;
                    e.maxTime = f.timeMs;
                }
            }
        }
        columnActive = columnActive || f.correctionActive;
    }
    emitColumn();
    out->correction.push_back({history.at(end - 1).timeMs / 1000.0, double(lastCorrection)});
}

}  // namespace kv
