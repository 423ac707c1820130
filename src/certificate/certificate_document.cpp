#include "certificate/certificate_document.h"
#include "core/system_reason.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>

static void initLayoutResource() {
    Q_INIT_RESOURCE(certificate);
}

namespace kv {

namespace {

const QRegularExpression& placeholder() {
    static const QRegularExpression re(QStringLiteral("\\{\\{([a-z_]+)\\}\\}"));
    return re;
}

// Replaces each {{name}} of `text` in one pass, so that a value holding "{{...}}" stays as it is.
QString fill(const QString& text, const QHash<QString, QString>& values) {
    QString out;
    qsizetype from = 0;
    for (auto it = placeholder().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(from, m.capturedStart() - from);
        out += values.value(m.captured(1), m.captured(0));
        from = m.capturedEnd();
    }
    out += QStringView(text).mid(from);
    return out;
}

QString esc(const QString& text) {
    return text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br/>"));
}

// An as-left cell: the value, shaded and marked when it differs from the one found.
QString cell(const QString& value, bool changed, const char* align = "right") {
    return changed ? QStringLiteral("<td class=\"changed\" align=\"%1\">%2 *</td>")
                         .arg(QLatin1String(align), esc(value))
                   : QStringLiteral("<td align=\"%1\">%2</td>").arg(QLatin1String(align), esc(value));
}

QString grid(const Certificate& c, const CalibrationTexts& t, bool asLeft) {
    QString html =
        QStringLiteral(
            "<p class=\"side\">%1</p><table width=\"94%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\" "
            "style=\"border-collapse: collapse; border-color: #8a9bb0; border-style: solid;\">"
            "<tr><th>DP \\ MCT</th>")
            .arg(asLeft ? QStringLiteral("As left") : QStringLiteral("As found"));
    for (int k = 0; k < 5; ++k) {
        html += QStringLiteral("<th align=\"right\">%1</th>").arg(esc(t.col[std::size_t(k)]));
    }
    html += QStringLiteral("</tr>");
    for (int r = 0; r < 6; ++r) {
        html +=
            QStringLiteral("<tr><td class=\"axis\" align=\"right\">%1</td>").arg(esc(t.row[std::size_t(r)]));
        for (int k = 0; k < 5; ++k) {
            const int field = 11 + r * 5 + k;
            html += cell(t.matrix[std::size_t(r * 5 + k)], asLeft && c.changed(field));
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QString results(const Certificate& c) {
    const QString table = QStringLiteral(
        "<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\" "
        "style=\"border-collapse: collapse; border-color: #8a9bb0; border-style: solid;\">");
    QString html = QStringLiteral("<h3>Settings</h3>") + table +
                   QStringLiteral(
                       "<tr><th align=\"left\">Setting</th><th align=\"left\">Unit</th>"
                       "<th align=\"right\">As found</th><th align=\"right\">As left</th></tr>");
    auto setting = [&](const char* name, const char* unit, const QString& found, const QString& left,
                       int field) {
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td align=\"right\">%3</td>%4</tr>")
                    .arg(QString::fromUtf8(name), QString::fromUtf8(unit), esc(found),
                         cell(left, c.changed(field)));
    };
    setting("Startup time delay", "min", c.asFound.delay, c.asLeft.delay, 41);
    setting("Humidity correction active", "", c.asFound.active, c.asLeft.active, 42);
    html += QStringLiteral("</table><h3>Axes</h3>") + table +
            QStringLiteral(
                "<tr><th align=\"left\">Axis</th><th align=\"left\">Unit</th><th align=\"left\"></th>");
    for (int k = 1; k <= 6; ++k) {
        html += QStringLiteral("<th align=\"right\">%1</th>").arg(k);
    }
    html += QStringLiteral("</tr>");
    auto axis = [&](const char* name, auto found, auto left, int first) {
        for (const bool asLeft : {false, true}) {
            html += QStringLiteral("<tr><td>%1</td><td>°F</td><td>%2</td>")
                        .arg(asLeft ? QString() : QString::fromUtf8(name),
                             asLeft ? QStringLiteral("As left") : QStringLiteral("As found"));
            const auto& values = asLeft ? left : found;
            for (std::size_t k = 0; k < 6; ++k) {
                html += k < values.size()
                            ? (asLeft ? cell(values[k], c.changed(first + int(k)))
                                      : QStringLiteral("<td align=\"right\">%1</td>").arg(esc(values[k])))
                            : QStringLiteral("<td></td>");
            }
            html += QStringLiteral("</tr>");
        }
    };
    axis("MCT axis", c.asFound.col, c.asLeft.col, 0);
    axis("Dew point (DP) axis", c.asFound.row, c.asLeft.row, 5);
    html += QStringLiteral(
                "</table><h3>Correction table, °F</h3>"
                "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"0\"><tr><td width=\"50%\">") +
            grid(c, c.asFound, false) + QStringLiteral("</td><td width=\"50%\">") + grid(c, c.asLeft, true) +
            QStringLiteral("</td></tr></table>");
    return html;
}

QString footerOf(const QString& layout) {
    static const QRegularExpression re(QStringLiteral("<!--\\s*footer:(.*?)-->"));
    const QRegularExpressionMatch m = re.match(layout);
    return m.hasMatch() ? m.captured(1).trimmed() : QStringLiteral("Page {{page}} of {{pages}}");
}

}  // namespace

QString builtInCertificateLayout() {
    initLayoutResource();
    QFile file(QStringLiteral(":/certificate/certificate_layout.html"));
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

QString certificateLayout(const LabDetails& lab, QString* problem) {
    if (!lab.layout.isEmpty()) {
        QFile file(lab.layout);
        if (file.open(QIODevice::ReadOnly)) {
            return QString::fromUtf8(file.readAll());
        }
        *problem =
            QStringLiteral("the laboratory's layout \"%1\" could not be read (%2); the built-in one is used")
                .arg(lab.layout, systemReason(file.errorString()));
    }
    return builtInCertificateLayout();
}

QString certificateHtml(const Certificate& c, const QString& layout) {
    const QHash<QString, QString> values{
        {QStringLiteral("title"), esc(c.title)},
        {QStringLiteral("number"), esc(c.number)},
        {QStringLiteral("lab_name"), esc(c.labName)},
        {QStringLiteral("lab_address"), esc(c.labAddress)},
        {QStringLiteral("unit"), esc(c.unit)},
        {QStringLiteral("work_date"), esc(c.workDate)},
        {QStringLiteral("issue_date"), esc(c.issueDate)},
        {QStringLiteral("operator"), esc(c.operatorName)},
        {QStringLiteral("machine"), esc(c.machine)},
        {QStringLiteral("method"), esc(c.method)},
        {QStringLiteral("statement"), esc(c.statement)},
        {QStringLiteral("authorisation"), esc(c.authorisation)},
        {QStringLiteral("as_found_id"), esc(c.asFoundId)},
        {QStringLiteral("as_left_id"), esc(c.asLeftId)},
        {QStringLiteral("results"), results(c)},
    };
    return fill(layout, values);
}

CertificatePdf certificatePdf(const Certificate& c, const QString& layout) {
    // Where the system has no DejaVu Sans (Windows), the program carries its own.
    static const bool fontsAdded = [] {
        const QDir fonts(QStringLiteral(":/certificate/fonts"));
        for (const QString& name : fonts.entryList(QDir::Files))
            QFontDatabase::addApplicationFont(fonts.filePath(name));
        return true;
    }();
    (void)fontsAdded;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    writer.setPageSize(QPageSize(c.pageSize == PageSize::Letter ? QPageSize::Letter : QPageSize::A4));
    writer.setPageMargins(QMarginsF(18, 16, 18, 12), QPageLayout::Millimeter);
    writer.setTitle(QStringLiteral("%1 %2").arg(c.title, c.number));
    writer.setCreator(QStringLiteral("KestroVar Link"));

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    QTextOption wrap = document.defaultTextOption();
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);  // a long tag breaks, never leaves the page
    document.setDefaultTextOption(wrap);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9);
    // Any letter spacing turns the ligatures off, so that "fi" in an id copies and searches as two letters.
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.1);
    document.setDefaultFont(font);
    document.setHtml(certificateHtml(c, layout));

    QFont footFont = font;
    footFont.setPointSizeF(7.5);
    const QFontMetricsF footMetrics(footFont, &writer);
    const qreal width = writer.width();
    const qreal footHeight = footMetrics.height() * 2.5;
    const qreal bodyHeight = writer.height() - footHeight;
    document.setPageSize(QSizeF(width, bodyHeight));  // (setTextWidth would undo the pages)

    const int pages = document.pageCount();
    const QString footer = footerOf(layout);
    QPainter painter(&writer);
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            writer.newPage();
        }
        painter.save();
        painter.translate(0, -page * bodyHeight);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, page * bodyHeight, width, bodyHeight);
        document.documentLayout()->draw(&painter, context);
        painter.restore();

        const qreal rule = bodyHeight + footMetrics.height() * 0.8;
        painter.setPen(QPen(QColor(0x8a, 0x9b, 0xb0), 2));
        painter.drawLine(QPointF(0, rule), QPointF(width, rule));
        painter.setPen(Qt::black);
        painter.setFont(footFont);
        const QString foot = fill(footer, {{QStringLiteral("number"), c.number},
                                           {QStringLiteral("unit"), c.unit},
                                           {QStringLiteral("page"), QString::number(page + 1)},
                                           {QStringLiteral("pages"), QString::number(pages)}});
        painter.drawText(QRectF(0, rule, width, footHeight - footMetrics.height() * 0.8),
                         Qt::AlignRight | Qt::AlignVCenter,
                         footMetrics.elidedText(foot, Qt::ElideMiddle, width));
    }
    painter.end();
    return {buffer.data(), pages};
}

}  // namespace kv
