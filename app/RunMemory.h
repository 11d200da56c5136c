#pragma once
// What the processing window remembers between runs of the program: the named prover
// profiles, the one last used, the lab's header, the transducer and the operator, and the
// last record processed. Kept in the program's settings file (ProverSettings); tests point
// it elsewhere.

#include "RunReport.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

// The program's settings: an INI file in the user's settings folder on every system.
std::unique_ptr<QSettings> ProverSettings();

class TRunMemory {
public:
    explicit TRunMemory(QSettings &settings) : settings_(settings) {}

    // Profiles by name, in the order they were first saved.
    QStringList ProfileNames() const;
    // False when there is none of that name.
    bool Profile(const QString &name, TProverProfile &profile) const;
    // Saves it under its name (replacing one of that name); an empty name is not saved.
    bool SaveProfile(const TProverProfile &profile);
    void RemoveProfile(const QString &name);
    QString LastProfile() const;
    void SetLastProfile(const QString &name);

    TLabFields Lab() const;
    void SetLab(const TLabFields &lab);
    TTestFields Test() const;
    void SetTest(const TTestFields &test);

    QString LastRecord() const;
    void SetLastRecord(const QString &path);

private:
    QList<TProverProfile> Profiles() const;
    void SetProfiles(const QList<TProverProfile> &profiles);

    QSettings &settings_;
};
