#pragma once
// Serial port component: TCustomComPort / TComPort, the EComPort error and the
// event thread that hands received-byte events over to the user-interface thread.
// This unit is the only code of the program that knows the system's serial calls: this header
// and CPort.cpp serve every system (the order of opening and closing with what a failed step
// means, see PortCalls.h), CPort_posix.cpp holds termios, ioctl and poll, and CPort_win.cpp
// the Win32 communications calls. The build takes the source of its system.

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

enum TBaudRate { brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
                 br19200, br38400, br56000, br57600, br115200, br128000, br256000 };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = unsigned;  // bit (1u << TComEvent) per event
constexpr TComEvents AllComEvents = (1u << 10) - 1;
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
};

struct TComBuffer {
    int InputSize = 1024;
    int OutputSize = 1024;
};

struct TComTimeouts {
    int ReadInterval = -1;
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;
};

class EComPort : public std::runtime_error {
public:
    // The codes this port raises. The other codes of the table name operations it never
    // performs; they keep their numbers all the same.
    static constexpr int OpenFailed = 1;         // "Unable to open com port"
    static constexpr int WriteFailed = 2;        // "WriteFile function failed"
    static constexpr int ReadFailed = 3;         // "ReadFile function failed"
    static constexpr int PurgeFailed = 5;        // "PurgeComm function failed"
    static constexpr int SetStateFailed = 7;     // "SetCommState function failed"
    static constexpr int SetTimeoutsFailed = 8;  // "SetCommTimeouts failed"
    static constexpr int SetupFailed = 9;        // "SetupComm function failed"
    static constexpr int StatusFailed = 10;      // "ClearCommError function failed"
    static constexpr int RegistryFailed = 23;    // "Registry error"

    explicit EComPort(int code, int winCode = -1);
    int Code;
    int WinCode;  // the system's error code (errno, GetLastError()), or -1 when there is none
    static QString CodeText(int code);
    QString Message() const;  // the text of Code, with " (win error code: %d)" when WinCode != -1
};

class TComThread;

class TCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomComPort(QObject *owner = nullptr);
    ~TCustomComPort() override;  // closes the port first

    // The system's name of the port. Linux: the device relative to /dev ("ttyUSB0", "ttyS0"),
    // a name starting with "/" is used as is. Windows: "COM3", opened as \\.\COM3.
    QString Port() const;
    void SetPort(const QString &name);

    TBaudRate BaudRate = br9600;
    int CustomBaudRate = 9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TComParity Parity;
    TComFlowControl FlowControl;
    TComEvents Events = AllComEvents;
    TSyncMethod SyncMethod = smThreadSync;
    TComBuffer Buffer;
    TComTimeouts Timeouts;

    bool Connected() const;
    void Open();
    void Close();
    int Write(const void *buffer, int count);
    int Read(void *buffer, int count);
    // The bytes received and not read yet. Raises EComPort::StatusFailed when the system
    // cannot tell (the device has gone).
    int InputCount();

    // Called on the user-interface thread with the number of bytes queued (always >= 1).
    std::function<void(QObject *Sender, int Count)> OnRxChar;

private:
    // The system's side: the open device and its event thread.
    struct Impl;
    struct ImplDeleter {
        void operator()(Impl *impl) const;
    };
    std::unique_ptr<Impl, ImplDeleter> d;
    QString port_;

    // For the dispatch of a received-character event: the number of bytes queued now.
    // Raises EComPort::StatusFailed when the system cannot tell. got holds every event of the
    // dispatch: a line error among them means the device has gone, which is no failure here.
    int QueuedForDispatch(TComEvents got);

    friend class TComThread;
    friend class TComHandOver;
    friend class TPortSystem;
};

class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    explicit TComPort(QObject *owner = nullptr);
};

// Where a device stand-in run by an ordinary user publishes its port: the user's runtime
// directory ($XDG_RUNTIME_DIR, else /tmp/runtime-<user>, as Qt's runtime location).
QString DefaultUserPortDirectory();

// Fills list with the serial ports the system knows, sorted case-insensitively, locale-aware
// (COM1, COM10, COM3). Raises EComPort::RegistryFailed when the list cannot be read.
// Linux: ttys under sysRoot/class/tty with a device (a ttyS* of unknown UART type is no port),
// plus symlinks to pseudo-terminals in devRoot (shown by name, "ttyV0") and in userRoot, the
// user's runtime directory where the device simulator publishes its port when it may not
// write to /dev (shown as full paths).
// Windows: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (no key: no ports); the three
// folders are not used.
void ListSerialPorts(QStringList &list, const QString &sysRoot = QStringLiteral("/sys"),
                     const QString &devRoot = QStringLiteral("/dev"),
                     const QString &userRoot = DefaultUserPortDirectory());

// Tells when the system's list of serial ports may have changed: an adapter plugged in or
// pulled out while the program runs. Windows: a change notification on the registry's list
// of ports. Linux: none; the port selector reads the list again each time it opens.
class TPortListWatch : public QObject {
    Q_OBJECT
public:
    explicit TPortListWatch(QObject *parent = nullptr);
    ~TPortListWatch() override;

signals:
    void Changed();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
