#include "cli/commands.h"
#include "core/platform/port_map.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kv::cli {

namespace {

QString stateText(PortState state) {
    switch (state) {
        case PortState::Present:
            return QStringLiteral("present");
        case PortState::NoPermission:
            return QStringLiteral("no permission");
        case PortState::InUse:
            return QStringLiteral("in use");
        case PortState::Absent:
            break;
    }
    return QStringLiteral("absent");
}

class PortsCommand : public Command {
  public:
    PortsCommand()
        : Command({.name = QStringLiteral("ports"),
                   .summary = QStringLiteral("Com 1 to 16: path and whether it can be used"),
                   .help = QStringLiteral(R"(Usage: kestrovar-cli ports [--json]
Lists Com 1 to Com 16 with the device path each stands for, its state (present, absent,
no permission or in use) and the adapter where the system knows it.
  --json  a JSON array of {"port":N,"path":...,"status":...,"stable_name":...,
          "description":...,"manufacturer":...,"serial_number":...,"detail":...}
)"),
                   .flags = {QStringLiteral("--json")},
                   .needsPort = false}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        QJsonArray array;
        QByteArray text;
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            const QString path = context.platform.portSystemName(n);
            const PortCheck check = checkPort(context.platform, n);
            AdapterInfo adapter;
            if (check.state != PortState::Absent) {
                adapter = context.platform.portAdapter(n);
            }
            QJsonObject object;
            object.insert(QStringLiteral("port"), n);
            object.insert(QStringLiteral("path"), path);
            object.insert(QStringLiteral("status"), stateText(check.state));
            object.insert(QStringLiteral("stable_name"), adapter.stableName);
            object.insert(QStringLiteral("description"), adapter.description);
            object.insert(QStringLiteral("manufacturer"), adapter.manufacturer);
            object.insert(QStringLiteral("serial_number"), adapter.serialNumber);
            object.insert(QStringLiteral("detail"), check.explanation);
            array.append(object);
            QString row = QStringLiteral("Com %1").arg(n).leftJustified(8) + path.leftJustified(16) + u' ' +
                          stateText(check.state);
            QStringList about;
            for (const QString& part : {adapter.description, adapter.manufacturer, adapter.stableName}) {
                if (!part.isEmpty()) {
                    about << part;
                }
            }
            if (!adapter.serialNumber.isEmpty()) {
                about << QStringLiteral("serial number %1").arg(adapter.serialNumber);
            }
            if (!about.isEmpty()) {
                row += QStringLiteral("  ") + about.join(QStringLiteral(", "));
            }
            text += row.toUtf8() + '\n';
        }
        context.out(args.has(QStringLiteral("--json"))
                        ? QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n'
                        : text);
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makePortsCommand() {
    return std::make_unique<PortsCommand>();
}

}  // namespace kv::cli
