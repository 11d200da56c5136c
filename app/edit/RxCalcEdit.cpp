#include "RxCalcEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

namespace {

const QString KeyDivide = QStringLiteral("÷");
const QString KeyMultiply = QStringLiteral("×");
const QString KeyMinus = QStringLiteral("−");
const QString KeyPlus = QStringLiteral("+");
const QString KeyEquals = QStringLiteral("=");
const QString KeyClear = QStringLiteral("C");
const QString KeyBack = QStringLiteral("←");
const QString KeySign = QStringLiteral("±");
const QString KeyOk = QStringLiteral("ОК");
const QString KeyCancel = QStringLiteral("Отмена");

}  // namespace

// ---------------------------------------------------------------------------------------
// The drop-down calculator

TRxCalculatorPopup::TRxCalculatorPopup(QWidget *owner, long double start, TNumberSeparators seps)
    : QFrame(owner, Qt::Popup), engine_(start), seps_(seps)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setFont(owner ? owner->font() : QApplication::font());

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(3, 3, 3, 3);
    grid->setSpacing(2);

    display_ = new QLabel(this);
    display_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    display_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    display_->setMinimumHeight(20);
    grid->addWidget(display_, 0, 0, 1, 4);

    const QString separator(seps_.Decimal);
    const QString rows[5][4] = {
        {KeyClear, KeyBack, KeySign, KeyDivide},
        {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9"), KeyMultiply},
        {QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), KeyMinus},
        {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), KeyPlus},
        {QStringLiteral("0"), separator, KeyEquals, QString()},
    };
    auto addKey = [this, grid](const QString &caption, int row, int column, int span) {
        auto *key = new QToolButton(this);
        key->setText(caption);
        key->setObjectName(caption);
        key->setFocusPolicy(Qt::NoFocus);
        key->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        key->setFixedHeight(22);
        key->setMinimumWidth(span > 1 ? 60 : 30);
        connect(key, &QToolButton::clicked, this, [this, caption] { Press(caption); });
        grid->addWidget(key, row, column, 1, span);
    };
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 4; ++c)
            if (!rows[r][c].isEmpty())
                addKey(rows[r][c], r + 1, c, 1);
    addKey(KeyOk, 6, 0, 2);
    addKey(KeyCancel, 6, 2, 2);
    Refresh();
}

QAbstractButton *TRxCalculatorPopup::Key(const QString &caption) const
{
    for (QAbstractButton *key : findChildren<QAbstractButton *>())
        if (key->text() == caption)
            return key;
    return nullptr;
}

QString TRxCalculatorPopup::DisplayText() const
{
    return display_->text();
}

void TRxCalculatorPopup::Refresh()
{
    display_->setText(engine_.DisplayText(seps_.Decimal));
}

void TRxCalculatorPopup::Press(const QString &caption)
{
    if (caption.size() == 1 && caption.at(0).isDigit()) {
        engine_.Digit(caption.at(0).digitValue());
    } else if (caption == QString(seps_.Decimal)) {
        engine_.Separator();
    } else if (caption == KeyPlus) {
        engine_.Operation('+');
    } else if (caption == KeyMinus) {
        engine_.Operation('-');
    } else if (caption == KeyMultiply) {
        engine_.Operation('*');
    } else if (caption == KeyDivide) {
        engine_.Operation('/');
    } else if (caption == KeyEquals) {
        engine_.Equals();
    } else if (caption == KeyClear) {
        engine_.Clear();
    } else if (caption == KeyBack) {
        engine_.Backspace();
    } else if (caption == KeySign) {
        engine_.ChangeSign();
    } else if (caption == KeyOk) {
        const long double result = engine_.Result();
        if (engine_.HasError()) {
            QApplication::beep();
            Refresh();
            return;
        }
        emit Accepted(result);
        close();
        return;
    } else if (caption == KeyCancel) {
        close();
        return;
    }
    Refresh();
}

void TRxCalculatorPopup::keyPressEvent(QKeyEvent *event)
{
    const QString text = event->text();
    switch (event->key()) {
    case Qt::Key_Escape: Press(KeyCancel); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: Press(KeyOk); return;
    case Qt::Key_Backspace: Press(KeyBack); return;
    case Qt::Key_Delete: Press(KeyClear); return;
    default: break;
    }
    if (text.size() == 1) {
        const QChar c = text.at(0);
        if (c.isDigit())
            return Press(text);
        if (c == u'.' || c == u',')
            return Press(QString(seps_.Decimal));
        if (c == u'+')
            return Press(KeyPlus);
        if (c == u'-')
            return Press(KeyMinus);
        if (c == u'*')
            return Press(KeyMultiply);
        if (c == u'/')
            return Press(KeyDivide);
        if (c == u'=')
            return Press(KeyEquals);
    }
    QFrame::keyPressEvent(event);
}

void TRxCalculatorPopup::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    if (!closedSignalled_) {
        closedSignalled_ = true;
        emit Closed();
    }
}

// ---------------------------------------------------------------------------------------
// The numeric field

TRxCalcEdit::TRxCalcEdit(QWidget *parent) : QLineEdit(parent)
{
    button_ = new QToolButton(this);
    button_->setArrowType(Qt::DownArrow);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setCursor(Qt::ArrowCursor);
    button_->setAutoRaise(false);
    connect(button_, &QToolButton::clicked, this, &TRxCalcEdit::OpenCalculator);
    connect(this, &QLineEdit::textEdited, this, &TRxCalcEdit::OnTextEdited);
    ShowValueText();
}

long double TRxCalcEdit::Value() const
{
    if (editing_)
        value_ = TextToValue(text(), Separators(), minValue_, maxValue_);
    return value_;
}

void TRxCalcEdit::SetValue(long double value)
{
    value_ = ClampValue(value, minValue_, maxValue_);
    ShowValueText();
}

void TRxCalcEdit::ReapplyBounds()
{
    const long double current = Value();
    value_ = ClampValue(current, minValue_, maxValue_);
    ShowValueText();
}

void TRxCalcEdit::SetMinValue(long double value)
{
    minValue_ = value;
    ReapplyBounds();
}

void TRxCalcEdit::SetMaxValue(long double value)
{
    maxValue_ = value;
    ReapplyBounds();
}

void TRxCalcEdit::SetDecimalPlaces(int places)
{
    Value();
    decimalPlaces_ = std::clamp(places, 0, 18);
    ShowValueText();
}

void TRxCalcEdit::SetDisplayFormat(const QString &format)
{
    Value();
    displayFormat_ = format;
    ShowValueText();
}

// The text of the current value: the editing text while the field has the focus, the
// display format otherwise.
void TRxCalcEdit::ShowValueText()
{
    editing_ = hasFocus();
    setText(editing_ ? FormatEditing(value_, decimalPlaces_, Separators())
                      : FormatDisplay(value_, displayFormat_, Separators()));
    lastGoodText_ = text();
}

void TRxCalcEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ShowValueText();
        selectAll();
        event->accept();  // Esc stays in the field
        return;
    }
    if ((event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) ||
        (event->key() == Qt::Key_F4 && event->modifiers() == Qt::NoModifier)) {
        OpenCalculator();
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool plainKey = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plainKey && typed.size() == 1 && typed.at(0).isPrint()) {
        const QChar key = MapTypedSeparator(typed.at(0), Separators());
        QString candidate = text();
        int at = cursorPosition();
        if (hasSelectedText()) {
            at = selectionStart();
            candidate.remove(at, selectedText().size());
        }
        candidate.insert(at, key);
        if (IsAcceptableTyping(candidate, Separators(), decimalPlaces_, NonNegative())) {
            editing_ = true;
            insert(QString(key));
            lastGoodText_ = text();
        } else {
            QApplication::beep();
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// Any edit other than a typed key (paste, drop, deletion, undo) must leave text that a
// typed key could also have produced; otherwise it is undone.
void TRxCalcEdit::OnTextEdited(const QString &newText)
{
    if (IsAcceptableTyping(newText, Separators(), decimalPlaces_, NonNegative())) {
        editing_ = true;
        lastGoodText_ = newText;
        return;
    }
    QApplication::beep();
    setText(lastGoodText_);
}

void TRxCalcEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (event->reason() == Qt::PopupFocusReason)
        return;  // back from the calculator or a context menu: the text stays as it is
    if (editing_)
        return;  // back in an active window: the edit goes on where it was
    ShowValueText();
    if (event->reason() != Qt::MouseFocusReason)
        selectAll();
}

void TRxCalcEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || calculator_)
        return;  // the calculator or a context menu took the focus: not a loss
    if (event->reason() == Qt::ActiveWindowFocusReason)
        return;  // another window became active: the edit goes on when this one comes back
    Value();
    ShowValueText();
}

void TRxCalcEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int side = std::max(height() - 2 * frame, 8);
    const int width = std::min(side, 17);
    button_->setGeometry(this->width() - frame - width, frame, width, side);
    setTextMargins(0, 0, width, 0);
}

void TRxCalcEdit::OpenCalculator()
{
    if (calculator_ || !isEnabled() || isReadOnly())
        return;
    const auto start = ParseNumberText(text(), Separators());
    calculator_ = new TRxCalculatorPopup(this, start ? *start : value_, Separators());
    connect(calculator_, &TRxCalculatorPopup::Accepted, this, &TRxCalcEdit::ApplyCalculatorResult);
    connect(calculator_, &TRxCalculatorPopup::Closed, this, [this] {
        calculator_ = nullptr;
        setFocus(Qt::PopupFocusReason);
    });
    calculator_->adjustSize();
    QPoint at = mapToGlobal(QPoint(0, height()));
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        if (at.y() + calculator_->height() > area.bottom())
            at.setY(mapToGlobal(QPoint(0, 0)).y() - calculator_->height());
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - calculator_->width())));
    }
    calculator_->move(at);
    calculator_->show();
}

// The calculator's result is taken as if typed: rounded to the decimals a typed text
// may hold, and refused when the field takes no negative number.
void TRxCalcEdit::ApplyCalculatorResult(long double result)
{
    if (NonNegative() && result < 0) {
        QApplication::beep();
        return;
    }
    const QString newText = FormatEditing(RoundToDecimals(result, decimalPlaces_), decimalPlaces_, Separators());
    editing_ = true;
    setText(newText);
    lastGoodText_ = newText;
}
