// The page "Каталоги": the gateway's output directory, the directory of its
// logs, and the limit of the log reading to the last N days.
#pragma once

#include "moncfg/gui/CConfigPage.h"

namespace tarmin::moncfg {

class CFPPath : public CConfigPage {
    Q_OBJECT
public:
    explicit CFPPath(QWidget *parent = nullptr);
};

} // namespace tarmin::moncfg
