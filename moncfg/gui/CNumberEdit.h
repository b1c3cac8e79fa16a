// A number field with its spin: the operator types any decimal number that
// fits 32 bits, and the arrows step within the spin's range. The field keeps
// the text as typed, so a stored value outside the range is shown and saved
// unchanged until the operator changes it.
#pragma once

#include <QAbstractSpinBox>

#include <cstdint>

namespace tarmin::moncfg {

class CNumberEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    CNumberEdit(uint32_t min, uint32_t max, QWidget *parent = nullptr);

    void setText(const QString &text);
    uint32_t minimum() const { return m_min; }
    uint32_t maximum() const { return m_max; }

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;

signals:
    // The operator typed or stepped.
    void edited();

protected:
    StepEnabled stepEnabled() const override;

private:
    uint32_t m_min;
    uint32_t m_max;
};

} // namespace tarmin::moncfg
