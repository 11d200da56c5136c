#pragma once
// The single-instance guard: a lock of the system named after the executable's file name,
// held for the program's lifetime and released by the system when the process ends.
// Linux (SingleInstance_posix.cpp): an exclusive lock on a file; Windows
// (SingleInstance_win.cpp): a named mutex, created with initial ownership.

#include <QString>

#include <cstdint>

class TSingleInstance {
public:
    // name: the guard's name, normally ExecutableName(). On Windows this creates the mutex,
    // with initial ownership when no other copy has it yet.
    explicit TSingleInstance(const QString &name);
    ~TSingleInstance();  // releases the guard
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // Takes the guard without waiting. True when this is the only holder; also true when
    // the system gives no guard at all (it then does not stop the program), but not when
    // it refuses the guard because another copy holds it with rights this user lacks (a
    // copy started as administrator).
    bool Acquire();
    bool Owned() const { return owned_; }

    // The running executable's file name with its extension, without its directory.
    static QString ExecutableName();
    // Where the guard of that name is kept. Linux: its lock file, in the user's runtime
    // directory, else the temp directory. Windows: the mutex's name.
    static QString LockPath(const QString &name);

private:
    QString name_;
    std::intptr_t handle_ = -1;  // the lock file's descriptor, or the mutex's handle; -1: none
    bool owned_ = false;
    bool heldByOther_ = false;  // no guard: another copy holds one this user may not open
};
