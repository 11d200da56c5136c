#pragma once
// The form and hooks shared by the measuring mode windows: "Режим:" with the state at the
// top, a two-column grid of values, start/stop at the top right and "Выход" below it,
// status and values requests alternating. Each window lists its grid rows as
// (caption, answer byte offset, kind) and the one values step below fills them.

#include "ModeWindow.h"

#include <QSize>

#include <span>

class QTableWidget;

enum class TValueKind {
    Float,  // word-swapped float
    Count,  // word-swapped unsigned count
};

// One row of a values grid: caption in column 0, the value from the four answer bytes at
// Offset (byte 0 is the address) in column 1.
struct TValueRow {
    const char *Caption;  // UTF-8
    int Offset;
    TValueKind Kind;
};

// The text of a row's value read from an answer.
QString ValueRowText(const uint8_t *answer, const TValueRow &row);
// Whether an answer of `length` bytes carries the row's four bytes.
bool ValueRowPresent(int length, const TValueRow &row);

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
};

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

    TMeasureTraits traits_;
};
