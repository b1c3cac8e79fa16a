#include "monitor/views/WizardButtons.h"

#include <QWizard>

namespace tarmin::monitor {

void setWizardButtonTexts(QWizard &wizard) {
    wizard.setButtonText(QWizard::BackButton, QStringLiteral("< &Назад"));
    wizard.setButtonText(QWizard::NextButton, QStringLiteral("&Далее >"));
    // A commit page moves on like any other page here.
    wizard.setButtonText(QWizard::CommitButton, QStringLiteral("&Далее >"));
    wizard.setButtonText(QWizard::FinishButton, QStringLiteral("Готово"));
    wizard.setButtonText(QWizard::CancelButton, QStringLiteral("Отмена"));
    wizard.setButtonText(QWizard::HelpButton, QStringLiteral("Справка"));
}

} // namespace tarmin::monitor
