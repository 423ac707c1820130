#include "core/platform/port_info.h"
#include "core/platform/port_map.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>

#include <map>
#else
#include <QSerialPortInfo>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kv {

#ifdef Q_OS_WIN
namespace {

// The serial ports Windows knows now, from HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: "COM3" and its
// kernel device ("\Device\VCP0"), names in upper case. Nothing when the key cannot be read.
std::optional<std::map<QString, QString>> registryPorts() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::map<QString, QString> ports;
    for (DWORD i = 0;; ++i) {
        wchar_t device[256];
        wchar_t name[64];
        DWORD deviceSize = DWORD(std::size(device));
        DWORD nameBytes = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        const LONG got = RegEnumValueW(key, i, device, &deviceSize, nullptr, &type,
                                       reinterpret_cast<BYTE*>(name), &nameBytes);
        if (got == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (got != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        name[nameBytes / sizeof(wchar_t)] = L'\0';
        ports[QString::fromWCharArray(name).trimmed().toUpper()] =
            QString::fromWCharArray(device, int(deviceSize));
    }
    RegCloseKey(key);
    return ports;
}

}  // namespace
#endif

QString devicePath(const QString& systemPath) {
#ifdef Q_OS_WIN
    // COM3, com3 and \\.\COM3 are one port.
    const int com = comPortNumber(systemPath);
    return com ? QStringLiteral("COM%1").arg(com) : systemPath;
#else
    const QString canonical = QFileInfo(systemPath).canonicalFilePath();
    return canonical.isEmpty() ? systemPath : canonical;
#endif
}

#ifdef Q_OS_WIN
QString portLockName(const QString& systemPath) {
    QString name = devicePath(systemPath).toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\"))) {
        name.remove(0, 4);
    }
    return QStringLiteral("Local\\KestroVarLink.port.") + name.replace(u'\\', u'_');
}

namespace {

// Whether another of our programs holds the port (a mutex this thread already owns does not count).
bool heldByAnotherProgram(const QString& systemPath) {
    const QString name = portLockName(systemPath);
    HANDLE lock =
        OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, reinterpret_cast<const wchar_t*>(name.utf16()));
    if (!lock) {
        return false;
    }
    const DWORD got = WaitForSingleObject(lock, 0);
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
        ReleaseMutex(lock);
    }
    CloseHandle(lock);
    return got == WAIT_TIMEOUT;
}

}  // namespace
#endif

AdapterInfo adapterInfo(const QString& systemPath, const QString& byIdFolder) {
    AdapterInfo info;
    info.path = devicePath(systemPath);
#ifdef Q_OS_WIN
    Q_UNUSED(byIdFolder);
#else
    const QDir byId(byIdFolder);
    if (QFileInfo(systemPath).absoluteDir() == byId) {
        info.stableName = systemPath;  // named by its stable name already, plugged in or not
    } else {
        // udev keeps one link per adapter, named after its maker, model and serial number.
        const QFileInfoList links =
            byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& link : links) {
            if (link.isSymLink() && link.canonicalFilePath() == info.path) {
                info.stableName = link.absoluteFilePath();
                break;
            }
        }
    }
#endif
#ifdef Q_OS_LINUX
    // Only an adapter the kernel knows as a device has a description, a maker or a serial number;
    // a pseudo-terminal or a path that is not there has none, and listing every port costs a walk
    // of /sys that would come at every menu refresh.
    if (!QFileInfo::exists(QStringLiteral("/sys/class/tty/%1/device").arg(QFileInfo(info.path).fileName()))) {
        return info;
    }
#endif
#ifdef Q_OS_WIN
    // Windows tells its kernel device, which names the driver: \Device\VCP0 (FTDI),
    // \Device\Silabser0 (Silicon Labs), \Device\ProlificSerial0, \Device\Serial0 (a UART).
    if (const auto ports = registryPorts()) {
        if (const auto found = ports->find(info.path.toUpper()); found != ports->end()) {
            info.description = found->second;
        }
    }
#else
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports) {
        if (port.systemLocation() == info.path || port.portName() == info.path) {
            info.description = port.description();
            info.manufacturer = port.manufacturer();
            info.serialNumber = port.serialNumber();
            break;
        }
    }
#endif
    return info;
}

QStringList describeAdapter(const AdapterInfo& info) {
    QStringList lines{info.path};
    if (!info.stableName.isEmpty() && info.stableName != info.path) {
        lines << info.stableName;
    }
    if (!info.description.isEmpty()) {
        lines << info.description;
    }
    if (!info.manufacturer.isEmpty()) {
        lines << QStringLiteral("Maker: %1").arg(info.manufacturer);
    }
    if (!info.serialNumber.isEmpty()) {
        lines << QStringLiteral("Serial number: %1").arg(info.serialNumber);
    }
    return lines;
}

QStringList serialLockFolders() {
#ifdef Q_OS_WIN
    return {};
#else
    // The folders QSerialPort, minicom, screen and the lockdev library look in.
    return {
        QStringLiteral("/var/lock"),         QStringLiteral("/etc/locks"), QStringLiteral("/var/spool/locks"),
        QStringLiteral("/var/spool/uucp"),   QStringLiteral("/tmp"),       QStringLiteral("/var/tmp"),
        QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock")};
#endif
}

namespace {

QString inUse(const QString& systemPath) {
    return QStringLiteral("%1 is in use by another program").arg(systemPath);
}

#ifndef Q_OS_WIN
// A lock file names the holder's process id as text on its first line (QLockFile and the UUCP
// convention alike). A lock whose process has ended is stale and holds nothing.
bool lockedByRunningProgram(const QString& lockFile) {
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    bool ok = false;
    const qint64 pid = file.readLine(64).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0 || pid == qint64(::getpid())) {
        return false;
    }
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// QSerialPort names the lock after the path without "/dev/", slashes made underscores.
bool lockedByRunningProgram(const QString& path, const QStringList& lockFolders) {
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(u'/', u'_');
    for (const QString& folder : lockFolders) {
        if (lockedByRunningProgram(folder + QStringLiteral("/LCK..") + name)) {
            return true;
        }
    }
    return false;
}
#endif

}  // namespace

PortStatus probePortStatus(const QString& systemPath, const QStringList& lockFolders) {
    if (systemPath.isEmpty()) {
        return {};
    }
#ifdef Q_OS_WIN
    Q_UNUSED(lockFolders);
    // A COM port Windows does not list is not there; it is not opened either.
    const QString name = devicePath(systemPath);
    if (comPortNumber(name)) {
        if (const auto ports = registryPorts(); ports && !ports->count(name)) {
            return {};
        }
    }
    if (heldByAnotherProgram(systemPath)) {
        return {PortState::InUse, inUse(systemPath)};
    }
    // Access mask 0: asks for no read or write access, so nothing on the line changes.
    const QString device =
        systemPath.startsWith(QLatin1String("\\\\.\\")) ? systemPath : QStringLiteral("\\\\.\\") + systemPath;
    HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(device.utf16()), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            // A COM port is opened by one program at a time; Windows answers "access denied" to
            // the others.
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
            case ERROR_BUSY:
                return {PortState::InUse, inUse(systemPath)};
            case ERROR_PRIVILEGE_NOT_HELD:
                return {PortState::NoPermission,
                        QStringLiteral("%1 exists but cannot be opened: permission denied. Ask the "
                                       "administrator for read and write access to it.")
                            .arg(systemPath)};
            default:  // ERROR_FILE_NOT_FOUND and the like: no such port
                return {};
        }
    }
    CloseHandle(handle);
    return {PortState::Present, {}};
#else
    // QSerialPort refuses a port whose lock file a running program holds, so such a port is not
    // offered, and it is not opened here either.
    const QString device = devicePath(systemPath);
    if (lockedByRunningProgram(device, lockFolders) ||
        (device != systemPath && lockedByRunningProgram(systemPath, lockFolders))) {
        return {PortState::InUse, inUse(systemPath)};
    }
    // Opening a real UART raises DTR/RTS for the moment it is open; the compensator talks over RX/TX
    // only, and Windows' own CreateFile probe of a COM port does the same, so the pulse is harmless.
    const QByteArray path = QFile::encodeName(systemPath);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
            case EACCES:
            case EPERM:
#ifdef Q_OS_LINUX
                return {
                    PortState::NoPermission,
                    QStringLiteral("%1 exists but cannot be opened: permission denied. Add your user to the "
                                   "dialout group (sudo adduser $USER dialout) and log in again.")
                        .arg(systemPath)};
#else
                return {
                    PortState::NoPermission,
                    QStringLiteral("%1 exists but cannot be opened: permission denied. Ask the administrator "
                                   "for read and write access to it.")
                        .arg(systemPath)};
#endif
            case EBUSY:  // another program holds it with TIOCEXCL, as QSerialPort does
                return {PortState::InUse, inUse(systemPath)};
            default:  // no such device, or something that is not a working port
                return {};
        }
    }
    ::close(fd);
    return {PortState::Present, {}};
#endif
}

}  // namespace kv
