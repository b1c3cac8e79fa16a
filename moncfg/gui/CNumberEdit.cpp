#include "moncfg/gui/CNumberEdit.h"

#include "moncfg/PageSettings.h"

#include <QLineEdit>

#include <algorithm>
#include <limits>

namespace tarmin::moncfg {

namespace {

// A 32-bit value has at most ten digits.
constexpr qsizetype kMaxDigits = 10;

} // namespace

CNumberEdit::CNumberEdit(uint32_t min, uint32_t max, QWidget *parent)
    : QAbstractSpinBox(parent), m_min(min), m_max(max) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(true);
    connect(lineEdit(), &QLineEdit::textEdited, this, &CNumberEdit::edited);
}

void CNumberEdit::setText(const QString &text) { lineEdit()->setText(text); }

void CNumberEdit::stepBy(int steps) {
    if (isReadOnly()) return;
    // As the spin of a dialog does: the typed value brought into the range,
    // then stepped within it.
    const int64_t current = std::clamp<int64_t>(fieldNumber(text().toStdString()), m_min, m_max);
    const int64_t next = std::clamp<int64_t>(current + steps, m_min, m_max);
    lineEdit()->setText(QString::number(next));
    emit edited();
}

QValidator::State CNumberEdit::validate(QString &input, int &) const {
    if (input.size() > kMaxDigits) return QValidator::Invalid;
    for (QChar c : input)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return QValidator::Invalid;
    if (input.size() == kMaxDigits && input.toULongLong() > std::numeric_limits<uint32_t>::max())
        return QValidator::Invalid;
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled CNumberEdit::stepEnabled() const {
    if (isReadOnly() || !isEnabled()) return StepNone;
    const uint32_t value = fieldNumber(text().toStdString());
    StepEnabled enabled = StepNone;
    if (value < m_max) enabled |= StepUpEnabled;
    if (value > m_min) enabled |= StepDownEnabled;
    return enabled;
}

} // namespace tarmin::moncfg
