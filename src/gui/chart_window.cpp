#include "gui/chart_window.h"

#include "core/platform/file_write.h"
#include "core/readings/readings_csv.h"
#include "gui/platform.h"
#include "gui/unit_switch.h"
#include "gui/window_helpers.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "gui/plot_library.h"

#include <cmath>

namespace kv {

namespace {

struct SeriesStyle {
    const char* name;
    const char* unit;
    int decimals;
    QColor color;
    bool voltage;
};

// In frame order.
const SeriesStyle kSeries[kMonitoringFields] = {
    {"MCT Sensor Input Voltage", "V", 3, QColor(0x1f, 0x77, 0xb4), true},
    {"MCT Sensor Input Temp", "\u00B0F", 1, QColor(0xd6, 0x27, 0x28), false},
    {"Dew Point", "\u00B0F", 1, QColor(0x2c, 0xa0, 0x2c), false},
    {"MCT Output Voltage", "V", 3, QColor(0x9e, 0xda, 0xe5).darker(160), true},
    {"MCT Modified Temp", "\u00B0F", 1, QColor(0xff, 0x7f, 0x0e), false},
    {"MCT Output Temp", "\u00B0F", 1, QColor(0x94, 0x67, 0xbd), false},
};

const QString kBandName = QStringLiteral("Humidity Correction Active");

// Ticks and labels at round wall-clock times on a timeline that is offsetMs behind the wall clock.
class WallClockTicker : public QCPAxisTickerDateTime {
  public:
    qint64 offsetMs = 0;

    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels) override {
        const double offset = offsetMs / 1000.0;
        QCPAxisTickerDateTime::generate(range + offset, locale, formatChar, precision, ticks, subTicks,
                                        tickLabels);
        for (double& tick : ticks)
            tick -= offset;
        if (subTicks) {
            for (double& tick : *subTicks)
                tick -= offset;
        }
    }
};

QVector<QCPGraphData> toGraphData(const std::vector<PlotPoint>& points,
                                  TemperatureUnit unit = TemperatureUnit::Fahrenheit) {
    QVector<QCPGraphData> data;
    data.reserve(qsizetype(points.size()));
    for (const PlotPoint& p : points)
        data.append(QCPGraphData(p.key, temperatureIn(p.value, unit)));
    return data;
}

QString seriesUnit(int s, TemperatureUnit unit) {
    return kSeries[s].voltage ? QString::fromUtf8(kSeries[s].unit) : unitSymbol(unit);
}

}  // namespace

QString chartSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/trend-chart.ini");
}

ChartWindow::ChartWindow(Platform& platform, const FrameHistory& history, QWidget* parent)
    : ChartWindow(platform, history, true, parent) {}

ChartWindow::ChartWindow(Platform& platform, std::unique_ptr<FrameHistory> recording, const QString& name,
                         QWidget* parent)
    : ChartWindow(platform, *recording, false, parent) {
    recording_ = std::move(recording);
    setWindowTitle(name + QStringLiteral(" - Trend Chart - KestroVar Link"));
    if (!history_.empty())
        showRange(history_.at(0).timeMs, std::max(history_.back().timeMs, history_.at(0).timeMs + 1));
}

ChartWindow::ChartWindow(Platform& platform, const FrameHistory& history, bool live, QWidget* parent)
    : QWidget(parent, Qt::Window), platform_(platform), history_(history), live_(live), following_(live) {
    setObjectName(QStringLiteral("TrendChart"));
    setWindowTitle(QStringLiteral("Trend Chart - KestroVar Link"));
    setAttribute(Qt::WA_DeleteOnClose, !live);
    build();
    restoreSettings();
    if (live) {
        const qint64 end = history_.empty() ? platform_.nowMs() : history_.back().timeMs;
        showRange(end - kDefaultSpanMs, end);
    }
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::build() {
    resize(1000, 560);
    auto* layout = new QVBoxLayout(this);
    plot_ = new QCustomPlot(this);
    plot_->setObjectName(QStringLiteral("plot"));
    layout->addWidget(plot_, 1);

    auto* bar = new QHBoxLayout;
    hover_ = new QLabel(this);
    hover_->setObjectName(QStringLiteral("hover"));
    hover_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(hover_, 1);
    unitSwitch_ = new UnitSwitch(this);
    unitSwitch_->setToolTip(QStringLiteral("Temperatures in \u00B0F or \u00B0C"));
    bar->addWidget(unitSwitch_);
    follow_ = new QPushButton(QStringLiteral("Follow"), this);
    follow_->setObjectName(QStringLiteral("follow"));
    follow_->setCheckable(true);
    follow_->setChecked(following_);
    follow_->setVisible(live_);
    follow_->setToolTip(QStringLiteral("Show the newest readings as they arrive"));
    bar->addWidget(follow_);
    export_ = new QPushButton(QStringLiteral("Export\u2026"), this);
    export_->setObjectName(QStringLiteral("export"));
    export_->setToolTip(QStringLiteral("Save the visible range as PNG, PDF or CSV"));
    bar->addWidget(export_);
    layout->addLayout(bar);

    auto ticker = QSharedPointer<WallClockTicker>::create();
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss\nyyyy-MM-dd"));
    ticker->setDateTimeSpec(Qt::LocalTime);
    plot_->xAxis->setTicker(ticker);
    plot_->yAxis->setLabel(QStringLiteral("V"));
    plot_->yAxis2->setVisible(true);
    plot_->yAxis2->setLabel(QStringLiteral("\u00B0F"));
    QCPAxis* bandAxis = plot_->axisRect()->addAxis(QCPAxis::atRight);
    bandAxis->setVisible(false);
    bandAxis->setRange(0, 1);

    band_ = plot_->addGraph(plot_->xAxis, bandAxis);
    band_->setName(kBandName);
    band_->setLineStyle(QCPGraph::lsStepLeft);
    band_->setPen(Qt::NoPen);
    band_->setBrush(QColor(60, 170, 60, 45));
    for (int s = 0; s < kMonitoringFields; ++s) {
        QCPGraph* g = plot_->addGraph(plot_->xAxis, kSeries[s].voltage ? plot_->yAxis : plot_->yAxis2);
        g->setName(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kSeries[s].name),
                                                 QString::fromUtf8(kSeries[s].unit)));
        g->setPen(QPen(kSeries[s].color, 1));
        graphs_[s] = g;
    }
    plot_->legend->setVisible(true);
    plot_->legend->setBrush(QColor(255, 255, 255, 210));
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->axisRect()->setRangeDrag(Qt::Horizontal);
    plot_->axisRect()->setRangeZoom(Qt::Horizontal);
    plot_->setNoAntialiasingOnDrag(true);

    // The hover line moves with the mouse: on a layer of its own it is redrawn without the plot.
    QCPLayer* overlay = plot_->layer(QStringLiteral("overlay"));
    overlay->setMode(QCPLayer::lmBuffered);
    cursor_ = new QCPItemStraightLine(plot_);
    cursor_->setLayer(overlay);
    cursor_->setPen(QPen(QColor(0, 0, 0, 90), 1, Qt::DashLine));
    cursor_->setVisible(false);

    connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this] { rangeChanged(); });
    connect(plot_, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
                auto* entry = qobject_cast<QCPPlottableLegendItem*>(item);
                if (!entry)
                    return;
                if (entry->plottable() == band_) {
                    band_->setVisible(!band_->visible());
                    entry->setTextColor(band_->visible() ? Qt::black : Qt::gray);
                    saveSettings();
                    plot_->replot(QCustomPlot::rpQueuedReplot);
                    return;
                }
                for (int s = 0; s < kMonitoringFields; ++s) {
                    if (entry->plottable() == graphs_[s])
                        setSeriesShown(s, !graphs_[s]->visible());
                }
                saveSettings();
            });
    connect(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        hoverAt(qint64(std::llround(plot_->xAxis->pixelToCoord(event->position().x()) * 1000)));
    });
    connect(follow_, &QPushButton::toggled, this, [this](bool on) { setFollowing(on); });
    connect(unitSwitch_, &UnitSwitch::unitChanged, this, [this](TemperatureUnit unit) {
        if (unit == unit_)
            return;
        setUnit(unit);
        saveSettings();
    });
    connect(export_, &QPushButton::clicked, this, [this] { exportVisible(); });
}

void ChartWindow::setSeriesShown(int field, bool shown) {
    graphs_[field]->setVisible(shown);
    if (QCPPlottableLegendItem* item = plot_->legend->itemWithPlottable(graphs_[field]))
        item->setTextColor(shown ? Qt::black : Qt::gray);
    refresh();
}

void ChartWindow::setUnit(TemperatureUnit unit) {
    unit_ = unit;
    unitSwitch_->setUnit(unit);
    plot_->yAxis2->setLabel(unitSymbol(unit));
    for (int s = 0; s < kMonitoringFields; ++s)
        graphs_[s]->setName(
            QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kSeries[s].name), seriesUnit(s, unit)));
    refresh();
}

void ChartWindow::setFollowing(bool follow) {
    following_ = follow && live_;
    if (follow_->isChecked() != following_)
        follow_->setChecked(following_);
    if (following_)
        framesAdded();
}

void ChartWindow::framesAdded() {
    if (!following_ || history_.empty() || !onScreen())
        return;
    const QCPRange range = plot_->xAxis->range();
    const qint64 span = std::max<qint64>(1000, qint64(std::llround(range.size() * 1000)));
    const qint64 end = history_.back().timeMs;
    showRange(end - span, end);
}

void ChartWindow::showRange(qint64 fromMs, qint64 toMs) {
    updating_ = true;
    plot_->xAxis->setRange(fromMs / 1000.0, toMs / 1000.0);
    updating_ = false;
    refresh();
}

void ChartWindow::rangeChanged() {
    if (updating_)
        return;
    // The user dragged or zoomed: stay where they went.
    if (following_)
        setFollowing(false);
    refresh();
}

void ChartWindow::refresh() {
    static_cast<WallClockTicker*>(plot_->xAxis->ticker().data())->offsetMs = history_.wallOffsetMs();
    const QCPRange range = plot_->xAxis->range();
    const int columns = std::max(plotWidth(), 100);
    decimate(history_, qint64(std::floor(range.lower * 1000)), qint64(std::ceil(range.upper * 1000)), columns,
             &points_);
    band_->data()->set(toGraphData(points_.correction), true);
    double low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
    for (int s = 0; s < kMonitoringFields; ++s) {
        graphs_[s]->data()->set(
            toGraphData(points_.series[s], kSeries[s].voltage ? TemperatureUnit::Fahrenheit : unit_), true);
        // Smoothing pays off on a few points a column; on a dense min/max trace it only costs.
        graphs_[s]->setAntialiased(points_.series[s].size() < std::size_t(columns));
        if (!graphs_[s]->visible())
            continue;
        const int axis = kSeries[s].voltage ? 0 : 1;
        for (const PlotPoint& p : points_.series[s]) {
            if (std::isfinite(p.value)) {
                const double value = axis == 1 ? temperatureIn(p.value, unit_) : p.value;
                low[axis] = std::min(low[axis], value);
                high[axis] = std::max(high[axis], value);
            }
        }
    }
    QCPAxis* axes[2] = {plot_->yAxis, plot_->yAxis2};
    for (int a = 0; a < 2; ++a) {
        if (low[a] > high[a])
            continue;
        const double margin = std::max((high[a] - low[a]) * 0.05, a == 0 ? 0.05 : 0.5);
        axes[a]->setRange(low[a] - margin, high[a] + margin);
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void ChartWindow::repaintNow() {
    plot_->replot(QCustomPlot::rpImmediateRefresh);
}

int ChartWindow::plotWidth() const {
    return plot_->axisRect()->width();
}

void ChartWindow::hoverAt(qint64 timeMs) {
    auto wallText = [this](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms + history_.wallOffsetMs())
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    const QString when = wallText(timeMs);
    cursor_->point1->setCoords(timeMs / 1000.0, 0);
    cursor_->point2->setCoords(timeMs / 1000.0, 1);
    cursor_->setVisible(true);
    const std::size_t i = history_.nearest(timeMs);
    const qint64 slack = std::max<qint64>(
        history_.gapMs(),
        qint64(plot_->xAxis->range().size() * 1000 / std::max(plot_->axisRect()->width(), 1) * 4));
    if (i >= history_.size() || std::abs(history_.at(i).timeMs - timeMs) > slack) {
        hover_->setText(when + QStringLiteral("  no reading"));
    } else {
        const HistoryFrame& f = history_.at(i);
        QStringList parts;
        for (int s = 0; s < kMonitoringFields; ++s) {
            const double value = kSeries[s].voltage ? f.values[s] : temperatureIn(f.values[s], unit_);
            parts << QStringLiteral("%1 %2%3").arg(
                QString::fromUtf8(kSeries[s].name).remove(QStringLiteral("MCT ")),
                QString::number(value, 'f', kSeries[s].decimals), seriesUnit(s, unit_));
        }
        parts << (f.correctionActive ? QStringLiteral("correction active")
                                     : QStringLiteral("correction not active"));
        hover_->setText(wallText(f.timeMs) + QStringLiteral("  ") + parts.join(QStringLiteral(", ")));
    }
    cursor_->layer()->replot();
}

std::vector<PlotPoint> ChartWindow::drawnPoints(int field) const {
    std::vector<PlotPoint> points;
    for (const QCPGraphData& d : *graphs_[field]->data())
        points.push_back({d.key, d.value});
    return points;
}

QString ChartWindow::hoverText() const {
    return hover_->text();
}

void ChartWindow::exportVisible() {
    FileDialogOptions options;
    options.title = QStringLiteral("Export Visible Range");
    options.filter = QStringLiteral(
        "PNG image (*.png)|*.png|PDF document (*.pdf)|*.pdf|"
        "CSV readings (*.csv)|*.csv");
    options.fileName = QStringLiteral("kestrovar-chart.png");
    const std::optional<QString> path = platform_.fileDialog(this, FileDialogKind::Save, options);
    if (!path)
        return;
    QString reason;
    if (!exportTo(*path, &reason)) {
        platform_.messageBox(this,
                             asSentence(QStringLiteral("Could not export to %1: %2").arg(*path, reason)));
    }
}

bool ChartWindow::exportTo(const QString& path, QString* reason) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("csv")) {
        const QCPRange range = plot_->xAxis->range();
        QByteArray content = readingsCsvHeader(unit_);
        const qint64 toMs = qint64(std::ceil(range.upper * 1000));
        for (std::size_t i = history_.lowerBound(qint64(std::floor(range.lower * 1000)));
             i < history_.size() && history_.at(i).timeMs <= toMs; ++i) {
            const HistoryFrame& f = history_.at(i);
            content += readingsCsvRow(FeedFrame{f.wallMs, f.values, f.correctionActive}, unit_);
        }
        return writeWholeFile(path, content, reason);
    }
    const bool ok =
        suffix == QStringLiteral("pdf") ? plot_->savePdf(path) : plot_->savePng(path, 0, 0, 1.0, -1, 96);
    if (!ok)
        *reason = QStringLiteral("the file could not be written");
    return ok;
}

void ChartWindow::saveSettings() const {
    QSettings settings(chartSettingsPath(), QSettings::IniFormat);
    if (live_)
        settings.setValue(QStringLiteral("geometry"), saveGeometry());
    QStringList hidden;
    for (int s = 0; s < kMonitoringFields; ++s) {
        if (!graphs_[s]->visible())
            hidden << QString::number(s);
    }
    if (!band_->visible())
        hidden << QStringLiteral("band");
    settings.setValue(QStringLiteral("hiddenSeries"), hidden);
    settings.setValue(QStringLiteral("unit"), unitKey(unit_));
}

void ChartWindow::restoreSettings() {
    QSettings settings(chartSettingsPath(), QSettings::IniFormat);
    if (live_)
        restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    setUnit(unitFromKey(settings.value(QStringLiteral("unit")).toString()));
    const QStringList hidden = settings.value(QStringLiteral("hiddenSeries")).toStringList();
    for (int s = 0; s < kMonitoringFields; ++s) {
        if (hidden.contains(QString::number(s)))
            setSeriesShown(s, false);
    }
    if (hidden.contains(QStringLiteral("band"))) {
        band_->setVisible(false);
        if (QCPPlottableLegendItem* item = plot_->legend->itemWithPlottable(band_))
            item->setTextColor(Qt::gray);
    }
}

void ChartWindow::hideEvent(QHideEvent* event) {
    saveSettings();
    QWidget::hideEvent(event);
}

void ChartWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Nothing is drawn while minimised; back on screen it catches up with the frames it missed.
    if (event->type() == QEvent::WindowStateChange && onScreen())
        framesAdded();
}

void ChartWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

}  // namespace kv
