#include "store/DiaryModelProvider.h"

#include "platform/JsonCoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

// The model lives in a static library, whose resources register only when asked to.
static void initializeModelResource() {
    Q_INIT_RESOURCE(VelmoraModel);
}

namespace velmora {

QString DiaryModelProviderError::message() const {
    switch (m_case) {
    case Case::resourceMissing:
        return QCoreApplication::translate("DiaryModelProviderError",
                                           "The Core Data model resource %1 is missing.")
            .arg(m_name);
    case Case::modelUnreadable:
        return QCoreApplication::translate("DiaryModelProviderError",
                                           "The Core Data model %1 could not be read.")
            .arg(m_name);
    }
    return {};
}

namespace DiaryModelProvider {

StoreModel model(const QString &name, const QString &resourceRoot) {
    static const bool registered = (initializeModelResource(), true);
    Q_UNUSED(registered);
    const QString resourceName = QStringLiteral("VelmoraModel");
    const QDir root(resourceRoot);
    if (!root.exists(resourceName + QStringLiteral(".momd")))
        throw DiaryModelProviderError::resourceMissing(resourceName);
    QFile file(
        root.filePath(resourceName + QStringLiteral(".momd/") + name + QStringLiteral(".mom")));
    if (!file.open(QIODevice::ReadOnly))
        throw DiaryModelProviderError::modelUnreadable(name);
    try {
        StoreModel loaded = StoreModel::fromDescriptor(file.readAll());
        if (loaded.versionName != name)
            throw DiaryModelProviderError::modelUnreadable(name);
        return loaded;
    } catch (const JsonDecodingError &) {
        throw DiaryModelProviderError::modelUnreadable(name);
    }
}

StoreModel legacyV1Model() {
    const auto attribute = [](const char *name, StoreAttributeType type,
                              QJsonValue defaultValue = {}) {
        return StoreAttribute{QString::fromLatin1(name), type, false, std::move(defaultValue)};
    };
    StoreEntity entry;
    entry.name = QStringLiteral("DiaryEntry");
    entry.managedObjectClassName = QStringLiteral("DiaryEntry");
    entry.attributes = {
        attribute("id", StoreAttributeType::uuid),
        attribute("date", StoreAttributeType::date),
        attribute("content", StoreAttributeType::string, QString()),
        attribute("fontName", StoreAttributeType::string, QStringLiteral("Georgia")),
        attribute("isLocked", StoreAttributeType::boolean, false),
        attribute("createdAt", StoreAttributeType::date),
    };
    StoreModel model;
    model.versionName = legacyVersionName;
    model.storeVersion = 1;
    model.entities = {entry};
    return model;
}

} // namespace DiaryModelProvider

} // namespace velmora
