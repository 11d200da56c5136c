#include "RunMemory.h"

std::unique_ptr<QSettings> ProverSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Karven"),
                                       QStringLiteral("karven12t"));
}

namespace {

const QString ProfilesKey = QStringLiteral("ProverProfiles");

}  // namespace

QList<TProverProfile> TRunMemory::Profiles() const
{
    QList<TProverProfile> profiles;
    const int count = settings_.beginReadArray(ProfilesKey);
    for (int i = 0; i < count; ++i) {
        settings_.setArrayIndex(i);
        TProverProfile p;
        p.Name = settings_.value(QStringLiteral("Name")).toString();
        p.Serial = settings_.value(QStringLiteral("Serial")).toString();
        p.CertificateDate = settings_.value(QStringLiteral("CertificateDate")).toString();
        p.Volume12 = settings_.value(QStringLiteral("Volume12"), 0.0).toDouble();
        p.Volume21 = settings_.value(QStringLiteral("Volume21"), 0.0).toDouble();
        p.Volume34 = settings_.value(QStringLiteral("Volume34"), 0.0).toDouble();
        p.Volume43 = settings_.value(QStringLiteral("Volume43"), 0.0).toDouble();
        p.Unit = settings_.value(QStringLiteral("Unit")).toString() == QStringLiteral("m3") ? ProverRun::TVolumeUnit::CubicMetre
                                                                                          : ProverRun::TVolumeUnit::Litre;
        p.LimitPercent = settings_.value(QStringLiteral("LimitPercent"), 0.05).toDouble();
        p.LimitOf = settings_.value(QStringLiteral("LimitOf")).toString() == QStringLiteral("sko") ? ProverRun::TLimitFigure::Sko
                                                                                                 : ProverRun::TLimitFigure::Range;
        if (!p.Name.isEmpty())
            profiles.append(p);
    }
    settings_.endArray();
    return profiles;
}

void TRunMemory::SetProfiles(const QList<TProverProfile> &profiles)
{
    settings_.remove(ProfilesKey);
    settings_.beginWriteArray(ProfilesKey, int(profiles.size()));
    for (int i = 0; i < profiles.size(); ++i) {
        const TProverProfile &p = profiles[i];
        settings_.setArrayIndex(i);
        settings_.setValue(QStringLiteral("Name"), p.Name);
        settings_.setValue(QStringLiteral("Serial"), p.Serial);
        settings_.setValue(QStringLiteral("CertificateDate"), p.CertificateDate);
        settings_.setValue(QStringLiteral("Volume12"), p.Volume12);
        settings_.setValue(QStringLiteral("Volume21"), p.Volume21);
        settings_.setValue(QStringLiteral("Volume34"), p.Volume34);
        settings_.setValue(QStringLiteral("Volume43"), p.Volume43);
        settings_.setValue(QStringLiteral("Unit"), p.Unit == ProverRun::TVolumeUnit::CubicMetre ? QStringLiteral("m3") : QStringLiteral("l"));
        settings_.setValue(QStringLiteral("LimitPercent"), p.LimitPercent);
        settings_.setValue(QStringLiteral("LimitOf"), p.LimitOf == ProverRun::TLimitFigure::Sko ? QStringLiteral("sko") : QStringLiteral("range"));
    }
    settings_.endArray();
}

QStringList TRunMemory::ProfileNames() const
{
    QStringList names;
    for (const TProverProfile &p : Profiles())
        names << p.Name;
    return names;
}

bool TRunMemory::Profile(const QString &name, TProverProfile &profile) const
{
    for (const TProverProfile &p : Profiles())
        if (p.Name == name) {
            profile = p;
            return true;
        }
    return false;
}

bool TRunMemory::SaveProfile(const TProverProfile &profile)
{
    if (profile.Name.trimmed().isEmpty())
        return false;
    QList<TProverProfile> profiles = Profiles();
    bool replaced = false;
    for (TProverProfile &p : profiles)
        if (p.Name == profile.Name) {
            p = profile;
            replaced = true;
        }
    if (!replaced)
        profiles.append(profile);
    SetProfiles(profiles);
    return true;
}

void TRunMemory::RemoveProfile(const QString &name)
{
    QList<TProverProfile> profiles = Profiles();
    profiles.removeIf([&](const TProverProfile &p) { return p.Name == name; });
    SetProfiles(profiles);
    if (LastProfile() == name)
        SetLastProfile(QString());
}

QString TRunMemory::LastProfile() const
{
    return settings_.value(QStringLiteral("Prover/LastProfile")).toString();
}

void TRunMemory::SetLastProfile(const QString &name)
{
    settings_.setValue(QStringLiteral("Prover/LastProfile"), name);
}

TLabFields TRunMemory::Lab() const
{
    return {settings_.value(QStringLiteral("Lab/Organisation")).toString(),
            settings_.value(QStringLiteral("Lab/Laboratory")).toString(),
            settings_.value(QStringLiteral("Lab/Accreditation")).toString()};
}

void TRunMemory::SetLab(const TLabFields &lab)
{
    settings_.setValue(QStringLiteral("Lab/Organisation"), lab.Organisation);
    settings_.setValue(QStringLiteral("Lab/Laboratory"), lab.Laboratory);
    settings_.setValue(QStringLiteral("Lab/Accreditation"), lab.Accreditation);
}

TTestFields TRunMemory::Test() const
{
    return {settings_.value(QStringLiteral("Test/TransducerType")).toString(),
            settings_.value(QStringLiteral("Test/TransducerSerial")).toString(),
            settings_.value(QStringLiteral("Test/Operator")).toString()};
}

void TRunMemory::SetTest(const TTestFields &test)
{
    settings_.setValue(QStringLiteral("Test/TransducerType"), test.TransducerType);
    settings_.setValue(QStringLiteral("Test/TransducerSerial"), test.TransducerSerial);
    settings_.setValue(QStringLiteral("Test/Operator"), test.Operator);
}

QString TRunMemory::LastRecord() const
{
    return settings_.value(QStringLiteral("Prover/LastRecord")).toString();
}

void TRunMemory::SetLastRecord(const QString &path)
{
    settings_.setValue(QStringLiteral("Prover/LastRecord"), path);
}
