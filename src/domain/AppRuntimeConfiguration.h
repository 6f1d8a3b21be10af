#pragma once

#include "platform/DiaryError.h"
#include "platform/RawValueEnum.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

enum class RuntimeMode { live, test };
VELMORA_RAW_VALUES(RuntimeMode, "live", "test");

class RuntimeConfigurationError : public DiaryError {
public:
    enum class Case {
        applicationSupportUnavailable,
        missingTestStoreURL,
        missingTestDefaultsSuite,
        invalidTestStoreURL,
        invalidTestDefaultsSuite,
        productionStoreNotAllowed,
    };

    explicit RuntimeConfigurationError(Case errorCase)
        : m_case(errorCase) {}

    Case errorCase() const { return m_case; }
    QString message() const override;

    friend bool operator==(const RuntimeConfigurationError &a, const RuntimeConfigurationError &b) {
        return a.m_case == b.m_case;
    }

private:
    Case m_case;
};

// Where the diary lies and which settings domain it uses, decided from the launch arguments
// alone. Test mode must name its own throw-away store and settings suite and can never reach the
// real diary.
struct AppRuntimeConfiguration {
    static inline const QString testModeArgument = QStringLiteral("--velmora-test-mode");
    static inline const QString storeURLArgument = QStringLiteral("--velmora-store-url");
    static inline const QString defaultsSuiteArgument = QStringLiteral("--velmora-defaults-suite");
    // A real sync folder for a test run; ignored outside test mode.
    static inline const QString syncRootArgument = QStringLiteral("--velmora-sync-root");
    static inline const QString appTemporaryScheme = QStringLiteral("app-temporary://");
    static inline const QString liveSuiteName = QStringLiteral("Velmora.Settings");
    static inline const QString storeFileName = QStringLiteral("RaDevov.sqlite");

    RuntimeMode mode = RuntimeMode::live;
    QString storeURL; // absolute, standardised path of the SQLite store
    QString defaultsSuiteName;
    // The folder a test run syncs through, in the place of a chosen one (absolute, standardised).
    std::optional<QString> syncFolder;

    // `applicationSupportDirectory` is none when the platform has no such directory. Throws
    // RuntimeConfigurationError.
    static AppRuntimeConfiguration make(const QStringList &arguments,
                                        const std::optional<QString> &applicationSupportDirectory,
                                        const QString &temporaryDirectory);

    static QString productionDirectory(const QString &applicationSupportDirectory);

    // The value of an option: the first "name=value" argument, else the argument after the first
    // "name"; none when neither is there or the name is last.
    static std::optional<QString> optionValue(const QStringList &arguments, const QString &name);

    friend bool operator==(const AppRuntimeConfiguration &,
                           const AppRuntimeConfiguration &) = default;
};

} // namespace velmora
