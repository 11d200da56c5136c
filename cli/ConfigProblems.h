#pragma once
// The companion's words (English) for why the configuration file's reader refused a file:
// the reader reports each reason as a structured problem.

#include "ConfigFileFormat.h"

#include <QString>

// A problem, without the file's name:
// "parameter PackCount (Пачка импульсов / Преднабор (N)): value 5.7 is not allowed; it may be ...".
QString ConfigProblemText(const TConfigProblem &problem);
// What a value may be, in the same words: "a whole number from 100 to 100000".
QString AllowedValuesText(const TAllowedValues &allowed);
