// The e-mail dialog: the address type ("SMTP:" or "NOTES:"), the address and,
// in the address book's form (dialog 179), the recipient's name; the form
// of dialog 177 asks for the type and the address only. On "OK" the address
// becomes the chosen type followed by the typed text.
#pragma once

#include <QDialog>

#include <string>
#include <string_view>

class QComboBox;
class QLineEdit;

namespace tarmin::moncfg {

class CAddEmail : public QDialog {
    Q_OBJECT
public:
    enum Form { WithName = 179, AddressOnly = 177 };

    // editing: the caption of an edit rather than an addition.
    CAddEmail(Form form, bool editing, QWidget *parent = nullptr);

    // The stored address (Windows-1251), split into its type and the rest.
    void setAddress(std::string_view stored);
    void setName(std::string_view name);

    // After "OK": the type followed by the address, and the name
    // (Windows-1251).
    const std::string &address() const { return m_address; }
    const std::string &name() const { return m_name; }

    void accept() override;

private:
    Form m_form;
    QComboBox *m_type = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_recipient = nullptr;
    std::string m_address;
    std::string m_name;
};

} // namespace tarmin::moncfg
