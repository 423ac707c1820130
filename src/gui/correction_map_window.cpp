#include "gui/correction_map_window.h"

#include "core/readings/readings.h"
#include "gui/main_window.h"
#include "gui/trend_tools.h"
#include "gui/unit_switch.h"

#include <QAction>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QStandardPaths>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>

namespace kv {

namespace {

constexpr double kLeft = 70, kTop = 56, kRight = 128, kBottom = 14;
const QColor kMarked(0xc0, 0x00, 0x00);

QColor rgb(std::uint32_t color) {
    return QColor(int(color >> 16 & 0xff), int(color >> 8 & 0xff), int(color & 0xff));
}

bool dark(const QColor& c) {
    return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue() < 140;
}

// The edges of the cells around each breakpoint place: halfway to the neighbours, and as far again
// beyond the first and the last; then all of it scaled to 0..1.
std::vector<double> cellEdges(const std::vector<double>& places, std::vector<double>* scaledPlaces) {
    const std::size_t n = places.size();
    std::vector<double> edges(n + 1);
    edges[0] = places[0] - (places[1] - places[0]) / 2;
    for (std::size_t i = 1; i < n; ++i)
        edges[i] = (places[i - 1] + places[i]) / 2;
    edges[n] = places[n - 1] + (places[n - 1] - places[n - 2]) / 2;
    const double low = edges[0], size = std::max(edges[n] - edges[0], 1e-9);
    for (double& e : edges)
        e = (e - low) / size;
    *scaledPlaces = places;
    for (double& p : *scaledPlaces)
        p = (p - low) / size;
    return edges;
}

double placeOf(const std::vector<double>& places, const AxisSpot& spot) {
    if (spot.where == AxisSpot::Where::Before)
        return 0;
    if (spot.where == AxisSpot::Where::After)
        return 1;
    return spotPosition(places, spot);
}

// A legend tick: whole °F without decimals, °C with one; signed.
QString tickText(double value, TemperatureUnit unit) {
    const bool whole = unit == TemperatureUnit::Fahrenheit && value == std::round(value);
    const QString text = QString::number(value, 'f', whole ? 0 : 1);
    return value > 0 ? u'+' + text : text;
}

double outwardOf(const AxisSpot& spot) {
    return spot.where == AxisSpot::Where::Before ? -1 : spot.where == AxisSpot::Where::After ? 1 : 0;
}

}  // namespace

// ---- the painted map ------------------------------------------------------------------------

CorrectionMapView::CorrectionMapView(const FrameHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    setObjectName(QStringLiteral("map"));
    setAccessibleName(QStringLiteral("Correction map"));
    setMinimumSize(420, 320);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void CorrectionMapView::setTable(const MapTable& table) {
    table_ = table;
    background_ = QPixmap();
    cols_ = columnValues(table);
    rows_ = rowValues(table);
    for (int k = 0; k < 30; ++k) {
        rises_[std::size_t(k)] = cellRise(table, k / 5, k % 5);
        cellEmpty_[std::size_t(k)] = !boxValue(table.cells[std::size_t(k)]);
    }
    limit_ = riseScaleLimit(table);
}

CorrectionMapView::Geometry CorrectionMapView::geometry() const {
    Geometry g;
    g.grid = QRectF(rect()).adjusted(kLeft, kTop, -kRight, -kBottom);
    std::vector<double> colPlaces, rowPlaces;
    g.colEdges = cellEdges(breakpointPositions(cols_, true), &colPlaces);
    g.rowEdges = cellEdges(breakpointPositions(rows_, false), &rowPlaces);
    g.cols = colPlaces;
    g.rows = rowPlaces;
    return g;
}

double CorrectionMapView::xAt(const Geometry& g, double place) const {
    return g.grid.left() + place * g.grid.width();
}

double CorrectionMapView::yAt(const Geometry& g, double place) const {
    return g.grid.top() + place * g.grid.height();
}

QRectF CorrectionMapView::cellRect(int r, int c) const {
    const Geometry g = geometry();
    return cellRect(g, r, c);
}

QRectF CorrectionMapView::cellRect(const Geometry& g, int r, int c) const {
    return QRectF(QPointF(xAt(g, g.colEdges[std::size_t(c)]), yAt(g, g.rowEdges[std::size_t(r)])),
                  QPointF(xAt(g, g.colEdges[std::size_t(c) + 1]), yAt(g, g.rowEdges[std::size_t(r) + 1])));
}

bool CorrectionMapView::pointOf(const Geometry& g, float mctF, float dewPointF, QPointF* point,
                                QPointF* outward) const {
    const AxisSpot c = locateOnAxis(cols_, true, mctF);
    const AxisSpot r = locateOnAxis(rows_, false, dewPointF);
    if (c.where == AxisSpot::Where::Unknown || r.where == AxisSpot::Where::Unknown)
        return false;
    *point = QPointF(xAt(g, placeOf(g.cols, c)), yAt(g, placeOf(g.rows, r)));
    if (outward)
        *outward = QPointF(outwardOf(c), outwardOf(r));
    return true;
}

std::optional<QPointF> CorrectionMapView::markerPosition() const {
    if (history_.empty())
        return std::nullopt;
    const HistoryFrame& f = history_.back();
    QPointF point;
    if (!pointOf(geometry(), f.values[inputTemp], f.values[dewPoint], &point, nullptr))
        return std::nullopt;
    return point;
}

std::vector<std::pair<int, int>> CorrectionMapView::outlinedCells() const {
    std::vector<std::pair<int, int>> cells;
    if (history_.empty())
        return cells;
    const HistoryFrame& f = history_.back();
    const AxisSpot c = locateOnAxis(cols_, true, f.values[inputTemp]);
    const AxisSpot r = locateOnAxis(rows_, false, f.values[dewPoint]);
    if (c.where == AxisSpot::Where::Unknown || r.where == AxisSpot::Where::Unknown)
        return cells;
    for (int row : {r.lower, r.upper}) {
        for (int col : {c.lower, c.upper}) {
            if (std::find(cells.begin(), cells.end(), std::pair{row, col}) == cells.end())
                cells.emplace_back(row, col);
        }
    }
    return cells;
}

QString CorrectionMapView::cellHoverText(const QPointF& pos) const {
    const Geometry g = geometry();
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 5; ++c) {
            if (!cellRect(g, r, c).contains(pos))
                continue;
            const QString& text = table_.cells[std::size_t(5 * r + c)];
            const std::optional<double> cell = boxValue(text);
            const auto both = [this](double f) {
                const QString fahrenheit =
                    axisLabel(f, TemperatureUnit::Fahrenheit) + QStringLiteral(" \u00B0F");
                if (unit_ == TemperatureUnit::Fahrenheit)
                    return fahrenheit;
                return temperatureTextIn(float(f), unit_) + QStringLiteral(" (") + fahrenheit + u')';
            };
            const auto row = boxValue(table_.row[std::size_t(r)]);
            const auto col = boxValue(table_.col[std::size_t(c)]);
            QString hover = QStringLiteral("Dew point %1, MCT %2: ")
                                .arg(row ? both(*row) : QStringLiteral("empty"),
                                     col ? both(*col) : QStringLiteral("empty"));
            hover += cell ? both(*cell) : QStringLiteral("empty");
            if (const std::optional<double> rise = cellRise(table_, r, c)) {
                hover += QStringLiteral(", %1 over the column").arg(differenceTextIn(*rise, unit_));
            }
            if (table_.cellDiffers[std::size_t(5 * r + c)])
                hover += QStringLiteral("; differs from the KestroVar");
            return hover;
        }
    }
    return QString();
}

void CorrectionMapView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        background_ = QPixmap();
    QWidget::changeEvent(event);
}

bool CorrectionMapView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = cellHoverText(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

void CorrectionMapView::paintEvent(QPaintEvent*) {
    const Geometry g = geometry();
    QPainter p(this);
    // The cells, axes and legend change with the table, not with a frame: drawn once into a
    // picture that each frame only copies.
    const qreal ratio = devicePixelRatioF();
    if (background_.size() != size() * ratio || background_.isNull()) {
        background_ = QPixmap(size() * ratio);
        background_.setDevicePixelRatio(ratio);
        QPainter b(&background_);
        paintBackground(b, g);
    }
    p.drawPixmap(0, 0, background_);
    paintPoint(p, g);
}

void CorrectionMapView::paintBackground(QPainter& p, const Geometry& g) {
    p.fillRect(rect(), palette().color(QPalette::Window));
    const QString symbol = unitSymbol(unit_);
    const double limit = limit_;
    const auto& cols = cols_;
    const auto& rows = rows_;

    // The cells, each with its number where its breakpoints cross.
    QFont numberFont = font();
    numberFont.setPointSizeF(std::clamp(g.grid.height() / 40, 7.5, 11.0));
    p.setFont(numberFont);
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 5; ++c) {
            const std::size_t k = std::size_t(5 * r + c);
            const QRectF cell = cellRect(g, r, c);
            const std::optional<double>& rise = rises_[k];
            const QColor fill = rise ? rgb(riseColor(*rise, limit)) : QColor(0xfa, 0xfa, 0xfa);
            p.fillRect(cell, fill);
            if (cellEmpty_[k])
                p.fillRect(cell, QBrush(QColor(0xb0, 0xb0, 0xb0), Qt::BDiagPattern));
            p.setPen(QColor(255, 255, 255, 160));
            p.drawRect(cell);
            if (table_.cellDiffers[k]) {
                QPainterPath corner;
                corner.moveTo(cell.topLeft());
                corner.lineTo(cell.topLeft() + QPointF(13, 0));
                corner.lineTo(cell.topLeft() + QPointF(0, 13));
                corner.closeSubpath();
                p.fillPath(corner, kMarked);
                p.setPen(QPen(Qt::white, 1.5));
                p.drawPath(corner);  // keeps the mark apart on a deep red cell
            }
            const QPointF at(xAt(g, g.cols[std::size_t(c)]), yAt(g, g.rows[std::size_t(r)]));
            p.setPen(dark(fill) ? Qt::white : Qt::black);
            p.drawText(QRectF(at.x() - 40, at.y() - 12, 80, 24), Qt::AlignCenter, table_.cells[k]);
        }
    }

    // The axes: their values in label boxes coloured as the editor's, and their titles.
    QFont labelFont = font();
    p.setFont(labelFont);
    const auto label = [&](const QRectF& box, const std::optional<double>& value, bool differs) {
        p.fillRect(box, differs ? colorFromBgr(kAxisDiffering) : colorFromBgr(kAxisNormal));
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignCenter, value ? axisLabel(*value, unit_) : QString());
    };
    for (int c = 0; c < 5; ++c) {
        // As wide as the neighbours leave room for, so that close breakpoints keep apart.
        const double x = xAt(g, g.cols[std::size_t(c)]);
        double room = 44;
        for (int other : {c - 1, c + 1}) {
            if (other >= 0 && other < 5)
                room = std::min(room, std::abs(xAt(g, g.cols[std::size_t(other)]) - x) - 4);
        }
        room = std::max(room, 8.0);
        label(QRectF(x - room / 2, g.grid.top() - 24, room, 20), cols[std::size_t(c)],
              table_.colDiffers[std::size_t(c)]);
    }
    for (int r = 0; r < 6; ++r) {
        const double y = yAt(g, g.rows[std::size_t(r)]);
        label(QRectF(g.grid.left() - 50, y - 10, 46, 20), rows[std::size_t(r)],
              table_.rowDiffers[std::size_t(r)]);
    }
    QFont titleFont = font();
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRectF(g.grid.left(), 4, g.grid.width(), 22), Qt::AlignCenter,
               QStringLiteral("MCT ") + symbol);
    p.save();
    p.translate(14, g.grid.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-g.grid.height() / 2, -10, g.grid.height(), 20), Qt::AlignCenter,
               QStringLiteral("Dew point ") + symbol);
    p.restore();

    // The legend: the colour scale of the rise over the column, and the difference mark.
    const QRectF bar(g.grid.right() + 26, g.grid.top() + 22, 16, std::max(60.0, g.grid.height() - 96));
    for (int i = 0; i < int(bar.height()); ++i) {
        const double rise = limit * (1 - 2 * (i + 0.5) / bar.height());
        p.fillRect(QRectF(bar.left(), bar.top() + i, bar.width(), 1), rgb(riseColor(rise, limit)));
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(bar);
    p.setFont(labelFont);
    p.drawText(QRectF(bar.left() - 22, g.grid.top() - 24, 110, 40), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("Cell \u2212 MCT\n(%1)").arg(symbol));
    for (int i = 0; i <= 4; ++i) {
        const double rise = limit * (1 - i / 2.0);
        const double y = bar.top() + bar.height() * i / 4;
        p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 4, y));
        p.drawText(QRectF(bar.right() + 7, y - 9, 60, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   tickText(differenceIn(rise, unit_), unit_));
    }
    QPainterPath corner;
    const QPointF mark(bar.left(), bar.bottom() + 14);
    corner.moveTo(mark);
    corner.lineTo(mark + QPointF(13, 0));
    corner.lineTo(mark + QPointF(0, 13));
    corner.closeSubpath();
    p.fillPath(corner, kMarked);
    p.drawText(QRectF(mark.x() + 17, mark.y() - 3, kRight - 20, 36), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("differs from\nthe KestroVar"));
}

void CorrectionMapView::paintPoint(QPainter& p, const Geometry& g) {
    if (history_.empty())
        return;
    p.setClipRect(g.grid.adjusted(-12, -12, 12, 12));

    // The trail of the last ten minutes, fading with age; a gap in the readings breaks it.
    const HistoryFrame& newest = history_.back();
    constexpr int kShades = 8;
    std::array<std::vector<QLineF>, kShades> shades;
    QPointF previous;
    bool joined = false;
    for (std::size_t i = history_.lowerBound(newest.timeMs - kTrailMs); i < history_.size(); ++i) {
        const HistoryFrame& f = history_.at(i);
        QPointF point;
        if (f.gapBefore || !pointOf(g, f.values[inputTemp], f.values[dewPoint], &point, nullptr)) {
            joined = pointOf(g, f.values[inputTemp], f.values[dewPoint], &previous, nullptr);
            continue;
        }
        if (joined &&
            (std::abs(point.x() - previous.x()) >= 0.5 || std::abs(point.y() - previous.y()) >= 0.5)) {
            const double age = double(newest.timeMs - f.timeMs) / double(kTrailMs);
            shades[std::size_t(std::clamp(int((1 - age) * kShades), 0, kShades - 1))].emplace_back(previous,
                                                                                                   point);
            previous = point;
        } else if (!joined) {
            previous = point;
        }
        joined = true;
    }
    for (int s = 0; s < kShades; ++s) {
        // Not smoothed: a smoothed trail of a noisy reading, every frame a jump across the map,
        // took 60 times as long (34 ms against 0.5 ms).
        p.setPen(QPen(QColor(20, 20, 20, 30 + 200 * s / (kShades - 1)), 2));
        p.drawLines(shades[std::size_t(s)].data(), int(shades[std::size_t(s)].size()));
    }
    p.setRenderHint(QPainter::Antialiasing);

    // The cells the device works between now, and the point itself: an arrow at the edge when it
    // lies outside the axes.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(20, 20, 20), 2.5));
    for (auto [r, c] : outlinedCells())
        p.drawRect(cellRect(g, r, c).adjusted(1.5, 1.5, -1.5, -1.5));
    QPointF point, outward;
    if (!pointOf(g, newest.values[inputTemp], newest.values[dewPoint], &point, &outward))
        return;
    const QColor ink = linkUpForPaint_ ? QColor(10, 10, 10) : QColor(110, 110, 110);
    if (outward.isNull()) {
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(ink);
        p.drawEllipse(point, 7, 7);
        return;
    }
    const double length = std::hypot(outward.x(), outward.y());
    const QPointF d = outward / length;
    const QPointF n(-d.y(), d.x());
    QPolygonF arrow;
    arrow << point + d * 12 << point - d * 6 + n * 9 << point - d * 6 - n * 9;
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(ink);
    p.drawPolygon(arrow);
}

// ---- the window -----------------------------------------------------------------------------

QString correctionMapSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/correction-map.ini");
}

CorrectionMapWindow::CorrectionMapWindow(const FrameHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
    setObjectName(QStringLiteral("CorrectionMap"));
    setWindowTitle(QStringLiteral("Correction Map - KestroVar Link"));
    build();
    QSettings settings(correctionMapSettingsPath(), QSettings::IniFormat);
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    setUnit(unitFromKey(settings.value(QStringLiteral("unit")).toString()));
    showReadings();
}

CorrectionMapWindow::~CorrectionMapWindow() = default;

void CorrectionMapWindow::build() {
    resize(900, 540);
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    view_ = new CorrectionMapView(history_, this);
    left->addWidget(view_, 1);
    outside_ = new QLabel(this);
    outside_->setObjectName(QStringLiteral("outside"));
    outside_->setWordWrap(true);
    outside_->setStyleSheet(QStringLiteral("QLabel { color: #a00000; font-weight: bold; }"));
    outside_->hide();
    left->addWidget(outside_);
    layout->addLayout(left, 1);

    auto* side = new QVBoxLayout;
    auto* form = new QFormLayout;
    unitSwitch_ = new UnitSwitch(this);
    form->addRow(QStringLiteral("Units:"), unitSwitch_);
    const char* names[] = {
        "MCT Input Temp:", "MCT Modified Temp:", "MCT Output Temp:", "Dew Point:", "Correction now:"};
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    big.setBold(true);
    for (std::size_t i = 0; i < readings_.size(); ++i) {
        readings_[i] = new QLabel(this);
        readings_[i]->setObjectName(QStringLiteral("reading%1").arg(i));
        readings_[i]->setFont(big);
        readings_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        readings_[i]->setMinimumWidth(110);
        auto* name = new QLabel(QString::fromUtf8(names[i]), this);
        name->setBuddy(readings_[i]);
        readings_[i]->setAccessibleName(QString::fromUtf8(names[i]).chopped(1));
        form->addRow(name, readings_[i]);
    }
    readings_[4]->setToolTip(
        QStringLiteral("MCT Modified Temp \u2212 MCT Input Temp: what the table adds now"));
    side->addLayout(form);
    when_ = new QLabel(this);
    when_->setObjectName(QStringLiteral("when"));
    when_->setWordWrap(true);
    side->addWidget(when_);
    side->addStretch(1);
    layout->addLayout(side);

    connect(unitSwitch_, &UnitSwitch::unitChanged, this, [this](TemperatureUnit unit) {
        if (unit == view_->unit())
            return;
        setUnit(unit);
        saveSettings();
    });
}

TemperatureUnit CorrectionMapWindow::unit() const {
    return view_->unit();
}

void CorrectionMapWindow::setUnit(TemperatureUnit unit) {
    const bool changed = unit != view_->unit();
    view_->setUnit(unit);
    unitSwitch_->setUnit(unit);
    if (changed) {
        showReadings();
        requestRedraw();
    }
}

void CorrectionMapWindow::setTable(const MapTable& table) {
    if (table == view_->table())
        return;
    view_->setTable(table);
    showReadings();
    requestRedraw();
}

void CorrectionMapWindow::framesAdded() {
    linkUp_ = true;
    view_->setLinkUp(true);
    if (!isVisible())
        return;  // brought up to date when shown
    showReadings();
    requestRedraw();
}

void CorrectionMapWindow::linkChanged(bool up) {
    if (up == linkUp_)
        return;
    linkUp_ = up;
    view_->setLinkUp(up);
    showReadings();
    requestRedraw();
}

QStringList CorrectionMapWindow::readingTexts() const {
    QStringList texts;
    for (QLabel* label : readings_)
        texts << label->text();
    return texts;
}

QString CorrectionMapWindow::outsideText() const {
    return outside_->isHidden() ? QString() : outside_->text();
}

void CorrectionMapWindow::showReadings() {
    const TemperatureUnit u = unit();
    if (history_.empty()) {
        for (QLabel* label : readings_)
            label->setText(QString::fromUtf16(kNoReading));
        when_->setText(
            QStringLiteral("No readings yet: connect to the KestroVar to see where it works in the table."));
        view_->setAccessibleDescription(QStringLiteral("no readings yet"));
        outside_->hide();
        return;
    }
    const HistoryFrame& f = history_.back();
    readings_[0]->setText(temperatureTextIn(f.values[inputTemp], u));
    readings_[1]->setText(temperatureTextIn(f.values[modifiedTemp], u));
    readings_[2]->setText(temperatureTextIn(f.values[outputTemp], u));
    readings_[3]->setText(temperatureTextIn(f.values[dewPoint], u));
    readings_[4]->setText(differenceTextIn(double(f.values[modifiedTemp]) - double(f.values[inputTemp]), u));
    const QString time = QDateTime::fromMSecsSinceEpoch(f.timeMs).toString(QStringLiteral("HH:mm:ss"));
    when_->setText(linkUp_ ? QStringLiteral("Reading of %1; the trail shows the last ten minutes.").arg(time)
                           : QStringLiteral("No link: the last reading came at %1.").arg(time));
    view_->setAccessibleDescription(
        operatingPointDescription(view_->table(), f.values[dewPoint], f.values[inputTemp], u));
    const QString outside = outsideAxesText(view_->table(), f.values[dewPoint], f.values[inputTemp], u);
    outside_->setText(outside);
    outside_->setVisible(!outside.isEmpty());
}

void CorrectionMapWindow::requestRedraw() {
    if (!isVisible())
        return;
    ++redrawRequests_;
    view_->update();
}

void CorrectionMapWindow::repaintNow() {
    view_->repaint();
}

void CorrectionMapWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showReadings();
}

void CorrectionMapWindow::hideEvent(QHideEvent* event) {
    saveSettings();
    QWidget::hideEvent(event);
}

void CorrectionMapWindow::saveSettings() const {
    QSettings settings(correctionMapSettingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("unit"), unitKey(unit()));
}

// ---- the menu item and the editor -----------------------------------------------------------

MapTable editorTable(const Form1& window) {
    MapTable table;
    const QColor axisDiffering = colorFromBgr(kAxisDiffering);
    const QColor cellDiffering = colorFromBgr(kCellDiffering);
    for (std::size_t i = 0; i < 5; ++i) {
        table.col[i] = window.Col[i]->text();
        table.colDiffers[i] = Form1::backColor(window.Col[i]) == axisDiffering;
    }
    for (std::size_t i = 0; i < 6; ++i) {
        table.row[i] = window.Row[i]->text();
        table.rowDiffers[i] = Form1::backColor(window.Row[i]) == axisDiffering;
    }
    for (std::size_t i = 0; i < 30; ++i) {
        table.cells[i] = window.Matrix[i]->text();
        table.cellDiffers[i] = Form1::backColor(window.Matrix[i]) == cellDiffering;
    }
    return table;
}

CorrectionMapTool::CorrectionMapTool(Form1& window) : QObject(&window), window_(window) {
    CorrectionMap = window.Tools->addAction(QStringLiteral("Correction Map"));
    CorrectionMap->setObjectName(QStringLiteral("CorrectionMap"));
    connect(CorrectionMap, &QAction::triggered, this, [this] { CorrectionMap_Click(); });
    connect(window.frameFeed, &FrameFeed::frameReceived, this, [this] {
        if (map_)
            map_->framesAdded();
    });
    connect(window.frameFeed, &FrameFeed::linkChanged, this, [this](bool up, qint64) {
        if (map_)
            map_->linkChanged(up);
    });
}

void CorrectionMapTool::CorrectionMap_Click() {
    if (!map_) {
        map_ = new CorrectionMapWindow(window_.trendTools->history(), &window_);
        map_->setTable(editorTable(window_));
        // A box's text and its difference mark (its background) are what the map shows of it.
        // Connected after the editor's own change handlers, so that a change is read once it is
        // marked.
        std::vector<QLineEdit*> boxes(window_.Col.begin(), window_.Col.end());
        boxes.insert(boxes.end(), window_.Row.begin(), window_.Row.end());
        boxes.insert(boxes.end(), window_.Matrix.begin(), window_.Matrix.end());
        for (QLineEdit* box : boxes) {
            connect(box, &QLineEdit::textChanged, this, [this] { editorChanged(); });
            box->installEventFilter(this);
        }
    }
    bringToFront(map_);
}

bool CorrectionMapTool::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        editorChanged();
    return QObject::eventFilter(watched, event);
}

void CorrectionMapTool::editorChanged() {
    if (map_)
        map_->setTable(editorTable(window_));
}

}  // namespace kv
