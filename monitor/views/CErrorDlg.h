// The detail dialog of an errors record ("Информация об ошибке").
#pragma once

#include "monitor/views/RecordDlgBase.h"

namespace tarmin::monitor {

class CErrorRecord;

class CErrorDlg : public RecordDlgBase {
    Q_OBJECT
public:
    static constexpr int kResource = 1036;

    explicit CErrorDlg(const CErrorRecord &record, QWidget *parent = nullptr);

    const CErrorRecord &record() const { return m_record; }

private:
    const CErrorRecord &m_record;
};

} // namespace tarmin::monitor
