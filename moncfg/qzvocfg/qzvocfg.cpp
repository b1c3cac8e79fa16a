// The exported function of qzvocfg.
#include "qzvocfg.h"

#include "moncfg/qzvocfg/CProviderSettingsDlg.h"

#include <QApplication>

extern "C" int QZVO_ProviderSettings(QZ_HWND owner) {
    try {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return -1;
        tarmin::qzvocfg::CProviderSettingsDlg dialog(static_cast<QWidget *>(owner));
        dialog.exec();
        return 0;
    } catch (...) {
        return -1;
    }
}
