#pragma once

#include "store/MigrationSqlite.h"

#include <QDateTime>
#include <QUuid>
#include <QVariant>

namespace velmora {

// TEMPORARY until the store layer's model identity lands.
enum class StoreModelVersion { durableV2, legacyV1, unknown };

StoreModelVersion readStoreModel(MigrationSqlite &db);
void createDurableV2Schema(MigrationSqlite &db);
void createLegacyV1Schema(MigrationSqlite &db);

QVariant storedDate(const QDateTime &moment);
std::optional<QDateTime> dateFromStored(const QVariant &value);
QVariant storedUuid(const QUuid &uuid);
std::optional<QUuid> uuidFromStored(const QVariant &value);

} // namespace velmora
