// The system's own words for a port failure on Linux: those of its error number.

#include "Causes.h"

QString SystemCauseWords(int err)
{
    return FileCause(err);
}
