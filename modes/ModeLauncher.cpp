#include "ModeLauncher.h"

#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "Imitation_TPU.h"
#include "ModeWindow.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "freq_counter.h"
#include "pack_pulses.h"

#include <QString>

namespace {

template <typename Window>
int Run(QWidget *parent, TCustomComPort &mainPort, const QString &recordFolder, const QString &modeName,
        void (*prepare)(Window &) = nullptr)
{
    mainPort.Close();
    Window window(parent);
    if (prepare)
        prepare(window);
    if (!recordFolder.isEmpty())
        window.StartRecording(recordFolder, modeName);
    return RunModeWindow(window, mainPort);
}

}  // namespace

int OpenModeWindow(TModeId mode, QWidget *parent, TCustomComPort &mainPort, const QString &recordFolder,
                   const QString &modeName)
{
    switch (mode) {
    case TModeId::TprTpu1:
        return Run<TfmTPR_TPU>(parent, mainPort, recordFolder, modeName, [](TfmTPR_TPU &w) { w.SelectTPU(1); });
    case TModeId::TprTpu2:
        return Run<TfmTPR_TPU>(parent, mainPort, recordFolder, modeName, [](TfmTPR_TPU &w) { w.SelectTPU(0); });
    case TModeId::TprTpr:
        return Run<TfmTPR_TPR>(parent, mainPort, recordFolder, modeName);
    case TModeId::FreqCounter:
        return Run<Tfmfreq_counter>(parent, mainPort, recordFolder, modeName);
    case TModeId::PackPulses:
        return Run<Tfmpack_pulses>(parent, mainPort, recordFolder, modeName);
    case TModeId::Tq:
        return Run<TfmTQ>(parent, mainPort, recordFolder, modeName);
    case TModeId::ImitationTpu:
        return Run<TfmImitation_TPU>(parent, mainPort, recordFolder, modeName);
    case TModeId::GeneratorF:
        return Run<TfmGenerator_f>(parent, mainPort, recordFolder, modeName);
    case TModeId::GeneratorT:
        return Run<TfmGenerator_T>(parent, mainPort, recordFolder, modeName);
    case TModeId::TcImitation:
        return Run<TfmGenerator_TC>(parent, mainPort, recordFolder, modeName);
    }
    return 0;
}
