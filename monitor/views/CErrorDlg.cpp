#include "monitor/views/CErrorDlg.h"

#include "monitor/logs/CErrorRecord.h"
#include "monitor/views/QtText.h"

namespace tarmin::monitor {

CErrorDlg::CErrorDlg(const CErrorRecord &record, QWidget *parent)
    : RecordDlgBase(QStringLiteral("CErrorDlg"), QStringLiteral("Информация об ошибке"),
                    QStringLiteral("Запись протокола ошибок Шлюза: где и когда возникло событие и с каким результатом."),
                    parent),
      m_record(record) {
    addFieldRow(QStringLiteral("Модуль:"), {qtText(record.module())});
    addFieldRow(QStringLiteral("Дата:"), {qtText(record.date())});
    addFieldRow(QStringLiteral("Время:"), {qtText(record.time())});
    addFieldRow(QStringLiteral("Результат:"), {qtText(record.codeText())});
    addFieldRow(QStringLiteral("Дополнительная информация:"), {qtText(record.information())});
    setImage(record.ImageIndex());
    finish();
}

} // namespace tarmin::monitor
