#include "app/DiaryTransferPanels.h"

#include "book/FileDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
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

void configureCommon(QFileDialog &dialog) {
    prepareFileDialog(dialog);
    dialog.setNameFilter(QCoreApplication::translate("DiaryTransferPanels", "JSON (*.json)"));
    dialog.setDefaultSuffix(QStringLiteral("json"));
}

} // namespace

QString proposedExportName(const QDate &today) {
    return QStringLiteral("Velmora_") + today.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".json");
}

void configureExportDialog(QFileDialog &dialog, const QDate &today) {
    configureCommon(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowTitle(QCoreApplication::translate("DiaryTransferPanels", "Export Diary"));
    addMessage(dialog, QCoreApplication::translate(
                           "DiaryTransferPanels",
                           "Choose where to save an unencrypted copy of your diary."));
    dialog.selectFile(proposedExportName(today));
}

void configureImportDialog(QFileDialog &dialog) {
    configureCommon(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowTitle(QCoreApplication::translate("DiaryTransferPanels", "Import Diary"));
    addMessage(dialog,
               QCoreApplication::translate("DiaryTransferPanels", "Select a Velmora export file."));
}

std::optional<QString> chooseExportFile(QWidget *parent, const QDate &today) {
    QFileDialog dialog(parent);
    configureExportDialog(dialog, today);
    return runFileDialog(dialog);
}

std::optional<QString> chooseImportFile(QWidget *parent) {
    QFileDialog dialog(parent);
    configureImportDialog(dialog);
    return runFileDialog(dialog);
}

} // namespace velmora::DiaryTransferPanels
