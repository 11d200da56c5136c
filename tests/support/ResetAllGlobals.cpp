#include "ResetGlobals.h"

#include "TPR_TPU.h"

void ResetAllGlobals()
{
    ResetGlobals();
    TPR_TPU::S2Base[0] = TPR_TPU::S2Base[1] = 0;
}
