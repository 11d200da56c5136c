#pragma once
// The main window's configuration files: the program's configuration saved to a file,
// a file opened (chosen in the system's file dialog or dropped on the window) and a file
// compared with the program's configuration. One file format, one reader and one writer
// with the command-line companion (config/ConfigFileFormat, config/FileAccess); the words are
// the window program's own (FileMessages). Nothing here talks to the device: an opened file
// fills DeviceConfig, which reaches the device only through "Загрузить конфигурацию в
// прибор".
//
// It also keeps where the program's values came from (read from the device, opened from a
// file, changed by hand after that), which a saved file records, and whether they were
// changed by hand since they were last read, opened, written or saved.

#include "ConfigFileFormat.h"

#include <QDateTime>
#include <QString>

#include <functional>

class QWidget;

class TConfigFileCommands {
public:
    // ShowOpened: the record was replaced from a file; the window puts the asterisk on
    // the root and shows the root's rows.
    TConfigFileCommands(QWidget *window, std::function<void()> showOpened);

    // What happened to the program's values.
    void ReadFromDevice(const QString &port);  // a read filled the whole record
    void MarkSaved();                          // read or written: the device holds them
    void ChangedByHand();                      // an accepted edit

    // The menu commands; each asks for its file in the system's file dialog.
    void Save();
    void Open();
    void Compare();
    // Opens the file at path (a dropped file): checks it whole, asks what is to be asked,
    // and fills DeviceConfig only when it is taken. True when it was taken.
    bool OpenFile(const QString &path);

    const TConfigOrigin &Origin() const { return origin_; }
    // Changed by hand and not yet written, read over, saved or replaced by an opened file.
    bool Unsaved() const { return unsaved_; }

    // "Карвен-12Т 2026-12-09 14-05.json"
    static QString DefaultFileName(const QDateTime &localTime);
    // The folder the file dialogs start in: the last one used in this run, else the
    // user's documents.
    QString StartFolder() const;
    static QString DocumentsFolder();

private:
    // Refuses (with a message) while a read or write of the device is under way: its
    // answers would go into the record after the file's values.
    bool DeviceIdle() const;
    // Whether the file at path may be replaced: true unless it is protected (read-only, or of
    // a group a new file could not keep) and the user, asked, keeps it.
    bool MayReplace(const QString &path) const;
    // Reads the whole file into bytes; false after a message (what, then why) when it cannot.
    bool ReadWhole(const QString &path, const QString &what, QByteArray &bytes) const;
    void ShowRefusal(const QString &head, const QString &path, const QList<TConfigProblem> &problems,
                     const QString &tail) const;
    void NoteFolder(const QString &path);

    QWidget *window_;
    std::function<void()> showOpened_;
    TConfigOrigin origin_;
    bool unsaved_ = false;
    QString folder_;
};
