#pragma once
// What a serial port is, and why a port could not be opened. Plain functions shared by the
// window program and the command-line companion. PortInfo.cpp serves every system; the
// system's own knowledge is in PortInfo_posix.cpp (the sysfs and /dev trees that
// ListSerialPorts reads, so that tests can point them at a fake tree) and PortInfo_win.cpp
// (SetupAPI and Win32 error codes).

#include <QList>
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
};

// Describes the port that ListSerialPorts listed as name. Linux: a name without "/" lives in
// devRoot; the kernel's view of the tty is read from sysRoot/class/tty. Windows: the ports
// class of the device manager; the two folders are not used.
TPortDescription DescribePort(const QString &name, const QString &sysRoot = QStringLiteral("/sys"),
                              const QString &devRoot = QStringLiteral("/dev"));

// DescribePort of each of names, in their order. Windows: the device manager's ports class
// is gone through once for all of them.
QList<TPortDescription> DescribePorts(const QStringList &names, const QString &sysRoot = QStringLiteral("/sys"),
                                      const QString &devRoot = QStringLiteral("/dev"));

// The device that opening the port named name opens: /dev/ttyUSB0 for ttyUSB0 (a full path
// as it is), \\.\COM3 for COM3.
QString PortDevicePath(const QString &name);

// When a port failed: while it was being opened, or while it was open and in use.
enum class TPortStage {
    Opening,
    InUse,
};

// What a system error says about a port. Each system lists its codes once (PortInfo_<system>.cpp);
// the window program and the command-line companion each put the cause into words.
enum class TPortCause {
    None,          // no system error known
    NoSuchPort,    // the system has no port of that name (not present, or unplugged)
    NoDevice,      // opening: the port's name is there, no device is behind it
    NoLine,        // opening: the port answers, no serial line is behind it
    Gone,          // in use: the device has gone (adapter pulled out, the line's other end closed)
    NoAnswer,      // opening: the device behind the port does not answer (a Bluetooth port out of range)
    NoPermission,
    Busy,          // another program holds the port
    BadName,       // a name the system never gives a port
    IsFolder,
    NotSerial,     // it takes no serial line settings: a file, another kind of device
    BadSettings,   // the line settings are refused
    Other,         // told in the system's own words
};
TPortCause ClassifyPortError(int err, TPortStage stage);
// Whether err, met by a port that was open, says that its device has gone.
bool DeviceGoneError(int err);
// The stage a failure of the serial component belongs to: opening for the open and the
// settings applied with it, in use for the rest.
TPortStage PortFailureStage(const std::exception &e);

// Why a port could not be opened, as the window program's messages tell it (the coarse view
// of ClassifyPortError at opening).
enum class TOpenFailure {
    None,          // no system error known
    Gone,          // no such port, or no device behind it (any more)
    NoPermission,  // EACCES, EPERM
    Busy,          // another program holds it
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

// The system's name and words for err, as "EIO (Input/output error)" or "31 (...)".
QString SystemErrorNote(int err);

// What a port failure comes to: its cause (at the stage the failure belongs to), the system
// error behind it, and, for a busy port, the programs that hold it.
struct TPortFailure {
    TPortCause Cause = TPortCause::None;
    int Err = 0;
    QStringList Holders;
};
// The failure e of the port named portName (as the port list names it); the holders of a
// busy port are looked up only when portName is given.
TPortFailure PortFailureOf(const std::exception &e, const QString &portName = {});
