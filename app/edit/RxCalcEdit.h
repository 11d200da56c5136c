#pragma once
// TRxCalcEdit: a numeric entry field with a button that drops down a small calculator.
// Keys are filtered at the caret, the value is held within MinValue and MaxValue when it
// is read or when the field loses the focus, and the text follows DisplayFormat while the
// field has no focus.

#include <QFrame>
#include <QLineEdit>
#include <QString>

#include "CalculatorEngine.h"
#include "NumberRules.h"

class QLabel;
class QAbstractButton;
class QToolButton;

// The drop-down calculator: a popup keypad over a TCalculatorEngine.
class TRxCalculatorPopup : public QFrame {
    Q_OBJECT
public:
    TRxCalculatorPopup(QWidget *owner, long double start, TNumberSeparators seps);

    // The key of the given caption ("7", "×", "=", "ОК", ...), for keyboard-less use.
    QAbstractButton *Key(const QString &caption) const;
    QString DisplayText() const;

signals:
    void Accepted(long double result);  // "ОК": the result goes into the field
    void Closed();                      // closed by any means

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void Press(const QString &caption);
    void Refresh();

    TCalculatorEngine engine_;
    TNumberSeparators seps_;
    QLabel *display_ = nullptr;
    bool closedSignalled_ = false;
};

class TRxCalcEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TRxCalcEdit(QWidget *parent = nullptr);

    // The value: reading converts the text being edited and clamps it (empty text is 0,
    // text that is no number reads as MinValue).
    long double Value() const;
    void SetValue(long double value);
    long double MinValue() const { return minValue_; }
    void SetMinValue(long double value);
    long double MaxValue() const { return maxValue_; }
    void SetMaxValue(long double value);
    int DecimalPlaces() const { return decimalPlaces_; }
    void SetDecimalPlaces(int places);
    QString DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const QString &format);

    QToolButton *DropDownButton() const { return button_; }
    TRxCalculatorPopup *Calculator() const { return calculator_; }
    void OpenCalculator();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void OnTextEdited(const QString &text);
    void ApplyCalculatorResult(long double result);
    void ShowValueText();
    void ReapplyBounds();
    TNumberSeparators Separators() const { return TNumberSeparators::Current(); }
    bool NonNegative() const { return RangeIsNonNegative(minValue_, maxValue_); }

    mutable long double value_ = 0;
    bool editing_ = false;  // the text is the editing text, not yet converted
    long double minValue_ = 0;
    long double maxValue_ = 0;
    int decimalPlaces_ = 2;
    QString displayFormat_ = QStringLiteral(",0.##");
    QString lastGoodText_;
    QToolButton *button_ = nullptr;
    TRxCalculatorPopup *calculator_ = nullptr;
};
