#include "CalculatorEngine.h"

#include <cmath>
#include <limits>

namespace {
constexpr int MaxEntryDigits = 15;
}

TCalculatorEngine::TCalculatorEngine(long double start)
    : m_display(std::isfinite(start) ? start : 0)
{
}

void TCalculatorEngine::Digit(int digit)
{
    if (m_error || digit < 0 || digit > 9)
        return;
    if (!m_typing) {
        m_entry.clear();
        m_typing = true;
    }
    int digits = 0;
    for (QChar c : m_entry)
        digits += c.isDigit() ? 1 : 0;
    if (digits >= MaxEntryDigits)
        return;
    if (m_entry == QLatin1String("0"))
        m_entry.clear();
    m_entry.append(QChar(u'0' + digit));
}

void TCalculatorEngine::Separator()
{
    if (m_error)
        return;
    if (!m_typing) {
        m_entry = QStringLiteral("0");
        m_typing = true;
    }
    if (m_entry.isEmpty())
        m_entry = QStringLiteral("0");
    if (!m_entry.contains(u'.'))
        m_entry.append(u'.');
}

void TCalculatorEngine::CommitEntry()
{
    if (m_typing) {
        m_display = m_entry.toDouble();  // an entry holds at most 15 digits
        m_typing = false;
        m_entry.clear();
    }
    if (m_pending) {
        long double result = m_accumulator;
        switch (m_pending) {
        case '+': result = m_accumulator + m_display; break;
        case '-': result = m_accumulator - m_display; break;
        case '*': result = m_accumulator * m_display; break;
        case '/':
            if (m_display == 0) {
                m_error = true;
                result = 0;
            } else {
                result = m_accumulator / m_display;
            }
            break;
        }
        if (!std::isfinite(result) || std::fabs(result) > std::numeric_limits<double>::max()) {
            m_error = true;
            result = 0;
        }
        m_display = result;
        m_pending = 0;
    }
}

void TCalculatorEngine::Operation(char op)
{
    if (m_error || (op != '+' && op != '-' && op != '*' && op != '/'))
        return;
    if (m_pending && !m_typing) {
        m_pending = op;  // a second operation key only replaces the first
        return;
    }
    CommitEntry();
    if (m_error)
        return;
    m_accumulator = m_display;
    m_pending = op;
}

void TCalculatorEngine::Equals()
{
    if (m_error)
        return;
    CommitEntry();
}

void TCalculatorEngine::Clear()
{
    *this = TCalculatorEngine();
}

void TCalculatorEngine::Backspace()
{
    if (m_error || !m_typing)
        return;
    m_entry.chop(1);
    if (m_entry == QLatin1String("-"))
        m_entry.clear();
}

void TCalculatorEngine::ChangeSign()
{
    if (m_error)
        return;
    if (m_typing) {
        if (m_entry.startsWith(u'-'))
            m_entry.remove(0, 1);
        else if (!m_entry.isEmpty())
            m_entry.prepend(u'-');
    } else {
        m_display = -m_display;
    }
}

long double TCalculatorEngine::DisplayValue() const
{
    if (m_error)
        return 0;
    return m_typing ? m_entry.toDouble() : m_display;
}

QString TCalculatorEngine::DisplayText(QChar decimalSeparator) const
{
    if (m_error)
        return QStringLiteral("Ошибка");
    QString s;
    if (m_typing)
        s = m_entry.isEmpty() ? QStringLiteral("0") : m_entry;
    else
        s = QString::number(double(m_display), 'g', MaxEntryDigits);
    s.replace(u'.', decimalSeparator);
    return s;
}

long double TCalculatorEngine::Result()
{
    Equals();
    return DisplayValue();
}
