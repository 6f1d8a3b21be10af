#pragma once

#include <QDate>
#include <QString>

#include <optional>

class QFileDialog;
class QWidget;

namespace velmora {

// The file panels of "Export…" and "Import…". JSON files only.
namespace DiaryTransferPanels {

// "Velmora_" + the day as yyyy-MM-dd + ".json".
QString proposedExportName(const QDate &today);

void configureExportDialog(QFileDialog &dialog, const QDate &today);
void configureImportDialog(QFileDialog &dialog);

// Runs the panel modally: the chosen file, or none when it was cancelled.
std::optional<QString> chooseExportFile(QWidget *parent, const QDate &today);
std::optional<QString> chooseImportFile(QWidget *parent);

} // namespace DiaryTransferPanels

} // namespace velmora
