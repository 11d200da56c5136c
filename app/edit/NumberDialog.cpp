#include "NumberDialog.h"

#include "RxCalcEdit.h"

namespace {

TInputDialogFrame NumberFrame()
{
    TInputDialogFrame frame;
    frame.ClientWidth = 320;
    frame.ClientHeight = 104;
    frame.ButtonX = 224;
    frame.Button1Y = 24;
    frame.Button2Y = 64;
    return frame;
}

}  // namespace

TNumberDialog::TNumberDialog(QWidget *owner)
    : TInputDialog(NumberFrame(), QStringLiteral("Введите число"), owner)
{
    RxCalcEdit1 = new TRxCalcEdit(this);
    RxCalcEdit1->setGeometry(8, 24, 177, 21);
    SetValueControl(RxCalcEdit1);
}
