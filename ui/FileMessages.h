#pragma once
// The window program's words for what the configuration file's reader refused and for why
// a file could not be written or read: the core reports both as structured values, and
// each program words them for its own users.

#include "ConfigFileFormat.h"
#include "FileAccess.h"

#include <QString>
#include <QStringList>

// One reason a file was refused: "«Пачка импульсов / Преднабор (N)» (PackCount): значение
// 5.7 недопустимо; допускается целое число от 0 до 999999".
QString ProblemMessage(const TConfigProblem &problem);
// What a value may be: "целое число от 100 до 100000".
QString AllowedValuesMessage(const TAllowedValues &allowed);
// Why a file was not written or read: "на диске нет места".
QString FileCauseMessage(const TFileFailure &failure);

// What a failed save left of the earlier file: "Прежний файл остался без изменений.", or,
// when the system left the replacement half done, that it is gone and where the new
// configuration is; empty when there was no earlier file.
QString EarlierFileMessage(const TFileFailure &failure, bool existed, const QString &path);

// Where a file's values came from: "считаны из прибора 09.12.2026 14:05, порт COM3;
// изменены вручную"; empty when the file does not say.
QString OriginMessage(const TConfigOrigin &origin);

// The reasons as a list for a message: one line each, each after a bullet.
QString ReasonList(const QStringList &reasons);
