// The rules of reading a file whole, of a record's rows and of a failure's cause, the same on
// every system; the system's calls and error codes are in FileAccess_<system>.cpp.

#include "FileAccess.h"
#include "FileCalls.h"

#include <algorithm>

TFileRead ReadFileWhole(const QString &path, qint64 maxBytes)
{
    TFileRead read;
    const intptr_t handle = OpenToRead(path, read.Failure);
    if (handle == -1)
        return read;
    // No more than maxBytes + 1 are read, whatever the file is: one byte over is enough to refuse it.
    char buffer[65536];
    while (read.Bytes.size() <= maxBytes) {
        qint64 got = 0;
        read.Failure = ReadSome(handle, buffer, std::min<qint64>(qint64(sizeof buffer), maxBytes + 1 - read.Bytes.size()), got);
        if (read.Failure.Failed() || got == 0)
            break;
        read.Bytes.append(buffer, qsizetype(got));
    }
    CloseFile(handle);
    if (read.Failure.Failed()) {
        read.Bytes.clear();
    } else if (read.Bytes.size() > maxBytes) {
        read.Failure.Cause = TFileCause::TooLarge;
        read.Bytes.clear();
    }
    return read;
}

TFileFailure FileFailureOf(int systemError)
{
    TFileFailure failure;
    failure.SystemError = systemError;
    failure.SystemText = SystemErrorText(systemError);
    failure.Cause = systemError == 0 ? TFileCause::None : TFileCause::Other;
    for (const TFileErrorCauses &causes : SystemFileErrorCauses()) {
        if (causes.Errors.contains(systemError))
            failure.Cause = causes.Cause;
    }
    return failure;
}

TRecordFile::~TRecordFile()
{
    Close();
}

TFileFailure TRecordFile::Append(const QByteArray &row)
{
    if (!IsOpen())
        return NotOpenFailure();
    const TFileFailure failure = WriteRowAt(handle_, size_, row);
    if (failure.Failed()) {
        // A row cut by a full disk is taken back: the file ends with a whole row.
        CutBackTo(handle_, size_);
        return failure;
    }
    size_ += row.size();
    return {};
}

void TRecordFile::Close()
{
    if (IsOpen())
        CloseFile(handle_);
    handle_ = InvalidHandle;
}
