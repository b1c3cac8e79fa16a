#include "monitor/views/CInRecordDlg.h"

#include "monitor/logs/CInRecord.h"
#include "monitor/views/QtText.h"

namespace tarmin::monitor {

CInRecordDlg::CInRecordDlg(const CInRecord &record, QWidget *parent)
    : RecordDlgBase(QStringLiteral("CInRecordDlg"), QStringLiteral("Входящее сообщение"),
                    QStringLiteral("Сообщение, принятое Шлюзом: отправитель, время, тема и вложения."), parent),
      m_record(record) {
    addFieldRow(QStringLiteral("От:"), {qtText(record.address())});
    addFieldRow(QStringLiteral("Отправлено:"), {qtText(record.date()), qtText(record.time())});
    addFieldRow(QStringLiteral("Тема сообщения:"), {qtText(record.subject())});
    setImage(record.ImageIndex());
    addAttachments(qtTexts(record.attachmentList()), record.isError(),
                   QStringLiteral("Произошла ошибка при обработке сообщения."));
    finish();
}

} // namespace tarmin::monitor
