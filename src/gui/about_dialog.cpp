#include "gui/about_dialog.h"

#include "core/version.h"
#include "gui/artwork.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace kv {

namespace {

QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

// The etched rule between the credit line and the disclaimer: grey over white.
class EtchedRule : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, width(), 1), QColor(0x80, 0x80, 0x80));
        painter.fillRect(QRect(0, 1, width(), 2), Qt::white);
    }
};

}  // namespace

QString applicationTitle() {
    return QStringLiteral("KestroVar Link");
}

QString versionText() {
    return QStringLiteral("Version ") + programVersion();
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(false);
    setFixedSize(5730 / 15, 2700 / 15);

    picIcon = new QLabel(this);
    picIcon->setGeometry(twips(240, 240, 540, 540));
    picIcon->setPixmap(applicationIcon().pixmap(32, 32));
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lblTitle = new QLabel(this);
    lblTitle->setGeometry(twips(1050, 240, 3885, 480));
    QFont titleFont(QStringLiteral("MS Sans Serif"));
    titleFont.setStyleHint(QFont::SansSerif);
    titleFont.setPointSize(12);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);

    lblVersion = new QLabel(this);
    lblVersion->setGeometry(twips(1050, 780, 3885, 225));

    lblDescription =
        new QLabel(QStringLiteral("Kestrovar Link software is used to recalibrate and monitor the "
                                  "Kestrovar dewpoint compensator."),
                   this);
    lblDescription->setGeometry(twips(1050, 1080, 3885, 450));
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = new QLabel(QStringLiteral("Written by the KestroVar Link developers."), this);
    Label1->setGeometry(twips(1080, 1560, 3885, 210));

    auto* rule = new EtchedRule(this);
    rule->setGeometry(QRect(6, 1860 / 15, width() - 12, 3));

    lblDisclaimer =
        new QLabel(QStringLiteral("Warning: User accepts all risk for the use of the Kestrovar and all "
                                  "conguration changes made."),
                   this);
    lblDisclaimer->setGeometry(twips(240, 2040, 3870, 585));
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(twips(4320, 2160, 1260, 345));
    cmdOK->setDefault(true);  // Enter; Esc reaches reject(), which closes as well
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connect(this, &QDialog::rejected, this, &QDialog::close);

    for (QLabel* label : {lblTitle, lblVersion, lblDescription, Label1, lblDisclaimer}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }

    Form_Load();
    // Not centred: the client area opens at a fixed place on the screen.
    setGeometry(QRect(QPoint(2340 / 15, 1935 / 15), size()));
}

void AboutDialog::Form_Load() {
    setWindowTitle(QStringLiteral("About ") + applicationTitle());
    lblVersion->setText(versionText());
    lblTitle->setText(applicationTitle());
}

}  // namespace kv
