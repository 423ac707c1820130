// What the system knows about a serial adapter, and whether its port can be opened right now. Used
// by the Com Port menu's tool tips and probe, and by anything else that has to name an adapter.
#pragma once

#include <QString>
#include <QStringList>

namespace kv {

struct AdapterInfo {
    QString path;        // the device: "/dev/ttyUSB0", "COM3"; a by-id path resolved to its device
    QString stableName;  // /dev/serial/by-id/... or empty
    QString description;
    QString manufacturer;
    QString serialNumber;
};

// From QSerialPortInfo and the links in /dev/serial/by-id (byIdFolder, for tests). Opens nothing.
// A path whose device is not there keeps what can be told from the path alone.
AdapterInfo adapterInfo(const QString& systemPath,
                        const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

// The lines a person reads to tell adapters apart: the path, the stable name when there is one,
// then description, maker and serial number where known.
QStringList describeAdapter(const AdapterInfo& info);

// The device a port path names, following links such as /dev/serial/by-id/...; the path itself when
// it names no existing file or on Windows.
QString devicePath(const QString& systemPath);

enum class PortState { Present, Absent, NoPermission, InUse };

struct PortStatus {
    PortState state = PortState::Absent;
    // For NoPermission and InUse: what is wrong and what to do, naming the path, in words for the
    // user ("/dev/ttyUSB0 is in use by another program"). Empty otherwise.
    QString explanation;
};

#ifdef Q_OS_WIN
// The name of the mutex a program of ours holds while it has the port open. Windows' own drivers
// give a COM port to one program at a time; wine does not, so our programs also take this lock, and
// a second one finds the port in use instead of reading the first one's answers.
QString portLockName(const QString& systemPath);
#endif

// Where programs keep the lock files ("LCK..ttyUSB0") of the serial ports they hold.
QStringList serialLockFolders();

// Opens the port for a moment, without writing and without touching the line settings, and tells
// whether it could be used. A port with a lock file of a running program counts as in use, as the
// program's own open would fail on it.
PortStatus probePortStatus(const QString& systemPath, const QStringList& lockFolders = serialLockFolders());

}  // namespace kv
