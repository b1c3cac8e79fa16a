#include "monitor/views/FolderBrowser.h"

#include "monitor/views/ModalRunner.h"
#include "qzcom.h"

#include <QDir>
#include <QFileDialog>
#include <QVariant>
#include <QWidget>

namespace tarmin::monitor {

namespace {

// The edit control may be any widget with a "text" property (line edit,
// editable combo box).
int browseForFolder(QZ_HWND edit, QZ_HWND parent, void *) {
    auto *target = static_cast<QWidget *>(edit);
    if (!target) return 1;
    QFileDialog dialog(static_cast<QWidget *>(parent), QStringLiteral("Выбор каталога"));
    dialog.setObjectName(QStringLiteral("FolderBrowser"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    const QString current = target->property("text").toString();
    if (!current.isEmpty() && QDir(current).exists()) dialog.setDirectory(current);
    if (runModal(dialog) != QDialog::Accepted) return 1;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return 1;
    target->setProperty("text", QDir::toNativeSeparators(chosen.first()));
    return 0;
}

} // namespace

void installFolderBrowser() { QZ_SetFolderBrowser(browseForFolder, nullptr); }

} // namespace tarmin::monitor
