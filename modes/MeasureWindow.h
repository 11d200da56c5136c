#pragma once
// The form and hooks shared by the measuring mode windows: "Режим:" with the state at the
// top, a two-column grid of values, start/stop at the top right and "Выход" below it,
// status and values requests alternating. Each window lists its grid rows as
// (caption, answer byte offset, kind) and the one values step below fills them.

#include "ModeMap.h"
#include "ModeWindow.h"

#include <QSize>

#include <span>

class QTableWidget;

// Builds the grid of a measuring window: 2 columns, one row per entry, no headers, grid
// lines, not editable; column 0 300 px, column 1 100 px, each wider only where the grid's
// font would cut a caption or a ten-digit count; the captions in column 0.
void SetUpValueGrid(QTableWidget *grid, std::span<const TValueRow> rows);
// Room a cell's text needs beside the text itself.
constexpr int CellTextPadding = 12;
// The values step: writes each row's value from the answer into column 1. Rows whose bytes
// lie beyond the answer's length keep their last text.
void FillValueGrid(QTableWidget *grid, std::span<const TValueRow> rows, const uint8_t *answer, int length);

// What tells one measuring window from another.
struct TMeasureTraits {
    QString Caption;
    QSize ClientSize;
    std::span<const TValueRow> Rows;
    uint16_t ValuesFirst;  // first input register of the values request
    uint16_t ValuesCount;
    uint8_t StatusMask;    // the mode's bit in status byte 3
    int Coil;              // switched by the command; -1: no start/stop, never a command
    TSendFailure Failure = TSendFailure::Caught;
    const TModeMap *Map = nullptr;  // the mode, for the window's record
};

// The traits of a mode's window: its caption and size, the rest from the mode's map.
TMeasureTraits MeasureTraitsOf(const TModeMap &map, const QString &caption, QSize clientSize,
                               TSendFailure failure = TSendFailure::Caught);

constexpr int ValueRowHeight = 24;

class TMeasureWindow : public TModeWindow {
    Q_OBJECT
public:
    TMeasureWindow(QWidget *parent, TModeState state, const TMeasureTraits &traits);

    QLabel *Label3 = nullptr;  // "Режим:"; absent without a start/stop button
    QTableWidget *StringGrid1 = nullptr;

    const TMeasureTraits &Traits() const { return traits_; }

protected:
    std::optional<TRequestFields> RequestFor(int32_t requestKind) const override;
    bool StatusBitSet() const override;
    void ShowValues() override;
    const TModeMap *Map() const override { return traits_.Map; }

    TMeasureTraits traits_;
};
