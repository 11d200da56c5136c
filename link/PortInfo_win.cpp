// Port descriptions and failure causes on Windows: the device manager's ports class
// (SetupAPI) and Win32 error codes.

#include "PortCalls.h"
#include "PortInfo.h"

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

// Codes newer than the headers of every tool chain.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

namespace {

QString DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property)
{
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE *>(text),
                                           DWORD(sizeof text - sizeof(wchar_t)), nullptr)
        || type != REG_SZ)
        return {};
    return QString::fromWCharArray(text);
}

// The "PortName" value in the device's own registry key ("COM5").
QString DevicePortName(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD type = 0;
    DWORD bytes = DWORD(sizeof name - sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? QString::fromWCharArray(name) : QString();
}

// What the device manager tells of the device behind a port.
void DescribeDevice(TPortDescription &d, HDEVINFO set, SP_DEVINFO_DATA &device)
{
    d.FriendlyName = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
    d.Maker = DeviceProperty(set, device, SPDRP_MFG);
    d.Driver = DeviceProperty(set, device, SPDRP_SERVICE);
    const QString bus = DeviceProperty(set, device, SPDRP_ENUMERATOR_NAME);
    if (bus.compare(QLatin1String("ACPI"), Qt::CaseInsensitive) == 0)
        d.Kind = TPortKind::BoardUart;
    else if (!bus.isEmpty() && bus.compare(QLatin1String("ROOT"), Qt::CaseInsensitive) != 0)
        d.Kind = TPortKind::UsbAdapter;  // USB, FTDIBUS and the other adapters' buses
    if (d.Kind == TPortKind::UsbAdapter && d.FriendlyName.isEmpty())
        d.Product = DeviceProperty(set, device, SPDRP_DEVICEDESC);
}

}  // namespace

QString PortDevicePath(const QString &name)
{
    return QStringLiteral("\\\\.\\") + name;
}

TPortDescription DescribePort(const QString &name, const QString &sysRoot, const QString &devRoot)
{
    return DescribePorts({name}, sysRoot, devRoot).value(0);
}

QList<TPortDescription> DescribePorts(const QStringList &names, const QString &, const QString &)
{
    QList<TPortDescription> all;
    for (const QString &name : names) {
        TPortDescription d;
        d.Name = name;
        d.Path = PortDevicePath(name);
        all << d;
    }
    // The ports that are present in the device manager's ports class, each matched by its
    // name; the class is gone through once for all of them.
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return all;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const QString portName = DevicePortName(set, device);
        for (TPortDescription &d : all) {
            if (d.Name.compare(portName, Qt::CaseInsensitive) == 0) {
                DescribeDevice(d, set, device);
                break;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return all;
}

const QList<TPortErrorCauses> &SystemPortErrorCauses()
{
    using C = TPortCause;
    static const QList<TPortErrorCauses> causes = {
        {{ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}, C::NoSuchPort, C::Gone},
        {{ERROR_INVALID_NAME}, C::BadName, C::BadName},
        // A COM port is opened by one program at a time; an open port's driver refuses the
        // handle once its device has been pulled out.
        {{ERROR_ACCESS_DENIED}, C::Busy, C::Gone},
        // ERROR_LOCK_VIOLATION: Wine's word for a device that is another program's alone (EBUSY)
        {{ERROR_SHARING_VIOLATION, ERROR_BUSY, ERROR_LOCK_VIOLATION}, C::Busy, C::Busy},
        // ERROR_BAD_COMMAND: the driver of a USB adapter that was pulled out; ERROR_BROKEN_PIPE:
        // Wine, the other end of a pseudo-terminal closed
        {{ERROR_BAD_COMMAND, ERROR_BROKEN_PIPE, ERROR_GEN_FAILURE, ERROR_DEV_NOT_EXIST, ERROR_NO_SUCH_DEVICE,
          ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED},
         C::NoDevice, C::Gone},
        // A Bluetooth serial port whose device is off or out of range: the open gives up
        // after about 20 s; in use, the device has gone out of reach.
        {{ERROR_SEM_TIMEOUT}, C::NoAnswer, C::Gone},
        {{ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED}, C::NotSerial, C::Other},
        {{ERROR_INVALID_PARAMETER}, C::BadSettings, C::Other},
    };
    return causes;
}

QStringList PortHolders(const QString &)
{
    // Windows names no holder of a device to an ordinary program.
    return {};
}

QStringList PortSharers(const QString &)
{
    return {};
}

QString SystemErrorNote(int err)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, DWORD(err), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString what = length && text ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    if (text)
        LocalFree(text);
    if (what.endsWith(QLatin1Char('.')))
        what.chop(1);
    return what.isEmpty() ? QString::number(err) : QStringLiteral("%1 (%2)").arg(err).arg(what);
}
