#pragma once

#include "platform/RawValueEnum.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

namespace velmora {

enum class StoreAttributeType { uuid, date, string, boolean, float64, integer64, binary };
VELMORA_RAW_VALUES(StoreAttributeType, "uuid", "date", "string", "boolean", "float64", "integer64",
                   "binary");

struct StoreAttribute {
    QString name;
    StoreAttributeType type = StoreAttributeType::string;
    bool isOptional = false;
    // Null when the attribute has no default.
    QJsonValue defaultValue;

    friend bool operator==(const StoreAttribute &, const StoreAttribute &) = default;
};

// A column the store keeps beside an attribute: its text folded for search (see foldedForSearch).
struct StoreFoldedColumn {
    QString name;
    QString sourceAttribute;

    friend bool operator==(const StoreFoldedColumn &, const StoreFoldedColumn &) = default;
};

struct StoreIndex {
    QString name;
    QStringList columns;
    bool isUnique = false;

    friend bool operator==(const StoreIndex &, const StoreIndex &) = default;
};

// One table. Columns carry no NOT NULL or CHECK constraints: readers treat missing and odd
// values themselves, so such rows must stay possible.
struct StoreEntity {
    QString name;
    QString managedObjectClassName;
    QList<StoreAttribute> attributes;
    QList<StoreFoldedColumn> foldedColumns;
    QList<StoreIndex> indexes;

    const StoreAttribute *attribute(QStringView attributeName) const;

    friend bool operator==(const StoreEntity &, const StoreEntity &) = default;
};

// A version of the store's schema. A store file records the version name and hash of the model
// that wrote it, and opens only with an identical model.
struct StoreModel {
    QString versionName;
    // Written to the file's user_version, so tools can tell versions apart without our tables.
    qint64 storeVersion = 0;
    QList<StoreEntity> entities;

    const StoreEntity *entity(QStringView entityName) const;

    // The canonical JSON form, as the compiled-in model resources hold it.
    QByteArray descriptor() const;
    // The SHA-256 of the canonical form: equal hashes mean identical schemas.
    QString versionHash() const;
    // Throws JsonDecodingError.
    static StoreModel fromDescriptor(const QByteArray &bytes);

    // CREATE TABLE and CREATE INDEX statements for an empty store.
    QStringList schemaStatements() const;

    friend bool operator==(const StoreModel &, const StoreModel &) = default;
};

// A table or column name quoted for SQL.
QString sqlName(const QString &name);

} // namespace velmora
