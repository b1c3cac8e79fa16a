// The buttons of the monitor's wizards, in the language of their pages.
#pragma once

class QWizard;

namespace tarmin::monitor {

// Names the wizard's buttons as the system's Russian wizards do ("Далее >",
// "Готово"...): the greeting pages tell the operator to press "Далее".
void setWizardButtonTexts(QWizard &wizard);

} // namespace tarmin::monitor
