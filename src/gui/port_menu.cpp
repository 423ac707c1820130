#include "core/platform/port_info.h"
#include "core/platform/port_map.h"
#include "gui/main_window.h"

#include <QAction>

#include <algorithm>

namespace kv {

// ---- the Com Port menu -----------------------------------------------------------------------

bool Form1::PortExists(int portNumber) {
    if (portNumber < kFirstPort || portNumber > kLastPort) {
        return false;
    }
    return platform_.portExists(portNumber);
}

void Form1::RefreshPortMenu() {
    Com->setVisible(true);
    bool anyVisible = false;
    QStringList problems;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        QAction* item = compItems[n];
        if (PortExists(n)) {
            item->setEnabled(true);
            item->setVisible(true);
            anyVisible = true;
            // Which adapter this is: it may be another one than at the last refresh.
            const QString tip = describeAdapter(platform_.portAdapter(n)).join(u'\n');
            item->setToolTip(tip == QStringLiteral("COM%1").arg(n) ? QString() : tip);
            if (savedPort.holdsPort(n)) {
                MSComm1->setCommPort(n);
                item->setChecked(true);
                selectedPort = 1;
            }
        } else {
            if (item->isChecked()) {
                selectedPort = 0;  // the check mark stays, so the port is chosen again when it returns
            }
            item->setEnabled(false);
            item->setVisible(false);
            if (const std::optional<PortStatus> problem = platform_.portProblem(n)) {
                // One sentence a line, so that the tip stays about as wide as the menu.
                problems << explainPortProblem(n, problem->explanation)
                                .replace(QStringLiteral(". "), QStringLiteral(".\n"));
            }
        }
    }
    if (anyVisible) {
        Com->setVisible(false);
    }
    // A port that is there but refused counts as absent all the same; say why, so that nobody is
    // left wondering where the adapter went.
    Com->setToolTip(problems.join(u'\n'));
}

QString Form1::explainPortProblem(int portNumber, const QString& problem) {
    if (portNoticesGiven_.insert(platform_.portSystemName(portNumber)).second) {
        platform_.printNotice(QStringLiteral("kestrovar-link: ") + problem);
    }
    return problem;
}

void Form1::comp_Click(int portNumber) {
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }
    MSComm1->setCommPort(portNumber);
    selectedPort = 1;
    savedPort = TaggedValue::port(MSComm1->CommPort());
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        compItems[n]->setChecked(n == portNumber);
    }
}

void Form1::readSavedPort() {
    // A file that cannot be opened or that holds garbage means no remembered port.
    const std::optional<QByteArray> content = platform_.readBinaryFile(QString::fromLatin1(kPortSettingFile));
    savedPort = content ? TaggedValue::fromBytes(*content) : TaggedValue::empty();
}

void Form1::writeSavedPort() {
    // A failed write must not keep the program from ending; there is nobody left to tell.
    platform_.writeBinaryFile(QString::fromLatin1(kPortSettingFile), savedPort.toBytes());
}

}  // namespace kv
