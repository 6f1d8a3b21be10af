#pragma once

#include <QString>

#include <optional>

class QFileDialog;
class QWidget;

namespace velmora {

// Every file dialog of the program is Qt's own, prepared here so that listing a folder opens
// none of the files in it. A desktop's native dialog, and Qt's default icons and type names, read
// the first bytes of each file listed to tell its type; closing that descriptor drops every POSIX
// lock this process holds on the file, and the store's locks are what keep a reader outside (a
// backup script, the sqlite3 shell) from checkpointing and deleting its write-ahead log while the
// program still writes to it. Icons and types here come from names and kinds alone.
void prepareFileDialog(QFileDialog &dialog);

// Where a file dialog opens: the folder it was last left in, while that is still a folder and
// lies outside the diary's own folder, else the user's home. Never the working directory.
QString fileDialogStartFolder(const QString &lastFolder, const QString &diaryFolder);

// Runs a prepared dialog modally: the first file chosen, or none when it was cancelled.
std::optional<QString> runFileDialog(QFileDialog &dialog);

// A folder picked in a dialog that opens at `startFolder`; empty when cancelled.
QString chooseFolder(QWidget *parent, const QString &title, const QString &startFolder);

// A file to write, `proposedPath` offered first; empty when cancelled.
QString chooseFileToSave(QWidget *parent, const QString &title, const QString &proposedPath,
                         const QString &nameFilter);

} // namespace velmora
