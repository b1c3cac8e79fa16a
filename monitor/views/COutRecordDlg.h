// The detail dialog of an outgoing message record ("Исходящее сообщение").
#pragma once

#include "monitor/views/RecordDlgBase.h"

namespace tarmin::monitor {

class COutRecord;

class COutRecordDlg : public RecordDlgBase {
    Q_OBJECT
public:
    static constexpr int kResource = 1035;

    explicit COutRecordDlg(const COutRecord &record, QWidget *parent = nullptr);

    const COutRecord &record() const { return m_record; }

private:
    const COutRecord &m_record;
};

} // namespace tarmin::monitor
