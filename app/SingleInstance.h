#pragma once
// The single-instance guard: an exclusive lock named after the executable's file name,
// held for the program's lifetime and released by the system when the process ends.

#include <QString>

class TSingleInstance {
public:
    // name: the guard's name, normally ExecutableName().
    explicit TSingleInstance(const QString &name);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // Takes the lock without waiting. True when this is the only holder; also true when
    // no lock file can be made at all (the guard then does not stop the program).
    bool Acquire();
    bool Owned() const { return fd_ >= 0; }

    // The running executable's file name with its extension, without its directory.
    static QString ExecutableName();
    // The lock file of a guard: in the user's runtime directory, else the temp directory.
    static QString LockPath(const QString &name);

private:
    QString name_;
    int fd_ = -1;
};
