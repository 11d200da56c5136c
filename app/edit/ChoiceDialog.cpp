#include "ChoiceDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace {

TInputDialogFrame FrameOf(const TChoiceForm &form)
{
    TInputDialogFrame frame;
    frame.ClientWidth = form.ClientWidth;
    frame.ButtonX = form.ButtonX;
    frame.OrdinaryWindow = form.OrdinaryWindow;
    frame.DesignedPosition = form.DesignedPosition;
    return frame;
}

}  // namespace

TChoiceDialog::TChoiceDialog(const TChoiceForm &form, QWidget *owner)
    : TInputDialog(FrameOf(form), form.Caption, owner)
{
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);  // typed text never joins the list
    ComboBox1->setCompleter(nullptr);                  // nor is it completed into an entry
    ComboBox1->addItems(form.Items);
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(16, 24, form.BoxWidth, 21);
    ComboBox1->lineEdit()->selectAll();  // typing replaces the shown entry
    SetValueControl(ComboBox1);

    if (!form.UnitLabel.isEmpty()) {
        Label1 = new QLabel(form.UnitLabel, this);
        QFont big = font();
        big.setPointSize(12);
        Label1->setFont(big);
        Label1->move(form.UnitLabelPos);
        Label1->adjustSize();
    }
}

uint8_t TChoiceDialog::ChosenIndex() const
{
    const QString text = ComboBox1->currentText();
    for (int i = 0; i < ComboBox1->count(); ++i)
        if (ComboBox1->itemText(i) == text)
            return uint8_t(i);
    return NothingChosen;
}

uint8_t TChoiceDialog::Choose()
{
    return RunModal() == ModalResultOk ? ChosenIndex() : NothingChosen;
}
