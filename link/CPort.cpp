// Placeholder so that the program links until the serial component lands.
#include "CPort.h"
EComPort::EComPort(int code, int winCode) : std::runtime_error("EComPort"), Code(code), WinCode(winCode) {}
QString EComPort::CodeText(int) { return {}; }
QString EComPort::Message() const { return {}; }
struct TCustomComPort::Impl { QString port = QStringLiteral("ttyS0"); };
TCustomComPort::TCustomComPort(QObject *owner) : QObject(owner), d(new Impl) {}
TCustomComPort::~TCustomComPort() = default;
QString TCustomComPort::Port() const { return d->port; }
void TCustomComPort::SetPort(const QString &name) { d->port = name; }
bool TCustomComPort::Connected() const { return false; }
void TCustomComPort::Open() { throw EComPort(1); }
void TCustomComPort::Close() {}
int TCustomComPort::Write(const void *, int) { throw EComPort(2); }
int TCustomComPort::Read(void *, int) { return 0; }
TComPort::TComPort(QObject *owner) : TCustomComPort(owner) { StopBits = sbTwoStopBits; }
QString DefaultUserPortDirectory() { return QStringLiteral("/tmp"); }
void ListSerialPorts(QStringList &list, const QString &, const QString &, const QString &) { list.clear(); }
