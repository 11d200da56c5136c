// Files on Windows: CreateFileW, WriteFile, FlushFileBuffers, and ReplaceFileW, which keeps
// the replaced file's attributes and security; the cause of a failure from GetLastError().
// Paths are handed to the system as the user wrote them, so that the names of devices (NUL,
// CON, COM3) stand for the devices, as the system means them; only a path too long for that
// form goes in the long one (\\?\).

#include "FileAccess.h"
#include "FileCalls.h"
#include "FileReplace_win.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <string>

#include <windows.h>

// Codes newer than the headers of every tool chain.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

namespace {

// What the temporary file's name adds to the folder's: "\\.karven-", up to 13 characters of a
// random number, ".tmp".
constexpr int LongestTemporaryName = 28;

// The path as the file calls take it. One too long for their plain form (a deep folder that
// a cloud drive synchronises; the temporary name beside the file counted in) goes in the
// long form, \\?\C:\... or \\?\UNC\server\...; a shorter one as the user wrote it, so that
// the names of devices (NUL, COM3) stand for the devices.
std::wstring Native(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const bool prefixed = native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\"));
    if (prefixed || native.size() + LongestTemporaryName < MAX_PATH)
        return native.toStdWString();
    const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (absolute.startsWith(QLatin1String("\\\\")))
        return (QStringLiteral("\\\\?\\UNC\\") + absolute.mid(2)).toStdWString();
    return (QStringLiteral("\\\\?\\") + absolute).toStdWString();
}

QString SystemText(DWORD err)
{
    wchar_t *buffer = nullptr;
    auto format = [&](DWORD language) {
        return FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                              nullptr, err, language, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    };
    DWORD length = format(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!length)
        length = format(0);
    QString text = length && buffer ? QString::fromWCharArray(buffer, int(length)).trimmed() : QString();
    if (buffer)
        LocalFree(buffer);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.isEmpty() ? QStringLiteral("system error %1").arg(err) : QStringLiteral("%1 (system error %2)").arg(text).arg(err);
}

TFileFailure Failure(DWORD err)
{
    return FileFailureOf(int(err));
}

TFileFailure Failure(DWORD err, TFileCause cause)
{
    TFileFailure failure = FileFailureOf(int(err));
    failure.Cause = cause;
    return failure;
}

// Writes all of data; 0, or the system's error code.
DWORD WriteAll(HANDLE handle, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(data.size() - done, 1 << 20));
        if (!WriteFile(handle, data.constData() + done, chunk, &written, nullptr))
            return GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        done += written;
    }
    return 0;
}

bool IsFolder(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Why opening path failed with err: a folder is told as such, whatever code it gave.
TFileFailure OpenFailure(const std::wstring &path, DWORD err)
{
    return err == ERROR_ACCESS_DENIED && IsFolder(path) ? Failure(ERROR_DIRECTORY_NOT_SUPPORTED) : Failure(err);
}

// The path the handle's file has, links followed ("\\?\C:\..."), or empty.
std::wstring FinalPath(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length + 1);
    }
    return {};
}

// The system's file calls of a replacement.
class TSystemReplaceCalls : public TReplaceCalls {
public:
    ~TSystemReplaceCalls() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }

    DWORD Create(const std::wstring &path) override
    {
        handle_ = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    DWORD Fill(const QByteArray &bytes) override
    {
        DWORD err = WriteAll(handle_, bytes);
        if (!err && !FlushFileBuffers(handle_))
            err = GetLastError();
        if (!CloseHandle(handle_) && !err)
            err = GetLastError();
        handle_ = INVALID_HANDLE_VALUE;
        return err;
    }
    DWORD Replace(const std::wstring &target, const std::wstring &temporary) override
    {
        return ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                 ? 0
                 : GetLastError();
    }
    DWORD Move(const std::wstring &from, const std::wstring &to) override
    {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
    }
    DWORD Delete(const std::wstring &path) override { return DeleteFileW(path.c_str()) ? 0 : GetLastError(); }
    void Pause(DWORD ms) override { Sleep(ms); }
    std::wstring TemporaryName(const std::wstring &folder) override
    {
        return folder + L"\\.karven-" + QString::number(QRandomGenerator::system()->generate64(), 36).toStdWString() + L".tmp";
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Whether err may come from another program holding the file for a moment: an antivirus
// scanning it as it is closed, a synchronising or backup agent reading it.
bool HeldForAMoment(DWORD err)
{
    return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION || err == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Calls call until it succeeds, fails for another reason, or RetryMs have passed.
template <typename Call>
DWORD Retrying(TReplaceCalls &calls, Call call)
{
    DWORD waited = 0;
    for (DWORD pause = 20;; pause = std::min<DWORD>(pause * 2, RetryPauseMs)) {
        const DWORD err = call();
        if (!HeldForAMoment(err) || waited >= RetryMs)
            return err;
        calls.Pause(pause);
        waited += pause;
    }
}

// A path as the user is shown it: without the prefix of long paths.
QString Shown(const std::wstring &path)
{
    QString text = QString::fromStdWString(path);
    if (text.startsWith(QLatin1String("\\\\?\\UNC\\")))
        return QStringLiteral("\\\\") + text.mid(8);
    if (text.startsWith(QLatin1String("\\\\?\\")))
        return text.mid(4);
    return text;
}

}  // namespace

TFileFailure ReplaceWith(TReplaceCalls &calls, const std::wstring &target, const QByteArray &bytes, bool exists)
{
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : target.substr(0, slash);
    std::wstring temporary;
    DWORD err = ERROR_FILE_EXISTS;
    for (int attempt = 0; err == ERROR_FILE_EXISTS && attempt < 100; ++attempt) {
        temporary = calls.TemporaryName(folder);
        err = calls.Create(temporary);
    }
    if (err == ERROR_ACCESS_DENIED)
        return Failure(ERROR_ACCESS_DENIED, TFileCause::FolderNoWrite);  // the folder is a folder: it takes no new file
    if (err)
        return Failure(err);
    err = calls.Fill(bytes);
    if (!err && exists) {
        err = Retrying(calls, [&] { return calls.Replace(target, temporary); });
        if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT || err == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // The earlier file has left its name (removed, or renamed by the system) and the
            // new one is still under the temporary name: the move finishes the replacement.
            err = Retrying(calls, [&] { return calls.Move(temporary, target); });
            if (!err)
                return {};
            TFileFailure failure = Failure(err);
            failure.WrittenTo = Shown(temporary);
            failure.EarlierGone = true;
            return failure;
        }
    } else if (!err) {
        err = Retrying(calls, [&] { return calls.Move(temporary, target); });
    }
    if (err) {
        calls.Delete(temporary);
        return Failure(err);
    }
    return {};
}

namespace {

TFileFailure Replace(const std::wstring &target, const QByteArray &bytes, bool exists)
{
    TSystemReplaceCalls calls;
    return ReplaceWith(calls, target, bytes, exists);
}

}  // namespace

namespace {

// A file with the read-only attribute is replaced as on other systems, where the folder's
// permission decides: the attribute is taken off for the replacement and given back to
// what then stands under the name.
TFileFailure ReplaceExisting(const std::wstring &target, const QByteArray &bytes)
{
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return Replace(target, bytes, true);
    if (!SetFileAttributesW(target.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)))
        return Failure(GetLastError());
    const TFileFailure failure = Replace(target, bytes, true);
    SetFileAttributesW(target.c_str(), attributes);
    return failure;
}

// The path of the file at path, links followed; it is opened for its attributes only, so
// that a read-only file opens too.
std::wstring FinalPathOf(const std::wstring &path)
{
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const std::wstring target = FinalPath(handle);
    CloseHandle(handle);
    return target.empty() ? path : target;
}

}  // namespace

QString SystemErrorText(int systemError)
{
    return SystemText(DWORD(systemError));
}

const QList<TFileErrorCauses> &SystemFileErrorCauses()
{
    using C = TFileCause;
    static const QList<TFileErrorCauses> causes = {
        {{ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_DISK_QUOTA_EXCEEDED, ERROR_FILE_TOO_LARGE}, C::NoSpace},
        {{ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}, C::NoPermission},
        {{ERROR_WRITE_PROTECT}, C::ReadOnly},
        {{ERROR_INVALID_NAME, ERROR_BAD_PATHNAME, ERROR_FILENAME_EXCED_RANGE, ERROR_DIRECTORY}, C::BadName},
        {{ERROR_DIRECTORY_NOT_SUPPORTED}, C::IsFolder},
        {{ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE, ERROR_BAD_NETPATH}, C::NoFolder},
        {{ERROR_CANT_RESOLVE_FILENAME}, C::LinkLoop},
    };
    return causes;
}

bool WritesInto(const QString &path)
{
    // What the system tells no attributes of, but opens (a pipe), is written into; a disk
    // file or a device that takes any write at once (NUL) needs no wait.
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD err = GetLastError();
    return !path.isEmpty() && err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
}

TFileFailure WriteFileWhole(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return Failure(ERROR_PATH_NOT_FOUND);
    const std::wstring native = Native(path);
    // What the path leads to: a disk file is replaced, anything else (a device, a pipe) is
    // written into through this very handle.
    HANDLE handle = CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND)
            return Replace(native, bytes, false);
        // A read-only file opens for its attributes only.
        const DWORD attributes = GetFileAttributesW(native.c_str());
        if (err == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return ReplaceExisting(FinalPathOf(native), bytes);
        return OpenFailure(native, err);
    }
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        std::wstring target = FinalPath(handle);
        CloseHandle(handle);
        if (target.empty())
            target = native;
        return ReplaceExisting(target, bytes);
    }
    DWORD err = WriteAll(handle, bytes);
    if (!CloseHandle(handle) && !err)
        err = GetLastError();
    return err ? Failure(err) : TFileFailure{};
}

TFileFailure TRecordFile::Open(const QString &path)
{
    Close();
    const std::wstring native = Native(path);
    HANDLE handle = path.isEmpty() ? INVALID_HANDLE_VALUE
                                   : CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return OpenFailure(native, path.isEmpty() ? ERROR_PATH_NOT_FOUND : GetLastError());
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size))
        size.QuadPart = 0;
    handle_ = reinterpret_cast<intptr_t>(handle);
    size_ = size.QuadPart;
    path_ = path;
    return {};
}

intptr_t OpenToRead(const QString &path, TFileFailure &failure)
{
    const std::wstring native = Native(path);
    HANDLE handle = path.isEmpty() ? INVALID_HANDLE_VALUE
                                   : CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failure = OpenFailure(native, path.isEmpty() ? ERROR_FILE_NOT_FOUND : GetLastError());
        return -1;
    }
    return reinterpret_cast<intptr_t>(handle);
}

TFileFailure ReadSome(intptr_t handle, char *buffer, qint64 size, qint64 &got)
{
    DWORD n = 0;
    got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle), buffer, DWORD(size), &n, nullptr)) {
        const DWORD err = GetLastError();
        // The end of a pipe's data.
        return err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF ? TFileFailure{} : Failure(err);
    }
    got = n;
    return {};
}

void CloseFile(intptr_t handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

TFileFailure WriteRowAt(intptr_t handle, qint64 offset, const QByteArray &row)
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    LARGE_INTEGER end{};
    end.QuadPart = offset;
    DWORD err = disk && !SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ? GetLastError() : 0;
    if (!err)
        err = WriteAll(file, row);
    if (!err && disk && !FlushFileBuffers(file))
        err = GetLastError();
    return err ? Failure(err) : TFileFailure{};
}

void CutBackTo(intptr_t handle, qint64 size)
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    LARGE_INTEGER end{};
    end.QuadPart = size;
    if (GetFileType(file) == FILE_TYPE_DISK && SetFilePointerEx(file, end, nullptr, FILE_BEGIN))
        SetEndOfFile(file);
}

TFileFailure NotOpenFailure()
{
    return Failure(ERROR_INVALID_HANDLE);
}
