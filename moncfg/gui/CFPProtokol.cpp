#include "moncfg/gui/CFPProtokol.h"

#include "moncfg/gui/PageLayout.h"

namespace tarmin::moncfg {

CFPProtokol::CFPProtokol(QWidget *parent) : CConfigPage(pageSpec(PageId::Protocol), parent) {
    PageLayout page(this);
    page.textRow(spec().fields[0], QStringLiteral("Каталог для хранения протоколов :"), 1015);
    {
        PageLayout period(page, QStringLiteral("Период создания нового протокола :"));
        period.radioButton(1078, QStringLiteral("Не пересоздавать"));
        period.radioButton(1039, QStringLiteral("При превышении размера"));
        period.numberRow(spec().fields[1], QStringLiteral("Максимальный размер :"), QStringLiteral("КБ"));
        period.radioButton(1070, QStringLiteral("Каждый день"));
        period.radioButton(1041, QStringLiteral("Каждый месяц"));
    }
    page.numberRow(spec().fields[2], QStringLiteral("Срок хранения протоколов (дн.)"));
    page.stretch();
    bindControls();
}

} // namespace tarmin::moncfg
