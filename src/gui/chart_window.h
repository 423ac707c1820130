// The trend chart: the six readings against local time, voltages on the left axis and
// temperatures on the right, correction active as a shaded band. It follows the newest frame or
// shows whatever span the user zooms and pans to, always from min/max-reduced points.
#pragma once

#include "core/readings/frame_history.h"
#include "core/readings/temperature_unit.h"

#include <QWidget>

#include <memory>

class QCustomPlot;
class QCPGraph;
class QCPItemStraightLine;
class QLabel;
class QMouseEvent;
class QPushButton;

namespace kv {

class Platform;
class UnitSwitch;

class ChartWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr qint64 kDefaultSpanMs = 10 * 60 * 1000;

    // A live chart over history (the window's own readings, kept elsewhere).
    ChartWindow(Platform& platform, const FrameHistory& history, QWidget* parent);
    // A chart over a recording, which it keeps; it does not follow.
    ChartWindow(Platform& platform, std::unique_ptr<FrameHistory> recording, const QString& name,
                QWidget* parent);
    ~ChartWindow() override;

    // New frames arrived: redraw when following the live edge and the window can be seen.
    void framesAdded();
    bool onScreen() const { return isVisible() && !isMinimized(); }
    // Reduces the visible span to the plot's width and redraws.
    void refresh();
    // Repaints at once rather than on the next pass of the event loop.
    void repaintNow();
    // The width of the plotting area in pixels: the columns the reduction fills.
    int plotWidth() const;
    void setFollowing(bool follow);
    bool following() const { return following_; }
    void showRange(qint64 fromMs, qint64 toMs);
    // The hover line: the time under the mouse and the values of the frame nearest to it.
    void hoverAt(qint64 timeMs);
    QString hoverText() const;

    void exportVisible();
    bool exportTo(const QString& path, QString* reason);

    const FrameHistory& history() const { return history_; }
    QCustomPlot* plot() const { return plot_; }
    QCPGraph* graph(int field) const { return graphs_[field]; }
    // The points the plot holds for a series now.
    std::vector<PlotPoint> drawnPoints(int field) const;
    QPushButton* followButton() const { return follow_; }
    // Keeps the size, position and shown series for the next start; hiding the window does it too.
    void saveSettings() const;
    // The temperatures drawn, hovered and exported in °F or °C.
    TemperatureUnit unit() const { return unit_; }
    void setUnit(TemperatureUnit unit);

  protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    ChartWindow(Platform& platform, const FrameHistory& history, bool live, QWidget* parent);
    void build();
    void setSeriesShown(int field, bool shown);
    void restoreSettings();
    void rangeChanged();

    Platform& platform_;
    std::unique_ptr<FrameHistory> recording_;
    const FrameHistory& history_;
    bool live_;
    bool following_;
    bool updating_ = false;
    PlotData points_;
    QCustomPlot* plot_{};
    std::array<QCPGraph*, kMonitoringFields> graphs_{};
    QCPGraph* band_{};
    QCPItemStraightLine* cursor_{};
    QPushButton* follow_{};
    QPushButton* export_{};
    QLabel* hover_{};
    UnitSwitch* unitSwitch_{};
    TemperatureUnit unit_ = TemperatureUnit::Fahrenheit;
};

// Where the chart keeps its size, position and shown series: the user's configuration folder.
QString chartSettingsPath();

}  // namespace kv
