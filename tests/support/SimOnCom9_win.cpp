#include "SimOnCom9.h"

#include "ModeTestRig.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

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

namespace {

// The file of a request to win_sim.sh (see there); empty when no simulator was started.
QString RequestFile(const char *name)
{
    const QString folder = qEnvironmentVariable("KARVEN_SIM_REQUESTS");
    if (folder.isEmpty())
        return {};
    return QStringLiteral("Z:") + folder + QLatin1Char('/') + QLatin1String(name);  // Linux's / is Z:
}

bool MakeFile(const QString &path)
{
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::WriteOnly);
}

}  // namespace

bool StopSimulator()
{
    return MakeFile(RequestFile("stop"));
}

bool HoldPortElsewhere()
{
    const QString held = RequestFile("held");
    return MakeFile(RequestFile("hold")) && WaitFor([&] { return QFile::exists(held); }, 10000);
}

void ReleasePortElsewhere()
{
    const QString held = RequestFile("held");
    QFile::remove(RequestFile("hold"));
    WaitFor([&] { return !QFile::exists(held); }, 10000);
}

bool RunningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

double CpuShareOver(int ms)
{
    auto cpuSeconds = [] {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
            return 0.0;
        auto seconds = [](const FILETIME &t) {
            return double((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
        };
        return seconds(kernel) + seconds(user);
    };
    const double before = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;  // nothing of its own that wakes it
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    const double share = (cpuSeconds() - before) / (double(wall.elapsed()) / 1000);
    qInfo("CPU over %d ms: %.2f %% of a core", ms, share * 100);
    return share;
}
