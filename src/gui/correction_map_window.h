// Tools > Correction Map: the calibration table drawn over its two axes, each cell coloured by how
// much it raises the temperature over its column, with the live operating point, its trail over
// the last ten minutes and the readings beside it. It follows the editor box by box and redraws
// only when the table or a frame changes.
#pragma once

#include "core/calibration/correction_map.h"
#include "core/readings/frame_history.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QAction;
class QLabel;
class QPainter;

namespace kv {

class Form1;
class UnitSwitch;

// The painted map: cells, axes, legend, the point and its trail.
class CorrectionMapView : public QWidget {
    Q_OBJECT
  public:
    static constexpr qint64 kTrailMs = 10 * 60 * 1000;

    CorrectionMapView(const FrameHistory& history, QWidget* parent);

    // Reads the table's numbers once, so that a frame costs no parsing.
    void setTable(const MapTable& table);
    void setUnit(TemperatureUnit unit) {
        unit_ = unit;
        background_ = QPixmap();
    }
    // Without a link the point is drawn grey.
    void setLinkUp(bool up) { linkUpForPaint_ = up; }
    const MapTable& table() const { return table_; }
    TemperatureUnit unit() const { return unit_; }

    // The rectangle of cell (r, c) and the marker's centre, in the view's coordinates.
    QRectF cellRect(int r, int c) const;
    // Where the newest reading is drawn; nothing without a valid reading or while an axis is
    // incomplete. An outside point is pinned to the map's edge.
    std::optional<QPointF> markerPosition() const;
    // The cells outlined around the newest reading (row, column), none when there is none.
    std::vector<std::pair<int, int>> outlinedCells() const;
    // The hover text of the cell under pos; empty away from the cells.
    QString cellHoverText(const QPointF& pos) const;

    QSize sizeHint() const override { return {640, 460}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Geometry {
        QRectF grid;
        std::vector<double> cols, rows;          // breakpoint places, 0..1
        std::vector<double> colEdges, rowEdges;  // cell edges, 0..1
    };
    Geometry geometry() const;
    QRectF cellRect(const Geometry& g, int r, int c) const;
    void paintBackground(QPainter& p, const Geometry& g);
    void paintPoint(QPainter& p, const Geometry& g);
    double xAt(const Geometry& g, double place) const;
    double yAt(const Geometry& g, double place) const;
    // The point of a reading, pinned to the edge when outside; false while an axis is incomplete.
    bool pointOf(const Geometry& g, float mctF, float dewPointF, QPointF* point, QPointF* outward) const;

    const FrameHistory& history_;
    MapTable table_;
    std::array<std::optional<double>, 5> cols_;
    std::array<std::optional<double>, 6> rows_;
    std::array<std::optional<double>, 30> rises_;
    std::array<bool, 30> cellEmpty_{};
    double limit_ = 5;
    TemperatureUnit unit_ = TemperatureUnit::Fahrenheit;
    bool linkUpForPaint_ = true;
    QPixmap background_;  // the cells, axes and legend; null when they must be drawn again
};

class CorrectionMapWindow : public QWidget {
    Q_OBJECT
  public:
    CorrectionMapWindow(const FrameHistory& history, QWidget* parent);
    ~CorrectionMapWindow() override;

    // The editor's table; redraws only when it differs from the one shown.
    void setTable(const MapTable& table);
    // A frame was added to the history: the point, the trail and the readings move.
    void framesAdded();
    // The live link went down or came up again.
    void linkChanged(bool up);

    TemperatureUnit unit() const;
    void setUnit(TemperatureUnit unit);

    CorrectionMapView* view() const { return view_; }
    UnitSwitch* unitSwitch() const { return unitSwitch_; }
    // The readings beside the map, in order: input, modified, output, dew point, correction now.
    QStringList readingTexts() const;
    QString outsideText() const;
    // How often a redraw was asked for: once for each change of the table or of the readings.
    int redrawRequests() const { return redrawRequests_; }
    // Repaints at once, for measuring.
    void repaintNow();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void build();
    void showReadings();
    void requestRedraw();
    void saveSettings() const;

    const FrameHistory& history_;
    CorrectionMapView* view_{};
    UnitSwitch* unitSwitch_{};
    std::array<QLabel*, 5> readings_{};
    QLabel* when_{};
    QLabel* outside_{};
    bool linkUp_ = true;
    int redrawRequests_ = 0;
};

// Where the map keeps its size, position and unit: the user's configuration folder.
QString correctionMapSettingsPath();

// The editor's table, axes and marks as they stand in the window.
MapTable editorTable(const Form1& window);

// Tools > Correction Map: the menu item, and the window once it has been opened, kept up with the
// editor and the frame feed.
class CorrectionMapTool : public QObject {
    Q_OBJECT
  public:
    explicit CorrectionMapTool(Form1& window);
    void CorrectionMap_Click();
    CorrectionMapWindow* map() const { return map_; }

    QAction* CorrectionMap{};

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void editorChanged();

    Form1& window_;
    QPointer<CorrectionMapWindow> map_;
};

}  // namespace kv
