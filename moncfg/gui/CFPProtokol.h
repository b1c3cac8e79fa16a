// The page "Протокол": where the operator event files are kept, when a new
// one is started, and how long they are kept.
#pragma once

#include "moncfg/gui/CConfigPage.h"

namespace tarmin::moncfg {

class CFPProtokol : public CConfigPage {
    Q_OBJECT
public:
    explicit CFPProtokol(QWidget *parent = nullptr);
};

} // namespace tarmin::moncfg
