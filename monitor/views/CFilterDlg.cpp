#include "monitor/views/CFilterDlg.h"

#include "monitor/views/MessageBoxes.h"
#include "monitor/views/QtText.h"
#include "monitor/views/model/Categories.h"
#include "monitor/logs/RecordFilter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <tuple>

namespace tarmin::monitor {

namespace {

QString controlName(int id) { return QStringLiteral("ctl%1").arg(id); }

template <typename W> W *named(W *widget, int id) {
    widget->setObjectName(controlName(id));
    return widget;
}

QLabel *label(const char *text, int id, QWidget *parent) {
    return named(new QLabel(QString::fromUtf8(text), parent), id);
}

} // namespace

CFilterDlg::CFilterDlg(int category, QWidget *parent) : QDialog(parent), m_category(category) {
    setObjectName(QStringLiteral("CFilterDlg"));
    buildControls();
    setWindowTitle(captionOf(category));
    enableCategoryControls();
    setValues(FilterDlgValues()); // every limit off, the dates at today
}

QString CFilterDlg::captionOf(int category) {
    switch (categoryOf(category)) {
    case Category::Errors: return QStringLiteral("Фильтрация ошибок");
    case Category::Inbound: return QStringLiteral("Фильтрация входящих");
    case Category::Outbound: return QStringLiteral("Фильтрация исходящих");
    case Category::Notifications: return QStringLiteral("Фильтрация уведомлений");
    case Category::Root: break;
    }
    return QStringLiteral("Фильтрация");
}

bool CFilterDlg::isValidResultCode(const QString &text) { return isValidResultCodeText(cp1251Text(text)); }

void CFilterDlg::buildControls() {
    // Interval.
    auto *start = new QGroupBox(QStringLiteral("Начало интервала:"), this);
    m_startDateCheck = named(new QCheckBox(QStringLiteral("Дата"), start), kStartDateCheck);
    m_startDate = named(new QDateEdit(start), kStartDate);
    m_startTimeCheck = named(new QCheckBox(QStringLiteral("Время"), start), kStartTimeCheck);
    m_startTime = named(new QTimeEdit(start), kStartTime);
    auto *end = new QGroupBox(QStringLiteral("Конец интервала:"), this);
    m_endDateCheck = named(new QCheckBox(QStringLiteral("Дата"), end), kEndDateCheck);
    m_endDate = named(new QDateEdit(end), kEndDate);
    m_endTimeCheck = named(new QCheckBox(QStringLiteral("Время"), end), kEndTimeCheck);
    m_endTime = named(new QTimeEdit(end), kEndTime);
    for (QDateEdit *d : {m_startDate, m_endDate}) {
        d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        d->setCalendarPopup(true);
    }
    for (QTimeEdit *t : {m_startTime, m_endTime}) t->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    for (auto [box, check, date, tcheck, time] :
         {std::tuple{start, m_startDateCheck, m_startDate, m_startTimeCheck, m_startTime},
          std::tuple{end, m_endDateCheck, m_endDate, m_endTimeCheck, m_endTime}}) {
        auto *grid = new QGridLayout(box);
        grid->addWidget(check, 0, 0);
        grid->addWidget(date, 0, 1);
        grid->addWidget(tcheck, 1, 0);
        grid->addWidget(time, 1, 1);
    }
    for (QCheckBox *c : {m_startDateCheck, m_startTimeCheck, m_endDateCheck, m_endTimeCheck})
        connect(c, &QCheckBox::toggled, this, &CFilterDlg::updatePickers);

    // Field conditions.
    auto *fields = new QGridLayout;
    int row = 0;
    auto addEdit = [&](const char *caption, int labelId, int editId) {
        auto *edit = named(new QLineEdit(this), editId);
        fields->addWidget(label(caption, labelId, this), row, 0);
        fields->addWidget(edit, row++, 1);
        return edit;
    };
    auto addRadios = [&](const char *caption, int labelId, std::initializer_list<std::pair<const char *, int>> items) {
        auto *group = new QButtonGroup(this);
        auto *line = new QHBoxLayout;
        int value = 0;
        for (const auto &[text, id] : items) {
            auto *radio = named(new QRadioButton(QString::fromUtf8(text), this), id);
            group->addButton(radio, value++);
            line->addWidget(radio);
        }
        line->addStretch(1);
        fields->addWidget(label(caption, labelId, this), row, 0);
        fields->addLayout(line, row++, 1);
        return group;
    };
    m_module = addEdit("Модуль:\n(вхождение строки)", kModuleLabel, kModule);
    m_resultCode = addEdit("Результат:\n(код ошибки)", kResultCodeLabel, kResultCode);
    m_information = addEdit("Информация:\n(вхождение строки)", kInformationLabel, kInformation);
    m_processing = addRadios("Код обработки:", kProcessingLabel, {{"OK", kProcessingOk}, {"Ошибка", kProcessingError}});
    m_address = addEdit("Адрес / Получатели:\n(вхождение строки)", kAddressLabel, kAddress);
    m_subject = addEdit("Тема сообщения:\n(вхождение строки)", kSubjectLabel, kSubject);
    m_notification = addRadios("Результат уведомления:", kNotificationLabel,
                               {{"OK", kNotificationOk}, {"ER", kNotificationEr}, {"Нет результата", kNotificationNone}});
    m_attachments = addEdit("Вложения:\n(шаблон файла)", kAttachmentsLabel, kAttachments);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *clear = named(buttons->addButton(QStringLiteral("Очистить всё"), QDialogButtonBox::ResetRole), kClearAll);
    QPushButton *ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("ok"));
    QPushButton *cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(clear, &QPushButton::clicked, this, &CFilterDlg::OnClearAll);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFilterDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CFilterDlg::reject);

    auto *interval = new QHBoxLayout;
    interval->addWidget(start);
    interval->addWidget(end);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(interval);
    layout->addLayout(fields);
    layout->addWidget(buttons);
}

void CFilterDlg::enableCategoryControls() {
    // Every condition starts disabled; the category enables its own set.
    QList<int> enabled;
    switch (categoryOf(m_category)) {
    case Category::Errors:
        enabled = {kModule, kModuleLabel, kResultCode, kResultCodeLabel, kInformation, kInformationLabel};
        break;
    case Category::Inbound:
        enabled = {kProcessingOk,   kProcessingError, kProcessingLabel, kAddress,          kAddressLabel,
                   kSubject,        kSubjectLabel,    kNotificationOk,  kNotificationEr,   kNotificationNone,
                   kNotificationLabel, kAttachments,  kAttachmentsLabel};
        break;
    case Category::Outbound:
        enabled = {kProcessingOk, kProcessingError, kProcessingLabel, kAddress,     kAddressLabel,
                   kSubject,      kSubjectLabel,    kAttachments,     kAttachmentsLabel};
        break;
    case Category::Notifications: enabled = {kSubject, kSubjectLabel}; break;
    case Category::Root: break;
    }
    const QList<int> conditions = {kModule,         kModuleLabel,     kResultCode,      kResultCodeLabel,
                                   kInformation,    kInformationLabel, kProcessingOk,   kProcessingError,
                                   kProcessingLabel, kAddress,        kAddressLabel,    kSubject,
                                   kSubjectLabel,   kNotificationOk,  kNotificationEr,  kNotificationNone,
                                   kNotificationLabel, kAttachments,  kAttachmentsLabel};
    for (int id : conditions)
        if (QWidget *w = control(id)) w->setEnabled(enabled.contains(id));
}

QWidget *CFilterDlg::control(int id) const { return findChild<QWidget *>(controlName(id)); }

void CFilterDlg::updatePickers() {
    m_startDate->setEnabled(m_startDateCheck->isChecked());
    m_startTime->setEnabled(m_startTimeCheck->isChecked());
    m_endDate->setEnabled(m_endDateCheck->isChecked());
    m_endTime->setEnabled(m_endTimeCheck->isChecked());
}

void CFilterDlg::setRadio(QButtonGroup *group, int id) {
    // An exclusive group cannot uncheck its last button by itself.
    group->setExclusive(false);
    for (QAbstractButton *b : group->buttons()) b->setChecked(group->id(b) == id);
    group->setExclusive(true);
}

void CFilterDlg::setValues(const FilterDlgValues &v) {
    m_startDateCheck->setChecked(v.startDateOn);
    m_startDate->setDate(v.startDate);
    m_startTimeCheck->setChecked(v.startTimeOn);
    m_startTime->setTime(v.startTime);
    m_endDateCheck->setChecked(v.endDateOn);
    m_endDate->setDate(v.endDate);
    m_endTimeCheck->setChecked(v.endTimeOn);
    m_endTime->setTime(v.endTime);
    m_module->setText(v.module);
    m_resultCode->setText(v.resultCode);
    m_information->setText(v.information);
    setRadio(m_processing, v.processing);
    m_address->setText(v.address);
    m_subject->setText(v.subject);
    setRadio(m_notification, v.notification);
    m_attachments->setText(v.attachments);
    updatePickers();
}

FilterDlgValues CFilterDlg::values() const {
    FilterDlgValues v;
    v.startDateOn = m_startDateCheck->isChecked();
    v.startDate = m_startDate->date();
    v.startTimeOn = m_startTimeCheck->isChecked();
    v.startTime = m_startTime->time();
    v.endDateOn = m_endDateCheck->isChecked();
    v.endDate = m_endDate->date();
    v.endTimeOn = m_endTimeCheck->isChecked();
    v.endTime = m_endTime->time();
    v.module = m_module->text();
    v.resultCode = m_resultCode->text();
    v.information = m_information->text();
    v.processing = m_processing->checkedId();
    v.address = m_address->text();
    v.subject = m_subject->text();
    v.notification = m_notification->checkedId();
    v.attachments = m_attachments->text();
    return v;
}

void CFilterDlg::OnClearAll() {
    FilterDlgValues cleared = values();
    cleared.startDateOn = cleared.startTimeOn = cleared.endDateOn = cleared.endTimeOn = false;
    cleared.processing = cleared.notification = -1;
    cleared.module.clear();
    cleared.resultCode.clear();
    cleared.information.clear();
    cleared.address.clear();
    cleared.subject.clear();
    cleared.attachments.clear();
    setValues(cleared);
}

void CFilterDlg::accept() {
    if (!isValidResultCode(m_resultCode->text())) {
        messageBox(this, QStringLiteral("Некорректный формат числа"));
        m_resultCode->selectAll();
        m_resultCode->setFocus();
        return;
    }
    QDialog::accept();
}

} // namespace tarmin::monitor
