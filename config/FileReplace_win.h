#pragma once
// Putting a file written under a temporary name in the place of the one it replaces, on
// Windows, apart from the file calls that carry it out. FileAccess_win.cpp runs it on the
// system's calls; tests run it on scripted answers, in the ways a program that holds a file
// for a moment (an antivirus scanning a file as it is closed, a synchronising or backup
// agent) makes the system answer.

#include "FileAccess.h"

#include <QByteArray>

#include <string>

#include <windows.h>

class TReplaceCalls {
public:
    virtual ~TReplaceCalls() = default;
    // Each returns 0 or the system's error code.
    // Makes the file at path, which must not exist yet (CreateFileW, CREATE_NEW).
    virtual DWORD Create(const std::wstring &path) = 0;
    // Writes bytes into the file just made, puts them on the disk and closes it.
    virtual DWORD Fill(const QByteArray &bytes) = 0;
    // ReplaceFileW without a backup name: the attributes and security of target are kept.
    virtual DWORD Replace(const std::wstring &target, const std::wstring &temporary) = 0;
    // MoveFileExW, replacing what is at to, written through.
    virtual DWORD Move(const std::wstring &from, const std::wstring &to) = 0;
    virtual DWORD Delete(const std::wstring &path) = 0;
    virtual void Pause(DWORD ms) = 0;
    // A fresh temporary name in folder.
    virtual std::wstring TemporaryName(const std::wstring &folder) = 0;
};

// The bytes under a temporary name beside target, on the disk, then put in its place
// (exists: target is a file to replace; else it is made). A call that another program's
// brief hold on a file refuses (errors 5, 32, 1175) is tried again for up to RetryMs. A
// replacement the system leaves half done (1176, 1177: the earlier file has left its name,
// the new one is still under the temporary name) is finished by a move; when that fails
// too, the temporary file is kept and the failure says where it is (WrittenTo) and that the
// earlier file is gone from its name (EarlierGone). On any other failure the earlier file is
// as it was and the temporary file is deleted.
TFileFailure ReplaceWith(TReplaceCalls &calls, const std::wstring &target, const QByteArray &bytes, bool exists);

// How long a call refused by another program's brief hold is tried again, and the longest
// pause between two tries.
constexpr DWORD RetryMs = 2000;
constexpr DWORD RetryPauseMs = 250;
