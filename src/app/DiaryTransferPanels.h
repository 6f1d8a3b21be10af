#pragma once

#include <QDate>
#include <QString>

#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

namespace velmora {

class UserDefaults;

// The file panels of "Export…" and "Import…". JSON files only.
namespace DiaryTransferPanels {

// The folder each panel was last left in, so that it opens there the next time.
inline const QString exportFolderKey = QStringLiteral("Velmora.export.lastFolder");
inline const QString importFolderKey = QStringLiteral("Velmora.import.lastFolder");

// "Velmora_" + the day as yyyy-MM-dd + ".json".
QString proposedExportName(const QDate &today);

void configureExportDialog(QFileDialog &dialog, const QDate &today, const QString &startFolder);
void configureImportDialog(QFileDialog &dialog, const QString &startFolder);

// Runs the panel modally, opening where it was last left (never in the diary's own folder): the
// chosen file, or none when it was cancelled. `shown` is given the panel before it shows, to give
// it the keys that must answer everywhere.
using PanelShown = std::function<void(QWidget &)>;
std::optional<QString> chooseExportFile(QWidget *parent, const QDate &today, UserDefaults &defaults,
                                        const QString &diaryFolder, const PanelShown &shown = {});
std::optional<QString> chooseImportFile(QWidget *parent, UserDefaults &defaults,
                                        const QString &diaryFolder, const PanelShown &shown = {});

} // namespace DiaryTransferPanels

} // namespace velmora
