#include "domain/AppRuntimeConfiguration.h"
#include "domain/Clock.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

using namespace velmora;
using Error = RuntimeConfigurationError::Case;

Q_DECLARE_METATYPE(velmora::RuntimeConfigurationError::Case)

namespace {

const QString support = QStringLiteral("/home/user/.local/share");
const QString temporary = QStringLiteral("/tmp");
const QString productionStore = QStringLiteral("/home/user/.local/share/Velmora/RaDevov.sqlite");

std::variant<AppRuntimeConfiguration, Error> configure(const QStringList &arguments,
                                                       const QString &supportDir = support) {
    try {
        return AppRuntimeConfiguration::make(QStringList{QStringLiteral("velmora")} + arguments,
                                             supportDir, temporary);
    } catch (const RuntimeConfigurationError &error) {
        return error.errorCase();
    }
}

} // namespace

class RuntimeConfigurationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void arguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("error"); // -1: no error
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("suite");
        const int ok = -1;
        const QString name128(128, QLatin1Char('a'));

        QTest::newRow("no arguments")
            << QStringList{} << ok << productionStore << "Velmora.Settings";
        QTest::newRow("options without test mode")
            << QStringList{"--velmora-store-url", "/tmp/x.sqlite", "--velmora-defaults-suite", "S"}
            << ok << productionStore << "Velmora.Settings";
        QTest::newRow("test mode as a joined option is no flag")
            << QStringList{"--velmora-test-mode=1"} << ok << productionStore << "Velmora.Settings";
        QTest::newRow("path and suite")
            << QStringList{"--velmora-test-mode", "--velmora-store-url",
                           "/tmp/t/../s/RaDevov.sqlite", "--velmora-defaults-suite",
                           "Velmora.Tests-1_a"}
            << ok << "/tmp/s/RaDevov.sqlite"
            << "Velmora.Tests-1_a";
        QTest::newRow("joined forms")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=app-temporary://run-1",
                           "--velmora-defaults-suite=Suite"}
            << ok << "/tmp/VelmoraTests/run-1/RaDevov.sqlite"
            << "Suite";
        QTest::newRow("suite of letters and numerals of other scripts")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=/tmp/a.sqlite",
                           "--velmora-defaults-suite", QString::fromUtf8("Дневник.٣.½")}
            << ok << "/tmp/a.sqlite" << QString::fromUtf8("Дневник.٣.½");
        QTest::newRow("name of 128 letters")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=app-temporary://" + name128,
                           "--velmora-defaults-suite=S"}
            << ok << "/tmp/VelmoraTests/" + name128 + "/RaDevov.sqlite"
            << "S";
        QTest::newRow("a file address")
            << QStringList{"--velmora-test-mode", "--velmora-store-url",
                           "file:///tmp/t/../My%20Diary/a.sqlite", "--velmora-defaults-suite=S"}
            << ok << "/tmp/My Diary/a.sqlite"
            << "S";
        QTest::newRow("a file address with one slash")
            << QStringList{"--velmora-test-mode", "--velmora-store-url",
                           "file:/tmp/t/../My%20Diary/a.sqlite", "--velmora-defaults-suite=S"}
            << ok << "/tmp/My Diary/a.sqlite"
            << "S";
        QTest::newRow("sibling of the production folder")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=/home/user/.local/share/Velmora2/x.sqlite",
                           "--velmora-defaults-suite=S"}
            << ok << "/home/user/.local/share/Velmora2/x.sqlite"
            << "S";

        QTest::newRow("empty joined store wins over a later value")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=", "--velmora-defaults-suite=S",
                           "--velmora-store-url", "/tmp/ok.sqlite"}
            << int(Error::missingTestStoreURL) << ""
            << "";
        QTest::newRow("store option last")
            << QStringList{"--velmora-test-mode", "--velmora-defaults-suite=S",
                           "--velmora-store-url"}
            << int(Error::missingTestStoreURL) << ""
            << "";
        QTest::newRow("both missing")
            << QStringList{"--velmora-test-mode"} << int(Error::missingTestStoreURL) << ""
            << "";
        QTest::newRow("suite missing")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=/tmp/a.sqlite"}
            << int(Error::missingTestDefaultsSuite) << ""
            << "";
        QTest::newRow("suite with a blank, store also invalid")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=app-temporary://",
                           "--velmora-defaults-suite=a b"}
            << int(Error::invalidTestDefaultsSuite) << ""
            << "";
        QTest::newRow("suite with a slash")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=/tmp/a",
                           "--velmora-defaults-suite=a/b"}
            << int(Error::invalidTestDefaultsSuite) << ""
            << "";
        QTest::newRow("empty temporary name")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=app-temporary://",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("temporary name of 129")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=app-temporary://" + name128 + "b",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("temporary name with a dot")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=app-temporary://a.b",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("temporary name climbing out")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=app-temporary://../x",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("a file address of another machine")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=file://server/tmp/a.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("another kind of address")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=https://example.org/RaDevov.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("another kind of address of this machine")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=https://localhost/tmp/RaDevov.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("a file address of a relative path")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=file:t/a.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("a file address with a query")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=file:///tmp/a.sqlite?mode=ro",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("a file address with a fragment")
            << QStringList{"--velmora-test-mode", "--velmora-store-url=file:///tmp/a.sqlite#x",
                           "--velmora-defaults-suite=S"}
            << int(Error::invalidTestStoreURL) << ""
            << "";
        QTest::newRow("the production store as a file address")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=file://localhost/home/user/.local/share/Velmora/"
                           "RaDevov.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::productionStoreNotAllowed) << ""
            << "";
        QTest::newRow("the production store")
            << QStringList{"--velmora-test-mode", "--velmora-store-url", productionStore,
                           "--velmora-defaults-suite=S"}
            << int(Error::productionStoreNotAllowed) << ""
            << "";
        QTest::newRow("the production folder")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=/home/user/.local/share/Velmora/",
                           "--velmora-defaults-suite=S"}
            << int(Error::productionStoreNotAllowed) << ""
            << "";
        QTest::newRow("deep inside the production folder")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=/home/user/.local/share/Velmora/a/b/c.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::productionStoreNotAllowed) << ""
            << "";
        QTest::newRow("another spelling of the production folder")
            << QStringList{"--velmora-test-mode",
                           "--velmora-store-url=/home/user/.local/share/x/../Velmora/y.sqlite",
                           "--velmora-defaults-suite=S"}
            << int(Error::productionStoreNotAllowed) << ""
            << "";
    }

    void arguments() {
        QFETCH(QStringList, arguments);
        QFETCH(int, error);
        QFETCH(QString, store);
        QFETCH(QString, suite);
        const auto result = configure(arguments);
        if (error >= 0) {
            QVERIFY(std::holds_alternative<Error>(result));
            QCOMPARE(int(std::get<Error>(result)), error);
            return;
        }
        QVERIFY(std::holds_alternative<AppRuntimeConfiguration>(result));
        const auto &configuration = std::get<AppRuntimeConfiguration>(result);
        const bool testMode = arguments.contains(QStringLiteral("--velmora-test-mode"));
        QCOMPARE(configuration.mode, testMode ? RuntimeMode::test : RuntimeMode::live);
        QCOMPARE(configuration.storeURL, store);
        QCOMPARE(configuration.defaultsSuiteName, suite);
    }

    // A test run may sync through a real folder; the live program only through the chosen one.
    void syncFolderOnlyInTestMode_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("folder"); // null: none
        const QStringList test{"--velmora-test-mode", "--velmora-store-url=/tmp/a.sqlite",
                               "--velmora-defaults-suite=S"};
        QTest::newRow("test mode")
            << test + QStringList{"--velmora-sync-root", "/tmp/x/../sync"} << "/tmp/sync";
        QTest::newRow("joined form")
            << test + QStringList{"--velmora-sync-root=/tmp/sync"} << "/tmp/sync";
        QTest::newRow("test mode without one") << test << QString();
        QTest::newRow("live mode") << QStringList{"--velmora-sync-root", "/tmp/sync"} << QString();
    }
    void syncFolderOnlyInTestMode() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, folder);
        const auto result = configure(arguments);
        QVERIFY(std::holds_alternative<AppRuntimeConfiguration>(result));
        QCOMPARE(std::get<AppRuntimeConfiguration>(result).syncFolder,
                 folder.isNull() ? std::nullopt : std::optional<QString>(folder));
    }

    void missingApplicationSupportComesFirst() {
        try {
            AppRuntimeConfiguration::make({QStringLiteral("--velmora-test-mode")}, std::nullopt,
                                          temporary);
            QFAIL("expected an error");
        } catch (const RuntimeConfigurationError &error) {
            QCOMPARE(error.errorCase(), Error::applicationSupportUnavailable);
        }
    }

    // A test store reached through a symbolic link into the real diary's folder is still the real
    // diary; so is one whose folder is itself a link to it.
    void symbolicLinksCannotReachTheProductionStore() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString supportDir = root.filePath(QStringLiteral("support"));
        QVERIFY(QDir().mkpath(supportDir + QStringLiteral("/Velmora")));
        QVERIFY(QFile::link(supportDir + QStringLiteral("/Velmora"),
                            root.filePath(QStringLiteral("alias"))));
        QVERIFY(QFile::link(supportDir, root.filePath(QStringLiteral("supportAlias"))));

        const QStringList linkedStores{
            root.filePath(QStringLiteral("alias/RaDevov.sqlite")),
            root.filePath(QStringLiteral("alias/new/folder/test.sqlite")),
            root.filePath(QStringLiteral("supportAlias/Velmora/RaDevov.sqlite")),
        };
        for (const QString &store : linkedStores) {
            const auto result = configure({QStringLiteral("--velmora-test-mode"),
                                           QStringLiteral("--velmora-store-url"), store,
                                           QStringLiteral("--velmora-defaults-suite=S")},
                                          supportDir);
            QVERIFY2(std::holds_alternative<Error>(result), qPrintable(store));
            QCOMPARE(std::get<Error>(result), Error::productionStoreNotAllowed);
        }

        const auto elsewhere =
            configure({QStringLiteral("--velmora-test-mode"), QStringLiteral("--velmora-store-url"),
                       root.filePath(QStringLiteral("elsewhere/t.sqlite")),
                       QStringLiteral("--velmora-defaults-suite=S")},
                      supportDir);
        QVERIFY(std::holds_alternative<AppRuntimeConfiguration>(elsewhere));
    }

    void messages_data() {
        QTest::addColumn<Error>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("support") << Error::applicationSupportUnavailable
                                 << "The Application Support directory is unavailable.";
        QTest::newRow("store") << Error::missingTestStoreURL
                               << "Test mode requires an explicit temporary store URL.";
        QTest::newRow("suite") << Error::missingTestDefaultsSuite
                               << "Test mode requires an isolated defaults suite.";
        QTest::newRow("bad store")
            << Error::invalidTestStoreURL << "The test store URL is not a valid file URL.";
        QTest::newRow("bad suite")
            << Error::invalidTestDefaultsSuite
            << "The test defaults suite name contains unsupported characters.";
        QTest::newRow("production") << Error::productionStoreNotAllowed
                                    << "Test mode cannot use the production diary store.";
    }

    void messages() {
        QFETCH(Error, error);
        QFETCH(QString, message);
        QCOMPARE(RuntimeConfigurationError(error).message(), message);
        QCOMPARE(QString::fromUtf8(RuntimeConfigurationError(error).what()), message);
    }

    void systemClockReadsAfresh() {
        const SystemClock clock;
        const QDateTime first = clock.now();
        QThread::msleep(20);
        QVERIFY(clock.now() > first);
        QCOMPARE(first.timeSpec(), Qt::UTC);
    }
};

VELMORA_TEST_MAIN(RuntimeConfigurationTest)
#include "tst_runtimeconfiguration.moc"
