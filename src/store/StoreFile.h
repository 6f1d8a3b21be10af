#pragma once

#include "platform/DiaryError.h"
#include "store/Sqlite.h"
#include "store/StoreModel.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace velmora {

// "VLMR" in the file header's application_id: the file is a store of this program.
inline constexpr qint64 storeApplicationID = 0x564C4D52;

// Which model wrote a store file, as the file itself records it.
struct StoreIdentity {
    QString versionName;
    QString versionHash;
    qint64 storeVersion = 0;

    bool matches(const StoreModel &model) const {
        return versionName == model.versionName && versionHash == model.versionHash() &&
               storeVersion == model.storeVersion;
    }

    friend bool operator==(const StoreIdentity &, const StoreIdentity &) = default;
};

// A store that was written by another model than the one it is opened with.
class StoreModelMismatchError : public DiaryError {
public:
    // `foundVersionName` is empty when the file is no store of this program.
    StoreModelMismatchError(QString foundVersionName, QString expectedVersionName);

    const QString &foundVersionName() const { return m_found; }
    const QString &expectedVersionName() const { return m_expected; }
    QString message() const override;

private:
    QString m_found;
    QString m_expected;
};

// The identity recorded in an open store; none when the file is empty or no store of ours.
std::optional<StoreIdentity> readStoreIdentity(SqliteDatabase &database);
// The same for a file, opened read-only. Throws SqliteError when the file cannot be read.
std::optional<StoreIdentity> readStoreIdentity(const QString &path);

// Write-ahead logging (refused when it does not take), a commit that returned is on disk, and
// the SQL functions search uses: velmora_contains(text, part) and those of SearchSignatures.h.
void configureStoreConnection(SqliteDatabase &database);

// Lays down an empty store of the model, identity included, in one transaction.
void createStoreSchema(SqliteDatabase &database, const StoreModel &model);

// The same inside a transaction the caller holds, so that a store's schema and its first rows
// land together or not at all.
void writeStoreSchema(SqliteDatabase &database, const StoreModel &model);

// The search-folding version the store's folded columns were written with; 1 for a store that
// predates the record.
qint64 storeFoldingVersion(SqliteDatabase &database);

// Folds every folded column again, in one transaction, when the store was folded by another
// version than this program's, and records the version. Whether it did.
bool refoldStoreIfNeeded(SqliteDatabase &database, const StoreModel &model);

// Opens the store at `path` for reading and writing. A missing or empty file becomes an empty
// store of the model; a store of any other model throws StoreModelMismatchError. A store folded
// for search by another version is folded again, and entries not yet signed for search are.
std::unique_ptr<SqliteDatabase> openStore(const QString &path, const StoreModel &model);

// A consistent copy of a store through SQLite's backup, safe while the source is open elsewhere.
void copyStoreFile(const QString &sourcePath, const QString &destinationPath);

// The store file and the side files SQLite keeps beside it.
QStringList storeFilePaths(const QString &path);

} // namespace velmora
