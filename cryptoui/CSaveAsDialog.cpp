#include "cryptoui/CSaveAsDialog.h"

#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

QStringList qtNameFilters(const QString &windowsFilter) {
    QStringList parts = windowsFilter.split(QLatin1Char('|'));
    while (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
    QStringList filters;
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        description.remove(trailingPatterns);
        QStringList patterns;
        for (QString p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
            for (const QString &variant : {p, p.toLower(), p.toUpper()})
                if (!patterns.contains(variant)) patterns << variant;
        }
        if (!patterns.isEmpty()) filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

CSaveAsDialog::CSaveAsDialog(QWidget *parent, const QString &title, const QString &directory, const QString &fileName,
                             const QString &defaultExt, const QString &windowsFilter)
    : QFileDialog(parent, title) {
    setObjectName(QStringLiteral("SaveAs"));
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog: the same on every desktop, and tests can work it. The
    // question before replacing a file is ours, so that it passes through the
    // suite's message boxes.
    setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    const QStringList filters = qtNameFilters(windowsFilter);
    if (!filters.isEmpty()) setNameFilters(filters);
    if (!defaultExt.isEmpty()) setDefaultSuffix(defaultExt);
    if (!directory.isEmpty()) setDirectory(directory);
    if (!fileName.isEmpty()) selectFile(fileName);
}

QString CSaveAsDialog::chosenPath() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : QFileInfo(files.first()).absoluteFilePath();
}

void CSaveAsDialog::accept() {
    const QString path = chosenPath();
    const QFileInfo info(path);
    if (!path.isEmpty() && info.exists() && !info.isDir()) {
        const QString text = QStringLiteral("%1 уже существует.\nЗаменить его?").arg(QDir::toNativeSeparators(path));
        if (tarmin::qzvoui::showMessageBox(text, windowTitle(), TMN_MB_YESNO | TMN_MB_ICONWARNING, this) != TMN_IDYES)
            return;
    }
    QFileDialog::accept();
}
