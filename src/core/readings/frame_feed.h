// The frame feed: every decoded monitoring frame, published once, with its receive time. The
// window's display, the recorder, the chart and the command line's monitor are its subscribers.
#pragma once

#include "protocol/device_protocol.h"

#include <QObject>
#include <QtGlobal>

#include <array>

namespace kv {

struct FeedFrame {
    qint64 timeMs = 0;                              // received, ms since 1970-01-01 UTC
    std::array<float, kMonitoringFields> values{};  // in frame order, indexed by MonitoringField
    bool correctionActive = false;                  // frame byte 24 was 1
    qint64 readNs = 0;  // when it was taken off the line, steady clock, for measuring; 0 when not live
};

class FrameFeed : public QObject {
    Q_OBJECT
  public:
    void publish(const FeedFrame& frame) { Q_EMIT frameReceived(frame); }
    void publishLink(bool up, qint64 timeMs) { Q_EMIT linkChanged(up, timeMs); }

  Q_SIGNALS:
    void frameReceived(const kv::FeedFrame& frame);
    // The live link came up or went down (a disconnect, a transfer, a failure): the time between
    // a down and the next frame is a gap in the readings.
    void linkChanged(bool up, qint64 timeMs);
};

}  // namespace kv
