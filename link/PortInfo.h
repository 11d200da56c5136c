#pragma once
// What a serial port is, and why a port could not be opened. Plain functions shared by the
// window program and the command-line companion. PortInfo.cpp serves every system; the
// system's own knowledge is in PortInfo_posix.cpp (the sysfs and /dev trees that
// ListSerialPorts reads, so that tests can point them at a fake tree) and PortInfo_win.cpp
// (SetupAPI and Win32 error codes).

#include <QString>
#include <QStringList>

#include <exception>

enum class TPortKind {
    Unknown,     // a tty the system lists, of no kind recognised here
    UsbAdapter,  // a USB serial adapter (ttyUSB*, ttyACM*, ...)
    BoardUart,   // a UART of the computer itself
    Virtual,     // a link to a pseudo-terminal (a device stand-in, a network serial bridge)
};

struct TPortDescription {
    QString Name;  // as the port list shows it: "ttyUSB0", a full path, "COM3"
    QString Path;  // the device node that opening the port opens
    TPortKind Kind = TPortKind::Unknown;
    // USB adapter: maker and product (their USB ids when the adapter names neither), serial
    // number; the kernel driver, for a UART too.
    QString Maker;
    QString Product;
    QString Serial;
    QString Driver;
    QString ById;  // the /dev/serial/by-id link that leads to the port (full path), if any
    QString Pty;   // virtual port: the pseudo-terminal it leads to ("/dev/pts/3")
    QString FriendlyName;  // the name the system gives the device ("USB Serial Port (COM5)"), if any

    // One line in Russian that tells what the port is, for tooltips and listings.
    QString Text() const;
};

// Describes the port that ListSerialPorts listed as name. Linux: a name without "/" lives in
// devRoot; the kernel's view of the tty is read from sysRoot/class/tty. Windows: the ports
// class of the device manager; the two folders are not used.
TPortDescription DescribePort(const QString &name, const QString &sysRoot = QStringLiteral("/sys"),
                              const QString &devRoot = QStringLiteral("/dev"));

// The device that opening the port named name opens: /dev/ttyUSB0 for ttyUSB0 (a full path
// as it is), \\.\COM3 for COM3.
QString PortDevicePath(const QString &name);

// Why a port could not be opened, from the system error the failed operation saw.
enum class TOpenFailure {
    None,          // no system error known
    Gone,          // ENOENT, ENODEV, ENXIO; ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND: no such device (any more)
    NoPermission,  // EACCES, EPERM
    Busy,          // EBUSY (another opener's exclusive use), EWOULDBLOCK/EAGAIN (its lock);
                   // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_BUSY,
                   // ERROR_LOCK_VIOLATION (another program's handle)
    Other,
};
TOpenFailure ClassifyOpenFailure(int err);

// The system error a port failure carries (EComPort's system code), or 0 when it carries none.
int PortFailureErrno(const std::exception &e);

// Programs other than this one that lock or hold the device at path, as "name (pid N)";
// only those this user may see. Windows does not tell who holds a port: always empty there.
QStringList PortHolders(const QString &path);

// Other programs that have the tty at path open, as "name (pid N)": while this program
// holds the port they take no lock, and they may read the answers meant for it. The owner of a pseudo-terminal (one that
// also holds its master side, such as a device stand-in or a serial bridge) is no sharer.
// Windows does not tell: always empty there.
QStringList PortSharers(const QString &path);

// The cause of a failure with system error err, in Russian, for the message boxes; empty when err
// tells nothing (0 or -1). holders (see PortHolders) are named for a busy port.
QString OpenFailureCause(int err, const QStringList &holders = {});

// text, and under it, as a second paragraph, the cause of the port failure e on the port
// named portName (as the port list names it); text alone when e carries no system error.
QString WithFailureCause(const QString &text, const std::exception &e, const QString &portName = {});
QString WithFailureCause(const QString &text, std::exception_ptr e, const QString &portName = {});
