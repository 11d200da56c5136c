// The single-instance guard on Windows: a named mutex, created with initial ownership.

#include "SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <windows.h>

TSingleInstance::TSingleInstance(const QString &name) : name_(name)
{
    const std::wstring mutexName = LockPath(name).toStdWString();
    // Owned at once when no other copy has created it; otherwise the existing one is opened.
    const HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
    if (!mutex) {
        // A copy started as administrator made the mutex with rights this user lacks.
        heldByOther_ = GetLastError() == ERROR_ACCESS_DENIED;
        return;
    }
    owned_ = GetLastError() != ERROR_ALREADY_EXISTS;
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

TSingleInstance::~TSingleInstance()
{
    if (handle_ == -1)
        return;
    const HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
    if (owned_)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
}

QString TSingleInstance::ExecutableName()
{
    // The name as it was launched may differ from the file's in letter case (KARVEN12T.EXE
    // for karven12t.exe): file names ignore case, mutex names do not. The directory entry
    // gives the name as the file is spelled on disk.
    const QString launched = QCoreApplication::applicationFilePath();
    WIN32_FIND_DATAW entry{};
    const HANDLE found = FindFirstFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(launched).utf16()), &entry);
    if (found == INVALID_HANDLE_VALUE)
        return QFileInfo(launched).fileName();
    FindClose(found);
    return QString::fromWCharArray(entry.cFileName);
}

QString TSingleInstance::LockPath(const QString &name)
{
    // Mutex names may hold any character but the backslash.
    QString mutexName = name;
    return mutexName.replace(QLatin1Char('\\'), QLatin1Char('_'));
}

bool TSingleInstance::Acquire()
{
    if (handle_ == -1)
        return !heldByOther_;  // no mutex could be made: the guard does not stop the program
    // The copy that created the mutex owns it already and gets it again at once; another
    // running copy's mutex makes the wait time out. A copy that ended without releasing it
    // has left it abandoned, which hands it over.
    const HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
    const DWORD result = WaitForSingleObject(mutex, 0);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return false;
    if (owned_)
        ReleaseMutex(mutex);  // held once already: the mutex counts each wait
    owned_ = true;
    return true;
}
