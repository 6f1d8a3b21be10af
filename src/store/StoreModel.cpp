#include "store/StoreModel.h"

#include "platform/JsonCoding.h"
#include "platform/Sha256.h"

#include <QJsonArray>
#include <QJsonObject>

namespace velmora {

QString sqlName(const QString &name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

namespace {

QString affinity(StoreAttributeType type) {
    switch (type) {
    case StoreAttributeType::uuid:
    case StoreAttributeType::string:
        return QStringLiteral("TEXT");
    case StoreAttributeType::date:
    case StoreAttributeType::boolean:
    case StoreAttributeType::integer64:
        return QStringLiteral("INTEGER");
    case StoreAttributeType::float64:
        return QStringLiteral("REAL");
    case StoreAttributeType::binary:
        return QStringLiteral("BLOB");
    }
    return {};
}

QString sqlLiteral(const QJsonValue &value) {
    if (value.isBool())
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17);
    return QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QStringLiteral("''")) +
           QLatin1Char('\'');
}

StoreAttribute attributeFromJson(const QJsonValue &value, const QStringList &path) {
    const JsonObjectReader reader(value, path);
    StoreAttribute attribute;
    attribute.name = reader.string(QStringLiteral("name"));
    attribute.type = reader.rawValueEnum<StoreAttributeType>(QStringLiteral("type"));
    if (reader.hasValue(QStringLiteral("optional")))
        attribute.isOptional = reader.boolean(QStringLiteral("optional"));
    if (auto defaultValue = reader.optional(QStringLiteral("default")))
        attribute.defaultValue = *defaultValue;
    return attribute;
}

StoreEntity entityFromJson(const QJsonValue &value, const QStringList &path) {
    const JsonObjectReader reader(value, path);
    StoreEntity entity;
    entity.name = reader.string(QStringLiteral("name"));
    entity.managedObjectClassName = reader.string(QStringLiteral("className"));
    entity.attributes =
        reader.list<StoreAttribute>(QStringLiteral("attributes"), attributeFromJson);
    if (reader.hasValue(QStringLiteral("foldedColumns"))) {
        entity.foldedColumns = reader.list<StoreFoldedColumn>(
            QStringLiteral("foldedColumns"), [](const QJsonValue &element, const QStringList &at) {
                const JsonObjectReader column(element, at);
                return StoreFoldedColumn{column.string(QStringLiteral("name")),
                                         column.string(QStringLiteral("source"))};
            });
    }
    if (reader.hasValue(QStringLiteral("indexes"))) {
        entity.indexes = reader.list<StoreIndex>(
            QStringLiteral("indexes"), [](const QJsonValue &element, const QStringList &at) {
                const JsonObjectReader index(element, at);
                StoreIndex result;
                result.name = index.string(QStringLiteral("name"));
                result.columns = index.list<QString>(QStringLiteral("columns"), json::string);
                if (index.hasValue(QStringLiteral("unique")))
                    result.isUnique = index.boolean(QStringLiteral("unique"));
                return result;
            });
    }
    return entity;
}

} // namespace

const StoreAttribute *StoreEntity::attribute(QStringView attributeName) const {
    for (const auto &candidate : attributes) {
        if (candidate.name == attributeName)
            return &candidate;
    }
    return nullptr;
}

const StoreEntity *StoreModel::entity(QStringView entityName) const {
    for (const auto &candidate : entities) {
        if (candidate.name == entityName)
            return &candidate;
    }
    return nullptr;
}

QByteArray StoreModel::descriptor() const {
    QJsonArray entityArray;
    for (const auto &entity : entities) {
        QJsonArray attributeArray;
        for (const auto &attribute : entity.attributes) {
            QJsonObject object{{QStringLiteral("name"), attribute.name},
                               {QStringLiteral("type"), rawValue(attribute.type)}};
            if (attribute.isOptional)
                object.insert(QStringLiteral("optional"), true);
            if (!attribute.defaultValue.isNull() && !attribute.defaultValue.isUndefined())
                object.insert(QStringLiteral("default"), attribute.defaultValue);
            attributeArray.append(object);
        }
        QJsonObject object{{QStringLiteral("name"), entity.name},
                           {QStringLiteral("className"), entity.managedObjectClassName},
                           {QStringLiteral("attributes"), attributeArray}};
        if (!entity.foldedColumns.isEmpty()) {
            QJsonArray folded;
            for (const auto &column : entity.foldedColumns)
                folded.append(QJsonObject{{QStringLiteral("name"), column.name},
                                          {QStringLiteral("source"), column.sourceAttribute}});
            object.insert(QStringLiteral("foldedColumns"), folded);
        }
        if (!entity.indexes.isEmpty()) {
            QJsonArray indexArray;
            for (const auto &index : entity.indexes) {
                QJsonObject indexObject{
                    {QStringLiteral("name"), index.name},
                    {QStringLiteral("columns"), QJsonArray::fromStringList(index.columns)}};
                if (index.isUnique)
                    indexObject.insert(QStringLiteral("unique"), true);
                indexArray.append(indexObject);
            }
            object.insert(QStringLiteral("indexes"), indexArray);
        }
        entityArray.append(object);
    }
    return writeJson(QJsonObject{{QStringLiteral("versionName"), versionName},
                                 {QStringLiteral("storeVersion"), storeVersion},
                                 {QStringLiteral("entities"), entityArray}});
}

QString StoreModel::versionHash() const {
    return sha256Hex(descriptor());
}

StoreModel StoreModel::fromDescriptor(const QByteArray &bytes) {
    const JsonObjectReader reader(parseJson(bytes));
    StoreModel model;
    model.versionName = reader.string(QStringLiteral("versionName"));
    model.storeVersion = reader.int64(QStringLiteral("storeVersion"));
    model.entities = reader.list<StoreEntity>(QStringLiteral("entities"), entityFromJson);
    return model;
}

QStringList StoreModel::schemaStatements() const {
    QStringList statements;
    for (const auto &entity : entities) {
        // Long texts and payloads go last, so a scan of the short columns or of a folded copy
        // never walks their overflow pages.
        const auto isLong = [&entity](const StoreAttribute &attribute) {
            if (attribute.type == StoreAttributeType::binary)
                return true;
            for (const auto &folded : entity.foldedColumns) {
                if (folded.sourceAttribute == attribute.name)
                    return true;
            }
            return false;
        };
        QStringList columns;
        const auto column = [](const StoreAttribute &attribute) {
            QString definition =
                sqlName(attribute.name) + QLatin1Char(' ') + affinity(attribute.type);
            if (!attribute.defaultValue.isNull() && !attribute.defaultValue.isUndefined())
                definition += QStringLiteral(" DEFAULT ") + sqlLiteral(attribute.defaultValue);
            return definition;
        };
        for (const auto &attribute : entity.attributes) {
            if (!isLong(attribute))
                columns.append(column(attribute));
        }
        for (const auto &folded : entity.foldedColumns)
            columns.append(sqlName(folded.name) + QStringLiteral(" TEXT"));
        for (const auto &attribute : entity.attributes) {
            if (isLong(attribute))
                columns.append(column(attribute));
        }
        statements.append(QStringLiteral("CREATE TABLE %1 (%2)")
                              .arg(sqlName(entity.name), columns.join(QStringLiteral(", "))));
        for (const auto &index : entity.indexes) {
            QStringList indexColumns;
            for (const auto &name : index.columns)
                indexColumns.append(sqlName(name));
            statements.append(QStringLiteral("CREATE %1INDEX %2 ON %3 (%4)")
                                  .arg(index.isUnique ? QStringLiteral("UNIQUE ") : QString(),
                                       sqlName(index.name), sqlName(entity.name),
                                       indexColumns.join(QStringLiteral(", "))));
        }
    }
    return statements;
}

} // namespace velmora
