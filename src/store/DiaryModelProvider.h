#pragma once

#include "platform/DiaryError.h"
#include "store/StoreModel.h"

#include <QString>

namespace velmora {

class DiaryModelProviderError : public DiaryError {
public:
    enum class Case { resourceMissing, modelUnreadable };

    static DiaryModelProviderError resourceMissing(QString resourceName) {
        return {Case::resourceMissing, std::move(resourceName)};
    }
    static DiaryModelProviderError modelUnreadable(QString versionName) {
        return {Case::modelUnreadable, std::move(versionName)};
    }

    Case errorCase() const { return m_case; }
    const QString &name() const { return m_name; }
    QString message() const override;

    friend bool operator==(const DiaryModelProviderError &a, const DiaryModelProviderError &b) {
        return a.m_case == b.m_case && a.m_name == b.m_name;
    }

private:
    DiaryModelProviderError(Case errorCase, QString name)
        : m_case(errorCase)
        , m_name(std::move(name)) {}

    Case m_case;
    QString m_name;
};

namespace DiaryModelProvider {

inline const QString currentVersionName = QStringLiteral("DurableV2");
inline const QString legacyVersionName = QStringLiteral("LegacyV1");

// Loads version `name` of the compiled-in model "VelmoraModel.momd". `resourceRoot` is where the
// model folder is looked for: the program's own resources unless a test points elsewhere.
StoreModel model(const QString &name, const QString &resourceRoot = QStringLiteral(":/"));

// The model of the older layout, which ships no resource; made afresh at each call.
StoreModel legacyV1Model();

} // namespace DiaryModelProvider

} // namespace velmora
