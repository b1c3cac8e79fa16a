// The detail dialog of an inbound message record ("Входящее сообщение").
#pragma once

#include "monitor/views/RecordDlgBase.h"

namespace tarmin::monitor {

class CInRecord;

class CInRecordDlg : public RecordDlgBase {
    Q_OBJECT
public:
    static constexpr int kResource = 1034;

    explicit CInRecordDlg(const CInRecord &record, QWidget *parent = nullptr);

    const CInRecord &record() const { return m_record; }

private:
    const CInRecord &m_record;
};

} // namespace tarmin::monitor
