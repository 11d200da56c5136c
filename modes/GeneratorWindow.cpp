#include "GeneratorWindow.h"

#include "Globals.h"

#include <QLabel>

TGeneratorWindow::TGeneratorWindow(QWidget *parent, TModeState state, const TGeneratorTraits &traits)
    : TModeWindow(parent, state, TCycleVariant::StatusOnly, GeneratorStatusTexts), traits_(traits)
{
    setWindowTitle(traits_.Caption);
    QFont formFont = font();
    formFont.setPointSize(8);
    setFont(formFont);
    setFixedSize(207, 93);

    lbRezim = new QLabel(QStringLiteral("Состояние - "), this);
    QFont labelFont = formFont;
    labelFont.setPointSize(12);
    lbRezim->setFont(labelFont);
    lbRezim->move(16, 16);
    lbRezim->adjustSize();

    Button1 = new TTagButton(this);
    Button1->setGeometry(16, 56, 97, 25);

    Button2 = new QPushButton(QStringLiteral("Выход"), this);
    Button2->setGeometry(120, 56, 75, 25);

    FormCreate();
}

std::optional<TRequestFields> TGeneratorWindow::RequestFor(int32_t requestKind) const
{
    switch (requestKind) {
    case RequestStatus:
        return StatusRequestFields(traits_.StatusCoilCount);
    case RequestCommand:
        return CommandRequestFields(traits_.Coil, Cycle().State().CommandValue);
    default:
        return std::nullopt;
    }
}

bool TGeneratorWindow::StatusBitSet() const
{
    return (ReceiveBuffer[traits_.StatusByteOffset] & traits_.StatusMask) != 0;
}
