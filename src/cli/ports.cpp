#include "cli/commands.h"
#include "core/port_map.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kv::cli {

namespace {

struct PortLine {
    int number = 0;
    QString path;
    QString status;  // present, absent, no permission, in use
    QString detail;
};

PortLine probe(SystemPlatform& platform, int number) {
    PortLine line{number, platform.portSystemName(number), QStringLiteral("absent"), {}};
    if (platform.portExists(number)) {
        line.status = QStringLiteral("present");
        return line;
    }
    if (const std::optional<QString> problem = platform.portProblem(number)) {
        line.status = problem->contains(QStringLiteral("in use")) ? QStringLiteral("in use")
                                                                  : QStringLiteral("no permission");
        line.detail = *problem;
    }
    return line;
}

class PortsCommand : public Command {
  public:
    QString name() const override { return QStringLiteral("ports"); }
    QString summary() const override {
        return QStringLiteral("Com 1 to 16: path and whether it can be used");
    }
    QString help() const override {
        return QStringLiteral(
            "Usage: kestrovar-cli ports [--json]\n"
            "Lists Com 1 to Com 16 with the device path each stands for and its state: present,\n"
            "absent, no permission or in use.\n"
            "  --json  a JSON array of {\"port\":N,\"path\":...,\"status\":...,\"detail\":...}\n");
    }
    bool needsPort() const override { return false; }

    int execute(Context& context, const QStringList& words) override {
        const Arguments args = parseArguments(words, {QStringLiteral("--json")}, {});
        if (!args.error.isEmpty()) {
            return usageError(context, *this, args.error);
        }
        if (!args.positional.isEmpty()) {
            return usageError(context, *this,
                              QStringLiteral("unexpected \"%1\"").arg(args.positional.first()));
        }
        QJsonArray array;
        QByteArray text;
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            const PortLine line = probe(context.platform, n);
            QJsonObject object;
            object.insert(QStringLiteral("port"), n);
            object.insert(QStringLiteral("path"), line.path);
            object.insert(QStringLiteral("status"), line.status);
            object.insert(QStringLiteral("detail"), line.detail);
            array.append(object);
            QString row = QStringLiteral("Com %1").arg(n).leftJustified(8) + line.path.leftJustified(16) +
                          u' ' + line.status;
            if (!line.detail.isEmpty()) {
                row += QStringLiteral(": ") + line.detail;
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
