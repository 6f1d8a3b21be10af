#pragma once

#include "platform/UserDefaults.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace velmora {

// The folder the user chose for sync, kept under two settings keys. The settings are read and
// written on the GUI thread; the root provider reads the copy kept here from any thread.
class DiaryCloudSyncFolderChoice {
public:
    static inline const QString folderKey = QStringLiteral("Velmora.sync.folder");
    static inline const QString folderDeviceKey = QStringLiteral("Velmora.sync.folderDevice");
    static inline const QString rootFolderName = QStringLiteral("Diary Sync");

    struct Choice {
        QString folder;
        // The file system the folder was on when chosen: the same path on another device is an
        // empty mount point, not the folder.
        std::optional<quint64> device;

        friend bool operator==(const Choice &, const Choice &) = default;
    };

    // Why a picked folder cannot be the sync folder.
    enum class Refusal { notAFolder, diaryFolder };

    // Reads the two keys.
    explicit DiaryCloudSyncFolderChoice(std::shared_ptr<UserDefaults> defaults);

    std::optional<Choice> current() const;
    // Stores the choice under both keys.
    void set(const Choice &choice);

    // Looks at a folder the user picked: it must be a folder, and neither be, hold nor lie inside
    // the diary's own folder. Touches the disk: call it off the GUI thread.
    static std::variant<Choice, Refusal> examine(const QString &picked, const QString &diaryFolder);
    static QString refusalMessage(Refusal refusal);

    // The sync root of a chosen folder: the folder + "Diary Sync", when the folder exists, is a
    // readable and writable folder and (when one is recorded) lies on the recorded device.
    // Touches the disk.
    static std::optional<QString> rootIn(const Choice &choice);

    // A root provider over the current choice, callable from any thread.
    static std::function<std::optional<QString>()>
    chosenFolderSyncRoot(std::shared_ptr<const DiaryCloudSyncFolderChoice> choice);
    // A root provider for test runs: the given folder stands in for the chosen one.
    static std::function<std::optional<QString>()> fixedFolderSyncRoot(const QString &folder);

private:
    std::shared_ptr<UserDefaults> m_defaults;
    mutable std::mutex m_mutex;
    std::optional<Choice> m_choice;
};

} // namespace velmora
