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
    : QFrame(owner, Qt::Popup), m_engine(start), m_seps(seps)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setFont(owner ? owner->font() : QApplication::font());

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(3, 3, 3, 3);
    grid->setSpacing(2);

    m_display = new QLabel(this);
    m_display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_display->setMinimumHeight(20);
    grid->addWidget(m_display, 0, 0, 1, 4);

    const QString separator(m_seps.Decimal);
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
    return m_display->text();
}

void TRxCalculatorPopup::Refresh()
{
    m_display->setText(m_engine.DisplayText(m_seps.Decimal));
}

void TRxCalculatorPopup::Press(const QString &caption)
{
    if (caption.size() == 1 && caption.at(0).isDigit()) {
        m_engine.Digit(caption.at(0).digitValue());
    } else if (caption == QString(m_seps.Decimal)) {
        m_engine.Separator();
    } else if (caption == KeyPlus) {
        m_engine.Operation('+');
    } else if (caption == KeyMinus) {
        m_engine.Operation('-');
    } else if (caption == KeyMultiply) {
        m_engine.Operation('*');
    } else if (caption == KeyDivide) {
        m_engine.Operation('/');
    } else if (caption == KeyEquals) {
        m_engine.Equals();
    } else if (caption == KeyClear) {
        m_engine.Clear();
    } else if (caption == KeyBack) {
        m_engine.Backspace();
    } else if (caption == KeySign) {
        m_engine.ChangeSign();
    } else if (caption == KeyOk) {
        const long double result = m_engine.Result();
        if (m_engine.HasError()) {
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
            return Press(QString(m_seps.Decimal));
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
    if (!m_closedSignalled) {
        m_closedSignalled = true;
        emit Closed();
    }
}

// ---------------------------------------------------------------------------------------
// The numeric field

TRxCalcEdit::TRxCalcEdit(QWidget *parent) : QLineEdit(parent)
{
    m_button = new QToolButton(this);
    m_button->setArrowType(Qt::DownArrow);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setAutoRaise(false);
    connect(m_button, &QToolButton::clicked, this, &TRxCalcEdit::OpenCalculator);
    connect(this, &QLineEdit::textEdited, this, &TRxCalcEdit::OnTextEdited);
    ShowValueText();
}

long double TRxCalcEdit::Value() const
{
    if (m_editing)
        m_value = TextToValue(text(), Separators(), m_minValue, m_maxValue);
    return m_value;
}

void TRxCalcEdit::SetValue(long double value)
{
    m_value = ClampValue(value, m_minValue, m_maxValue);
    ShowValueText();
}

void TRxCalcEdit::ReapplyBounds()
{
    const long double current = Value();
    m_value = ClampValue(current, m_minValue, m_maxValue);
    ShowValueText();
}

void TRxCalcEdit::SetMinValue(long double value)
{
    m_minValue = value;
    ReapplyBounds();
}

void TRxCalcEdit::SetMaxValue(long double value)
{
    m_maxValue = value;
    ReapplyBounds();
}

void TRxCalcEdit::SetDecimalPlaces(int places)
{
    Value();
    m_decimalPlaces = std::clamp(places, 0, 18);
    ShowValueText();
}

void TRxCalcEdit::SetDisplayFormat(const QString &format)
{
    Value();
    m_displayFormat = format;
    ShowValueText();
}

// The text of the current value: the editing text while the field has the focus, the
// display format otherwise.
void TRxCalcEdit::ShowValueText()
{
    m_editing = hasFocus();
    setText(m_editing ? FormatEditing(m_value, m_decimalPlaces, Separators())
                      : FormatDisplay(m_value, m_displayFormat, Separators()));
    m_lastGoodText = text();
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
        if (IsAcceptableTyping(candidate, Separators(), m_decimalPlaces, NonNegative())) {
            m_editing = true;
            insert(QString(key));
            m_lastGoodText = text();
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
    if (IsAcceptableTyping(newText, Separators(), m_decimalPlaces, NonNegative())) {
        m_editing = true;
        m_lastGoodText = newText;
        return;
    }
    QApplication::beep();
    setText(m_lastGoodText);
}

void TRxCalcEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (event->reason() == Qt::PopupFocusReason)
        return;  // back from the calculator or a context menu: the text stays as it is
    if (m_editing)
        return;  // back in an active window: the edit goes on where it was
    ShowValueText();
    if (event->reason() != Qt::MouseFocusReason)
        selectAll();
}

void TRxCalcEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || m_calculator)
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
    m_button->setGeometry(this->width() - frame - width, frame, width, side);
    setTextMargins(0, 0, width, 0);
}

void TRxCalcEdit::OpenCalculator()
{
    if (m_calculator || !isEnabled() || isReadOnly())
        return;
    const auto start = ParseNumberText(text(), Separators());
    m_calculator = new TRxCalculatorPopup(this, start ? *start : m_value, Separators());
    connect(m_calculator, &TRxCalculatorPopup::Accepted, this, &TRxCalcEdit::ApplyCalculatorResult);
    connect(m_calculator, &TRxCalculatorPopup::Closed, this, [this] {
        m_calculator = nullptr;
        setFocus(Qt::PopupFocusReason);
    });
    m_calculator->adjustSize();
    QPoint at = mapToGlobal(QPoint(0, height()));
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        if (at.y() + m_calculator->height() > area.bottom())
            at.setY(mapToGlobal(QPoint(0, 0)).y() - m_calculator->height());
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - m_calculator->width())));
    }
    m_calculator->move(at);
    m_calculator->show();
}

// The calculator's result is taken as if typed: rounded to the decimals a typed text
// may hold, and refused when the field takes no negative number.
void TRxCalcEdit::ApplyCalculatorResult(long double result)
{
    if (NonNegative() && result < 0) {
        QApplication::beep();
        return;
    }
    const QString newText = FormatEditing(RoundToDecimals(result, m_decimalPlaces), m_decimalPlaces, Separators());
    m_editing = true;
    setText(newText);
    m_lastGoodText = newText;
}
