#include "GeneratorWindow.h"

#include "Globals.h"

#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

TGeneratorTraits GeneratorTraitsOf(const TModeMap &map, const QString &caption)
{
    return {caption, uint16_t(map.Coil), map.StatusCoilCount, map.StatusByteOffset, map.StatusMask, &map};
}

TGeneratorWindow::TGeneratorWindow(QWidget *parent, TModeState state, const TGeneratorTraits &traits)
    : TModeWindow(parent, state, TCycleVariant::StatusOnly, GeneratorStatusTexts), traits_(traits)
{
    setWindowTitle(traits_.Caption);
    QFont formFont = font();
    formFont.setPointSize(8);
    setFont(formFont);

    lbRezim = new QLabel(QStringLiteral("Состояние - "), this);
    QFont labelFont = formFont;
    labelFont.setPointSize(12);
    lbRezim->setFont(labelFont);
    lbRezim->move(16, 16);
    lbRezim->adjustSize();

    // The form is 207 pixels wide; the 12-point state text of the fonts found here can be
    // wider than the room it has, so the form widens until the longer text keeps the same
    // margin on the right as on the left.
    const QFontMetrics metrics(labelFont);
    const int widest = std::max(metrics.horizontalAdvance(GeneratorStatusTexts.LabelOn),
                                metrics.horizontalAdvance(GeneratorStatusTexts.LabelOff));
    setFixedSize(std::max(207, 16 + widest + 1 + 16), 93);

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
