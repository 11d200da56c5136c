#pragma once
// The arithmetic of the numeric field's drop-down calculator: a four-function pocket
// calculator working left to right ("2 + 3 × 4 =" gives 20). No widgets here.

#include <QString>

class TCalculatorEngine {
public:
    explicit TCalculatorEngine(long double start = 0);

    void Digit(int digit);       // 0..9
    void Separator();            // starts the fraction of the entry
    void Operation(char op);     // '+', '-', '*', '/'
    void Equals();
    void Clear();                // back to 0, no pending operation
    void Backspace();            // drops the last typed character of the entry
    void ChangeSign();

    // What the display shows, with the given decimal separator.
    QString DisplayText(QChar decimalSeparator) const;
    // The value on the display (the entry being typed, or the last result).
    long double DisplayValue() const;
    // Finishes a pending operation and gives the result.
    long double Result();
    bool HasError() const { return error_; }

private:
    void CommitEntry();

    long double accumulator_ = 0;  // left operand of the pending operation
    long double display_ = 0;      // value shown when no entry is being typed
    QString entry_;                // digits being typed, "." as the separator
    char pending_ = 0;             // pending operation, 0 for none
    bool typing_ = false;
    bool error_ = false;
};
