#pragma once
// The common form of the two number dialogs: a numeric field and the common buttons,
// captioned "Введите число".

#include "InputDialog.h"

class TRxCalcEdit;

class TNumberDialog : public TInputDialog {
    Q_OBJECT
public:
    explicit TNumberDialog(QWidget *owner);

    TRxCalcEdit *RxCalcEdit1 = nullptr;
};
