#pragma once
// Files as both programs keep them: a configuration written as a whole, read as a whole, and
// a record that grows by one row at a time, each row on the disk before the next is taken.
// A failure comes back with its cause sorted once, here, from the system's own error code;
// each program puts the cause into its own words. FileAccess_<system>.cpp holds the
// system's calls; the build picks it.

#include <QByteArray>
#include <QString>

#include <cstdint>

enum class TFileCause {
    None,          // no failure
    NoSpace,       // the disk (or a quota, or a limit of the file's size) has no room left
    NoPermission,  // the system does not let this user write (or read) there
    ReadOnly,      // the file system is mounted read-only
    BadName,       // a name the system refuses (too long, characters it does not take)
    IsFolder,      // the path is a folder
    FolderNoWrite, // the folder takes no new file from this user (the temporary file beside the target)
    NoFolder,      // the folder (for a read: the file) does not exist
    LinkLoop,      // symbolic links that lead round in a loop
    TooLarge,      // a read: larger than the most the reader takes
    Other,         // anything else: SystemText tells it
};

struct TFileFailure {
    TFileCause Cause = TFileCause::None;
    int SystemError = 0;  // Linux: errno; Windows: GetLastError()
    QString SystemText;   // the system's own words for SystemError
    // A replacement the system left half done (Windows): the new bytes lie in this file, kept
    // beside the target under a temporary name; empty otherwise.
    QString WrittenTo;
    // The earlier file is no longer under its name (the system removed it, or moved it away,
    // before the new one could take its place).
    bool EarlierGone = false;

    bool Failed() const { return Cause != TFileCause::None; }
};

// The cause of a system error code of the running system (errno; on Windows GetLastError()).
TFileFailure FileFailureOf(int systemError);

// Writes bytes to the file at path as a whole, and only then says it is written:
// - a regular file, or one still to be made, gets the bytes under a temporary name beside
//   it, flushed to the disk, and then the temporary file takes its name: on any failure the
//   earlier file stays as it was and no temporary file is left (but for a replacement the
//   system leaves half done: see WrittenTo, EarlierGone). An existing file keeps its
//   mode exactly and, where the process may set it, its owner (Windows: its attributes and
//   security, through the system's own replacement); a new one gets what the umask (the
//   folder's inheritance) gives. A symbolic link is followed to its target, which is
//   replaced; a loop of links is refused.
// - anything else (a FIFO, a terminal, a device, a pipe; decided by what the path leads to,
//   not by its name) is written into, never replaced. That may wait for as long as the
//   other end wants: see WritesInto.
TFileFailure WriteFileWhole(const QString &path, const QByteArray &bytes);
// Whether WriteFileWhole(path) would write into what path leads to rather than replace a
// file: a write that may wait for a reader.
bool WritesInto(const QString &path);
// The group of the existing file at path, when WriteFileWhole's replacement could not keep
// it (the process is no member of it and may not set it): the file would change hands.
// Empty when it would be kept, or when there is no such file.
#ifdef Q_OS_WIN
inline QString GroupLostOnReplace(const QString &) { return QString(); }
#else
QString GroupLostOnReplace(const QString &path);
#endif

// Reads the whole file at path, refusing one larger than maxBytes (TooLarge) without
// reading on; whatever the file is (a FIFO, a device) no more than maxBytes + 1 are read.
struct TFileRead {
    QByteArray Bytes;
    TFileFailure Failure;
};
TFileRead ReadFileWhole(const QString &path, qint64 maxBytes);

// A record file: made or opened for appending; each row appended reaches the disk before
// Append returns (fsync, FlushFileBuffers). A row that fails is taken back whole where
// the system lets it, so that the file holds whole rows only.
class TRecordFile {
public:
    TRecordFile() = default;
    ~TRecordFile();
    TRecordFile(const TRecordFile &) = delete;
    TRecordFile &operator=(const TRecordFile &) = delete;

    TFileFailure Open(const QString &path);
    TFileFailure Append(const QByteArray &row);
    void Close();
    bool IsOpen() const { return handle_ != InvalidHandle; }
    QString Path() const { return path_; }

private:
    static constexpr intptr_t InvalidHandle = -1;
    intptr_t handle_ = InvalidHandle;  // a descriptor (Linux) or a HANDLE (Windows)
    qint64 size_ = 0;                  // the bytes of whole rows
    QString path_;
};
