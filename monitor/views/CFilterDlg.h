// The filter dialog of one category of the record list: a date and time
// interval and the field conditions that the category offers.
#pragma once

#include <QDate>
#include <QDialog>
#include <QString>
#include <QTime>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTimeEdit;

namespace tarmin::monitor {

// The dialog's values, as the list view hands them in and takes them back.
struct FilterDlgValues {
    bool startDateOn = false;
    QDate startDate = QDate::currentDate();
    bool startTimeOn = false;
    QTime startTime = QTime(0, 0, 0);
    bool endDateOn = false;
    QDate endDate = QDate::currentDate();
    bool endTimeOn = false;
    QTime endTime = QTime(23, 59, 59);
    QString module;
    QString resultCode;
    QString information;
    int processing = -1;   // -1 any, 0 "OK", 1 "Ошибка"
    QString address;       // address (inbound) or recipients (outgoing)
    QString subject;
    int notification = -1; // -1 any, 0 "OK", 1 "ER", 2 none
    QString attachments;   // file-name pattern

    bool operator==(const FilterDlgValues &) const = default;
};

class CFilterDlg : public QDialog {
    Q_OBJECT
public:
    // Control numbers, kept as the controls' object names ("ctl<number>").
    enum Control : int {
        kStartDateCheck = 1069, kStartDate = 1059, kStartTimeCheck = 1071, kStartTime = 1061,
        kEndDateCheck = 1070, kEndDate = 1060, kEndTimeCheck = 1072, kEndTime = 1068,
        kModule = 1041, kModuleLabel = 1057, kResultCode = 1063, kResultCodeLabel = 1062,
        kInformation = 1066, kInformationLabel = 1065, kProcessingOk = 1073, kProcessingError = 1074,
        kProcessingLabel = 1051, kAddress = 1036, kAddressLabel = 1047, kSubject = 1034, kSubjectLabel = 1044,
        kNotificationOk = 1075, kNotificationEr = 1076, kNotificationNone = 1077, kNotificationLabel = 1049,
        kAttachments = 1035, kAttachmentsLabel = 1045, kClearAll = 1043,
    };

    CFilterDlg(int category, QWidget *parent = nullptr);

    void setValues(const FilterDlgValues &values);
    FilterDlgValues values() const;
    int category() const { return m_category; }

    // The caption a category gives the dialog.
    static QString captionOf(int category);
    // Whether a result code text may be accepted: empty, "0", "0x" with
    // hexadecimal digits, or decimal digits.
    static bool isValidResultCode(const QString &text);

    QWidget *control(int id) const;

public slots:
    void accept() override;
    void OnClearAll();

private slots:
    void updatePickers();

private:
    void buildControls();
    void enableCategoryControls();
    static void setRadio(QButtonGroup *group, int id);

    int m_category;
    QCheckBox *m_startDateCheck, *m_startTimeCheck, *m_endDateCheck, *m_endTimeCheck;
    QDateEdit *m_startDate, *m_endDate;
    QTimeEdit *m_startTime, *m_endTime;
    QLineEdit *m_module, *m_resultCode, *m_information, *m_address, *m_subject, *m_attachments;
    QButtonGroup *m_processing, *m_notification;
};

} // namespace tarmin::monitor
