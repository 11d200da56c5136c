#pragma once
// The family of choice dialogs: an editable combo box with a fixed list, an optional unit
// label, and the common buttons. Each member unit gives its form and stays thin.

#include <QPoint>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "InputDialog.h"

class QComboBox;
class QLabel;

// How one member of the family differs from the common form.
struct TChoiceForm {
    QString Caption = QString();
    QStringList Items = QStringList();
    int ClientWidth = 323;
    int BoxWidth = 177;
    int ButtonX = 232;
    QString UnitLabel = QString();  // empty: the form has no Label1
    QPoint UnitLabelPos = QPoint();
    bool OrdinaryWindow = false;
    bool DesignedPosition = false;
};

constexpr uint8_t NothingChosen = 255;

class TChoiceDialog : public TInputDialog {
    Q_OBJECT
public:
    TChoiceDialog(const TChoiceForm &form, QWidget *owner);

    // The position of the list entry whose text the box holds exactly; 255 when the box
    // holds typed text that is no entry.
    uint8_t ChosenIndex() const;
    // Runs the dialog: the chosen position after "ОК", 255 otherwise.
    uint8_t Choose();

    QComboBox *ComboBox1 = nullptr;
    QLabel *Label1 = nullptr;
};

// Creates the member form, runs it modally and destroys it.
template <typename Form>
uint8_t ExecuteChoice()
{
    Form form(TInputDialog::Owner());
    return form.Choose();
}
