#include "store/MigrationStoreSchema.h"

#include "platform/UuidText.h"

#include <QStringList>
#include <QTimeZone>

namespace velmora {

namespace {

constexpr qint64 durableApplicationID = 0x56656C6D; // "Velm"

QStringList columnsOf(MigrationSqlite &db, const QString &table) {
    QStringList columns;
    MigrationSqlite::Statement statement(db, QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (statement.step())
        columns.append(statement.column(1).toString());
    return columns;
}

} // namespace

StoreModelVersion readStoreModel(MigrationSqlite &db) {
    if (db.scalar(QStringLiteral("PRAGMA application_id")) == durableApplicationID)
        return db.scalar(QStringLiteral("PRAGMA user_version")) == 2 ? StoreModelVersion::durableV2
                                                                     : StoreModelVersion::unknown;
    const QStringList legacyColumns{QStringLiteral("id"),       QStringLiteral("date"),
                                    QStringLiteral("content"),  QStringLiteral("fontName"),
                                    QStringLiteral("isLocked"), QStringLiteral("createdAt")};
    if (columnsOf(db, QStringLiteral("DiaryEntry")) == legacyColumns)
        return StoreModelVersion::legacyV1;
    return StoreModelVersion::unknown;
}

void createDurableV2Schema(MigrationSqlite &db) {
    db.exec("CREATE TABLE DiaryEntry (id TEXT, date INTEGER, content TEXT, fontName TEXT, "
            "isLocked INTEGER, createdAt INTEGER, dayKey TEXT, originTimeZone TEXT, "
            "bodyPointSize REAL, revision INTEGER, modifiedAt INTEGER, sealedAt INTEGER);"
            "CREATE TABLE DiaryMetadata (diaryID TEXT, schemaVersion INTEGER, "
            "migrationIdentifier TEXT, createdAt INTEGER, snapshotSequence INTEGER);"
            "CREATE TABLE RecoveryRecord (recoveryID TEXT, originalID TEXT, proposedDayKey TEXT, "
            "reason TEXT, sourceKind TEXT, preservedPayload BLOB, contentSHA256 TEXT, "
            "createdAt INTEGER);"
            "PRAGMA application_id = 1449487469; PRAGMA user_version = 2;");
}

void createLegacyV1Schema(MigrationSqlite &db) {
    db.exec("CREATE TABLE DiaryEntry (id TEXT, date INTEGER, content TEXT DEFAULT '', "
            "fontName TEXT DEFAULT 'Georgia', isLocked INTEGER DEFAULT 0, createdAt INTEGER)");
}

QVariant storedDate(const QDateTime &moment) {
    return moment.toMSecsSinceEpoch();
}

std::optional<QDateTime> dateFromStored(const QVariant &value) {
    if (value.typeId() != QMetaType::LongLong)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), QTimeZone::utc());
}

QVariant storedUuid(const QUuid &uuid) {
    return uuidText(uuid);
}

std::optional<QUuid> uuidFromStored(const QVariant &value) {
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return uuidFromText(value.toString());
}

} // namespace velmora
