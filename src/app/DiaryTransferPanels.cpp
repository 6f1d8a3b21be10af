#include "app/DiaryTransferPanels.h"

#include "book/FileDialogs.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

namespace velmora::DiaryTransferPanels {

namespace {

// The panel's message, above its file list; Qt's own dialog has no place for one.
void addMessage(QFileDialog &dialog, const QString &message) {
    auto *label = new QLabel(message, &dialog);
    label->setObjectName(QStringLiteral("panelMessage"));
    label->setWordWrap(true);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
}

void configureCommon(QFileDialog &dialog, const QString &startFolder) {
    prepareFileDialog(dialog);
    dialog.setNameFilter(QCoreApplication::translate("DiaryTransferPanels", "JSON (*.json)"));
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.setDirectory(startFolder);
}

QString startFolder(const UserDefaults &defaults, const QString &key, const QString &diaryFolder) {
    return fileDialogStartFolder(defaults.stringValue(key).value_or(QString()), diaryFolder);
}

std::optional<QString> runRemembering(QFileDialog &dialog, UserDefaults &defaults,
                                      const QString &key, const PanelShown &shown) {
    if (shown)
        shown(dialog);
    const auto chosen = runFileDialog(dialog);
    if (chosen)
        defaults.setString(key, QFileInfo(*chosen).absolutePath());
    return chosen;
}

} // namespace

QString proposedExportName(const QDate &today) {
    return QStringLiteral("Velmora_") + today.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".json");
}

void configureExportDialog(QFileDialog &dialog, const QDate &today, const QString &startFolder) {
    configureCommon(dialog, startFolder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowTitle(QCoreApplication::translate("DiaryTransferPanels", "Export Diary"));
    addMessage(dialog, QCoreApplication::translate(
                           "DiaryTransferPanels",
                           "Choose where to save an unencrypted copy of your diary."));
    dialog.selectFile(QDir(startFolder).filePath(proposedExportName(today)));
}

void configureImportDialog(QFileDialog &dialog, const QString &startFolder) {
    configureCommon(dialog, startFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowTitle(QCoreApplication::translate("DiaryTransferPanels", "Import Diary"));
    addMessage(dialog,
               QCoreApplication::translate("DiaryTransferPanels", "Select a Velmora export file."));
}

std::optional<QString> chooseExportFile(QWidget *parent, const QDate &today, UserDefaults &defaults,
                                        const QString &diaryFolder, const PanelShown &shown) {
    QFileDialog dialog(parent);
    configureExportDialog(dialog, today, startFolder(defaults, exportFolderKey, diaryFolder));
    return runRemembering(dialog, defaults, exportFolderKey, shown);
}

std::optional<QString> chooseImportFile(QWidget *parent, UserDefaults &defaults,
                                        const QString &diaryFolder, const PanelShown &shown) {
    QFileDialog dialog(parent);
    configureImportDialog(dialog, startFolder(defaults, importFolderKey, diaryFolder));
    return runRemembering(dialog, defaults, importFolderKey, shown);
}

} // namespace velmora::DiaryTransferPanels
