#include "MeasureWindow.h"

#include "Globals.h"
#include "ValueText.h"
#include "modbus.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

#include <algorithm>

namespace {

constexpr int GridLeft = 32;
constexpr int GridTop = 32;
constexpr int GridSpare = 9;     // the grid is 9 px wider than its two columns
constexpr int ButtonGap = 15;    // between the grid and the buttons
constexpr int RightMargin = 12;  // right of the buttons
constexpr int ButtonTop = 32;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int BottomMargin = 10;

QFont PixelFont(const QFont &base, int pixels)
{
    QFont font = base;
    font.setPixelSize(pixels);
    return font;
}

int GridHeight(int rows)
{
    return rows * ValueRowHeight + 6;
}

}  // namespace

TMeasureTraits MeasureTraitsOf(const TModeMap &map, const QString &caption, QSize clientSize, TSendFailure failure)
{
    return {caption, clientSize, map.Rows, map.ValuesFirst, map.ValuesCount, map.StatusMask, map.Coil, failure, &map};
}

void SetUpValueGrid(QTableWidget *grid, std::span<const TValueRow> rows)
{
    grid->setColumnCount(2);
    grid->setRowCount(int(rows.size()));
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setShowGrid(true);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->setFocusPolicy(Qt::NoFocus);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(ValueRowHeight);
    const QFontMetrics metrics(grid->font());
    int captionWidth = 300;
    for (const TValueRow &row : rows)
        captionWidth = std::max(captionWidth, metrics.horizontalAdvance(QString::fromUtf8(row.Caption)) + CellTextPadding);
    grid->setColumnWidth(0, captionWidth);
    grid->setColumnWidth(1, std::max(100, metrics.horizontalAdvance(QStringLiteral("4294967295")) + CellTextPadding));
    for (int r = 0; r < int(rows.size()); ++r) {
        grid->setRowHeight(r, ValueRowHeight);
        auto *caption = new QTableWidgetItem(QString::fromUtf8(rows[r].Caption));
        caption->setFlags(Qt::ItemIsEnabled);
        grid->setItem(r, 0, caption);
        auto *value = new QTableWidgetItem;
        value->setFlags(Qt::ItemIsEnabled);
        grid->setItem(r, 1, value);
    }
}

void FillValueGrid(QTableWidget *grid, std::span<const TValueRow> rows, const uint8_t *answer, int length)
{
    for (int r = 0; r < int(rows.size()); ++r) {
        if (ValueRowPresent(length, rows[r]))
            grid->item(r, 1)->setText(ValueRowText(answer, rows[r]));
    }
}

TMeasureWindow::TMeasureWindow(QWidget *parent, TModeState state, const TMeasureTraits &traits)
    : TModeWindow(parent, state, TCycleVariant::ThreeRequest, ModeStatusTexts, traits.Failure), traits_(traits)
{
    setWindowTitle(traits_.Caption);
    QFont formFont = font();
    formFont.setPointSize(8);
    setFont(formFont);
    const int rows = int(traits_.Rows.size());
    const bool startStop = traits_.Coil >= 0;
    const QFont stateFont = PixelFont(formFont, 16);

    StringGrid1 = new QTableWidget(this);
    SetUpValueGrid(StringGrid1, traits_.Rows);
    // The form is 543 px wide; it widens only as far as its grid had to.
    const int gridWidth = StringGrid1->columnWidth(0) + StringGrid1->columnWidth(1) + GridSpare;
    const int buttonLeft = GridLeft + gridWidth + ButtonGap;
    setFixedSize(std::max(traits_.ClientSize.width(), buttonLeft + ButtonWidth + RightMargin),
                 traits_.ClientSize.height());

    lbRezim = new QLabel(this);
    lbRezim->setFont(stateFont);

    if (startStop) {
        Label3 = new QLabel(QStringLiteral("Режим:"), this);
        Label3->setFont(stateFont);
        Label3->move(GridLeft, 8);
        Label3->adjustSize();
        lbRezim->move(std::max(89, Label3->geometry().right() + 7), 8);
        StringGrid1->setGeometry(GridLeft, GridTop, gridWidth, GridHeight(rows));

        Button1 = new TTagButton(this);
        Button1->setGeometry(buttonLeft, ButtonTop, ButtonWidth, ButtonHeight);
    } else {
        // Without the start/stop button the grid starts at the top and the state is shown
        // beside it, above "Выход".
        StringGrid1->setGeometry(GridLeft, 8, gridWidth, GridHeight(rows));
        lbRezim->move(buttonLeft, 16);
    }

    Button2 = new QPushButton(QStringLiteral("Выход"), this);
    Button2->setGeometry(buttonLeft, height() - ButtonHeight - BottomMargin, ButtonWidth,
                         ButtonHeight);

    FormCreate();
}

std::optional<TRequestFields> TMeasureWindow::RequestFor(int32_t requestKind) const
{
    switch (requestKind) {
    case RequestValues:
        return ValuesRequestFields(traits_.ValuesFirst, traits_.ValuesCount);
    case RequestStatus:
        return StatusRequestFields(8);
    case RequestCommand:
        if (traits_.Coil < 0)
            return std::nullopt;
        return CommandRequestFields(uint16_t(traits_.Coil), Cycle().State().CommandValue);
    default:
        return std::nullopt;
    }
}

bool TMeasureWindow::StatusBitSet() const
{
    return (ReceiveBuffer[3] & traits_.StatusMask) != 0;
}

void TMeasureWindow::ShowValues()
{
    // Only the answer itself: bytes that came after it are no part of any value.
    FillValueGrid(StringGrid1, traits_.Rows, ReceiveBuffer, ModeAnswerLength());
}
