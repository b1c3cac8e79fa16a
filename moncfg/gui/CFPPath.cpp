#include "moncfg/gui/CFPPath.h"

#include "moncfg/gui/PageLayout.h"

namespace tarmin::moncfg {

CFPPath::CFPPath(QWidget *parent) : CConfigPage(pageSpec(PageId::Paths), parent) {
    PageLayout page(this);
    page.textRow(spec().fields[0], QStringLiteral("Каталог для передачи сообщений на Шлюз :"), 1168);
    page.textRow(spec().fields[1], QStringLiteral("Каталог с протоколами Шлюза :"), 1170);
    page.checkBox(1263, QStringLiteral("Анализировать протоколы шлюза за последние N дней"));
    page.numberRow(spec().fields[2], QStringLiteral("Количество дней (N) :"), {}, 1264);
    page.stretch();
    bindControls();
}

} // namespace tarmin::moncfg
