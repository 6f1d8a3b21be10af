#include "book/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>

namespace velmora {

namespace {

// Tells icons and types from what a listing already knows: a name, and whether it is a folder.
class NameOnlyIconProvider final : public QFileIconProvider {
public:
    using QFileIconProvider::icon;

    QIcon icon(const QFileInfo &info) const override {
        if (info.isRoot())
            return QFileIconProvider::icon(Drive);
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }

    QString type(const QFileInfo &info) const override {
        if (info.isDir())
            return m_types.mimeTypeForName(QStringLiteral("inode/directory")).comment();
        const QList<QMimeType> named = m_types.mimeTypesForFileName(info.fileName());
        return (named.isEmpty()
                    ? m_types.mimeTypeForName(QStringLiteral("application/octet-stream"))
                    : named.constFirst())
            .comment();
    }

private:
    QMimeDatabase m_types;
};

QAbstractFileIconProvider *nameOnlyIcons() {
    // One for every dialog, never destroyed: a dialog's model asks it until the model is gone.
    static auto *const provider = new NameOnlyIconProvider;
    return provider;
}

} // namespace

void prepareFileDialog(QFileDialog &dialog) {
    // First: a dialog that was to be native makes its own widgets only now, and icons set before
    // that would go nowhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(nameOnlyIcons());
}

QString fileDialogStartFolder(const QString &lastFolder, const QString &diaryFolder) {
    const QFileInfo last(lastFolder);
    if (!QDir::isAbsolutePath(lastFolder) || !last.isDir())
        return QDir::homePath();
    const QString folder = last.canonicalFilePath();
    const QString diary = QFileInfo(diaryFolder).canonicalFilePath();
    if (!diary.isEmpty() && (folder == diary || folder.startsWith(diary + QLatin1Char('/'))))
        return QDir::homePath();
    return last.absoluteFilePath();
}

std::optional<QString> runFileDialog(QFileDialog &dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QString chooseFolder(QWidget *parent, const QString &title, const QString &startFolder) {
    QFileDialog dialog(parent, title);
    prepareFileDialog(dialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(startFolder);
    return runFileDialog(dialog).value_or(QString());
}

QString chooseFileToSave(QWidget *parent, const QString &title, const QString &proposedPath,
                         const QString &nameFilter) {
    QFileDialog dialog(parent, title);
    prepareFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(nameFilter);
    dialog.setDirectory(QFileInfo(proposedPath).absolutePath());
    dialog.selectFile(proposedPath);
    return runFileDialog(dialog).value_or(QString());
}

} // namespace velmora
