#include "SimOnCom9.h"

#include <QFile>

#include <windows.h>

namespace {

const wchar_t SerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace

bool AddSerialPortValue(const QString &valueName, const QString &port)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring name = valueName.toStdWString();
    const std::wstring data = port.toStdWString();
    const LONG rc = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                                   DWORD((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void RemoveSerialPortValue(const QString &valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, valueName.toStdWString().c_str());
    RegCloseKey(key);
}

bool StopSimulator()
{
    const QString stop = qEnvironmentVariable("KARVEN_SIM_STOP");
    if (stop.isEmpty())
        return false;
    QFile request(QStringLiteral("Z:") + stop);  // the Linux file system is drive Z:
    return request.open(QIODevice::WriteOnly);
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto seconds = [](const FILETIME &t) {
        return double((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}
