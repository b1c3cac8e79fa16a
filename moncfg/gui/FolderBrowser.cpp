#include "moncfg/gui/FolderBrowser.h"

#include "moncfg/gui/CfgUi.h"
#include "qzcom.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

namespace tarmin::moncfg {

namespace {

int chooseFolder(QZ_HWND edit, QZ_HWND parent, void *) {
    auto *field = qobject_cast<QLineEdit *>(static_cast<QObject *>(edit));
    if (!field) return 1;
    QFileDialog dialog(static_cast<QWidget *>(parent), QStringLiteral("Выбор каталога"));
    dialog.setObjectName(QStringLiteral("FolderBrowser"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (const QString current = field->text(); !current.isEmpty() && QDir(current).exists())
        dialog.setDirectory(current);
    if (runModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return 1;
    field->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
    return 0;
}

} // namespace

void installFolderBrowser() { QZ_SetFolderBrowser(chooseFolder, nullptr); }

} // namespace tarmin::moncfg
