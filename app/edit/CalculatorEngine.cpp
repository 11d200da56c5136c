#include "CalculatorEngine.h"

#include <cmath>
#include <limits>

namespace {
constexpr int MaxEntryDigits = 15;
}

TCalculatorEngine::TCalculatorEngine(long double start)
    : display_(std::isfinite(start) ? start : 0)
{
}

void TCalculatorEngine::Digit(int digit)
{
    if (error_ || digit < 0 || digit > 9)
        return;
    if (!typing_) {
        entry_.clear();
        typing_ = true;
    }
    int digits = 0;
    for (QChar c : entry_)
        digits += c.isDigit() ? 1 : 0;
    if (digits >= MaxEntryDigits)
        return;
    if (entry_ == QLatin1String("0"))
        entry_.clear();
    entry_.append(QChar(u'0' + digit));
}

void TCalculatorEngine::Separator()
{
    if (error_)
        return;
    if (!typing_) {
        entry_ = QStringLiteral("0");
        typing_ = true;
    }
    if (entry_.isEmpty())
        entry_ = QStringLiteral("0");
    if (!entry_.contains(u'.'))
        entry_.append(u'.');
}

void TCalculatorEngine::CommitEntry()
{
    if (typing_) {
        display_ = entry_.toDouble();  // an entry holds at most 15 digits
        typing_ = false;
        entry_.clear();
    }
    if (pending_) {
        long double result = accumulator_;
        switch (pending_) {
        case '+': result = accumulator_ + display_; break;
        case '-': result = accumulator_ - display_; break;
        case '*': result = accumulator_ * display_; break;
        case '/':
            if (display_ == 0) {
                error_ = true;
                result = 0;
            } else {
                result = accumulator_ / display_;
            }
            break;
        }
        if (!std::isfinite(result) || std::fabs(result) > std::numeric_limits<double>::max()) {
            error_ = true;
            result = 0;
        }
        display_ = result;
        pending_ = 0;
    }
}

void TCalculatorEngine::Operation(char op)
{
    if (error_ || (op != '+' && op != '-' && op != '*' && op != '/'))
        return;
    if (pending_ && !typing_) {
        pending_ = op;  // a second operation key only replaces the first
        return;
    }
    CommitEntry();
    if (error_)
        return;
    accumulator_ = display_;
    pending_ = op;
}

void TCalculatorEngine::Equals()
{
    if (error_)
        return;
    CommitEntry();
}

void TCalculatorEngine::Clear()
{
    *this = TCalculatorEngine();
}

void TCalculatorEngine::Backspace()
{
    if (error_ || !typing_)
        return;
    entry_.chop(1);
    if (entry_ == QLatin1String("-"))
        entry_.clear();
}

void TCalculatorEngine::ChangeSign()
{
    if (error_)
        return;
    if (typing_) {
        if (entry_.startsWith(u'-'))
            entry_.remove(0, 1);
        else if (!entry_.isEmpty())
            entry_.prepend(u'-');
    } else {
        display_ = -display_;
    }
}

long double TCalculatorEngine::DisplayValue() const
{
    if (error_)
        return 0;
    return typing_ ? entry_.toDouble() : display_;
}

QString TCalculatorEngine::DisplayText(QChar decimalSeparator) const
{
    if (error_)
        return QStringLiteral("Ошибка");
    QString s;
    if (typing_)
        s = entry_.isEmpty() ? QStringLiteral("0") : entry_;
    else
        s = QString::number(double(display_), 'g', MaxEntryDigits);
    s.replace(u'.', decimalSeparator);
    return s;
}

long double TCalculatorEngine::Result()
{
    Equals();
    return DisplayValue();
}
