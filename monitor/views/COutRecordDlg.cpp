#include "monitor/views/COutRecordDlg.h"

#include "monitor/logs/COutRecord.h"
#include "monitor/views/QtText.h"

namespace tarmin::monitor {

COutRecordDlg::COutRecordDlg(const COutRecord &record, QWidget *parent)
    : RecordDlgBase(QStringLiteral("COutRecordDlg"), QStringLiteral("Исходящее сообщение"),
                    QStringLiteral("Сообщение, отправленное Шлюзом: получатели, время, тема и вложения."), parent),
      m_record(record) {
    addFieldRow(QStringLiteral("Кому:"), {qtText(record.recipients())});
    addFieldRow(QStringLiteral("Отправлено:"), {qtText(record.date()), qtText(record.time())});
    addFieldRow(QStringLiteral("Тема сообщения:"), {qtText(record.subject())});
    setImage(record.ImageIndex());
    addAttachments(qtTexts(record.attachmentList()), record.isError(),
                   QStringLiteral("Произошла ошибка при обработке сообщения. Вложения были удалены."));
    finish();
}

} // namespace tarmin::monitor
