#include "gui/artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace kv {

namespace {

const QColor kNavy(0x1F, 0x3A, 0x5F);
const QColor kDrop(0x3A, 0x9B, 0xDC);
const QColor kWarm(0xE8, 0x6A, 0x33);

QPainterPath dropPath(const QRectF& box) {
    // A drop: a circle at the bottom pulled up to a point.
    QPainterPath path;
    const qreal r = box.width() / 2;
    const QPointF centre(box.center().x(), box.bottom() - r);
    path.moveTo(box.center().x(), box.top());
    path.cubicTo(QPointF(box.center().x() + r * 0.35, box.top() + box.height() * 0.3),
                 QPointF(box.right(), centre.y() - r * 0.6), QPointF(box.right(), centre.y()));
    path.arcTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 0, -180);
    path.cubicTo(QPointF(box.left(), centre.y() - r * 0.6),
                 QPointF(box.center().x() - r * 0.35, box.top() + box.height() * 0.3),
                 QPointF(box.center().x(), box.top()));
    return path;
}

void paintIcon(QPainter& painter, int size) {
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kNavy);
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
    painter.setBrush(kDrop);
    painter.drawPath(dropPath(QRectF(s * 0.16, s * 0.12, s * 0.46, s * 0.72)));
    // A thermometer beside the drop.
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(s * 0.68, s * 0.16, s * 0.14, s * 0.56), s * 0.07, s * 0.07);
    painter.drawEllipse(QPointF(s * 0.75, s * 0.76), s * 0.12, s * 0.12);
    painter.setBrush(kWarm);
    painter.drawRect(QRectF(s * 0.72, s * 0.40, s * 0.06, s * 0.34));
    painter.drawEllipse(QPointF(s * 0.75, s * 0.76), s * 0.08, s * 0.08);
}

}  // namespace

QImage applicationIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintIcon(painter, size);
    return image;
}

QIcon applicationIcon() {
    static const QIcon icon = [] {
        QIcon result;
        // Window icons are shown up to 128 pixels. Every size is painted at start-up and, on X11,
        // handed to the window system; a 256-pixel image would cost as much as all the others.
        for (int size : {16, 24, 32, 48, 64, 128}) {
            result.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
        }
        return result;
    }();
    return icon;
}

QPixmap productLogo(QSize size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, size.width(), size.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(kNavy);
    painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), 6, 6);
    const qreal h = area.height();
    painter.setBrush(kDrop);
    painter.drawPath(dropPath(QRectF(h * 0.12, h * 0.12, h * 0.34, h * 0.52)));
    painter.setPen(Qt::white);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(int(h * 0.26));
    painter.setFont(font);
    painter.drawText(QRectF(h * 0.5, h * 0.08, area.width() - h * 0.55, h * 0.5),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kestro"));
    painter.setPen(kDrop);
    painter.drawText(QRectF(h * 0.5, h * 0.4, area.width() - h * 0.55, h * 0.3),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Var"));
    font.setBold(false);
    font.setPixelSize(int(h * 0.15));
    painter.setFont(font);
    painter.setPen(QColor(0xC8, 0xD6, 0xE5));
    painter.drawText(QRectF(0, h * 0.72, area.width(), h * 0.22), Qt::AlignCenter,
                     QStringLiteral("DEW POINT"));
    return pixmap;
}

CalibrationPanel::CalibrationPanel(QWidget* parent) : QWidget(parent) {}

void CalibrationPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(128, 128, 128));
    painter.setPen(Qt::white);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPointSizeF(12);
    painter.setFont(font);
    painter.drawText(QRect(0, 4, width(), 28), Qt::AlignCenter, QStringLiteral("MCT °F"));
    // "Dew point °F" reads upwards along the left edge.
    painter.save();
    painter.translate(4, height());
    painter.rotate(-90);
    painter.drawText(QRect(0, 0, height(), 28), Qt::AlignCenter, QStringLiteral("Dew point °F"));
    painter.restore();
}

}  // namespace kv
