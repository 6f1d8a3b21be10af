#include "domain/UserDefaultsSettingsStore.h"
#include "settings/MacSettingsController.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace velmora;

namespace {

const QDateTime firstStamp(QDate(2024, 3, 15), QTime(9, 30), Qt::UTC);

struct Fixture {
    QTemporaryDir folder;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
    std::shared_ptr<test::TestClock> clock = std::make_shared<test::TestClock>(firstStamp);
    UserDefaultsSettingsStore store{defaults, QStringLiteral("Georgia"), clock};
};

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadWritesBackClampedValues_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("written");

        QTest::newRow("size above range")
            << QStringLiteral("defaultFontSize") << QVariant(30.0) << QVariant(24.0);
        QTest::newRow("size below range")
            << QStringLiteral("defaultFontSize") << QVariant(3.0) << QVariant(12.0);
        QTest::newRow("reading scale above range")
            << QStringLiteral("readingScale") << QVariant(2.0) << QVariant(1.4);
        QTest::newRow("padded font")
            << QStringLiteral("selectedFont") << QVariant(QStringLiteral("  Cochin \n"))
            << QVariant(QStringLiteral("Cochin"));
    }
    void loadWritesBackClampedValues() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, written);
        Fixture f;
        f.defaults->setObject(key, stored);
        MacSettingsController settings(f.store);
        settings.load();
        QCOMPARE(f.defaults->object(key)->toString(), written.toString());
    }

    void loadShowsStoredValues() {
        Fixture f;
        f.defaults->setDouble(QStringLiteral("defaultFontSize"), 30);
        f.defaults->setDouble(QStringLiteral("readingScale"), 2.0);
        f.defaults->setBool(QStringLiteral("reopensLastPage"), true);
        f.defaults->setBool(QStringLiteral("requireAuthentication"), true);
        MacSettingsController settings(f.store);
        settings.load();
        QCOMPARE(settings.defaultFontSize(), 24.0);
        QCOMPARE(settings.sizeText(), QStringLiteral("24"));
        QCOMPARE(settings.readingSizeText(), QStringLiteral("140%"));
        QVERIFY(settings.reopensLastPage());
        QVERIFY(settings.requireAuthentication());
        QCOMPARE(settings.defaultFont(), QStringLiteral("Georgia"));
        QCOMPARE(settings.userName(), QString());
    }

    // Values equal to the window's own starting values are not written on opening.
    void loadLeavesDefaultsUnwritten() {
        Fixture f;
        MacSettingsController settings(f.store);
        settings.load();
        QVERIFY(f.defaults->keys().isEmpty());
    }

    void unchangedNameIsNotRestamped() {
        Fixture f;
        f.store.setUserName(QStringLiteral("Ada "));
        f.clock->set(firstStamp.addDays(3));
        MacSettingsController settings(f.store);
        settings.load();
        QCOMPARE(settings.userName(), QStringLiteral("Ada "));
        QCOMPARE(f.store.userName(), QStringLiteral("Ada "));
        QCOMPARE(*f.store.userNameChangedAt(), firstStamp);
    }

    void typedNameIsStoredUntrimmedAndStamped() {
        Fixture f;
        MacSettingsController settings(f.store);
        settings.load();
        settings.setUserName(QStringLiteral("Ada"));
        settings.setUserName(QStringLiteral("Ada "));
        QCOMPARE(f.store.userName(), QStringLiteral("Ada "));
        QCOMPARE(*f.store.userNameChangedAt(), firstStamp);

        // Clearing the field stores the empty name and stamps it.
        f.clock->set(firstStamp.addSecs(60));
        settings.setUserName(QString());
        QCOMPARE(
            f.defaults->stringValue(QStringLiteral("userName")).value_or(QStringLiteral("none")),
            QString());
        QCOMPARE(*f.store.userNameChangedAt(), firstStamp.addSecs(60));
    }

    // A name typed or stored past the limit is kept to it, and the field shows what is kept.
    void longNamesAreBounded() {
        Fixture f;
        f.defaults->setString(QStringLiteral("userName"), QString(5000, QLatin1Char('x')));
        MacSettingsController settings(f.store);
        settings.load();
        QCOMPARE(settings.userName(), QString(100, QLatin1Char('x')));
        QCOMPARE(f.defaults->stringValue(QStringLiteral("userName")),
                 QString(100, QLatin1Char('x')));
        QVERIFY(!f.store.userNameChangedAt());

        settings.setUserName(QString(99, QLatin1Char('y')));
        QSignalSpy changed(&settings, &MacSettingsController::changed);
        settings.setUserName(QString(99, QLatin1Char('y')) + QStringLiteral("zz"));
        settings.setUserName(QString(99, QLatin1Char('y')) + QStringLiteral("zzz"));
        QCOMPARE(settings.userName(), QString(99, QLatin1Char('y')) + QLatin1Char('z'));
        QCOMPARE(f.store.userName(), settings.userName());
        QCOMPARE(changed.size(), 2);
    }

    void flagsAnnounceThenStore() {
        Fixture f;
        MacSettingsController settings(f.store);
        settings.load();
        QSignalSpy willChange(&f.store, &UserDefaultsSettingsStore::objectWillChange);
        settings.setRequireAuthentication(true);
        settings.setReopensLastPage(true);
        QCOMPARE(willChange.count(), 2);
        QVERIFY(f.defaults->boolValue(QStringLiteral("requireAuthentication")));
        QVERIFY(f.defaults->boolValue(QStringLiteral("reopensLastPage")));
    }

    // Reopening shows what another part of the program stored meanwhile.
    void everyLoadRereads() {
        Fixture f;
        MacSettingsController settings(f.store);
        settings.load();
        f.store.setDefaultFontSize(20);
        f.defaults->setBool(QStringLiteral("requireAuthentication"), true);
        settings.load();
        QCOMPARE(settings.defaultFontSize(), 20.0);
        QVERIFY(settings.requireAuthentication());
    }

    void readingSizeText_data() {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("text");
        QTest::newRow("stored 1.15 truncates") << 1.15 << QStringLiteral("114%");
        QTest::newRow("slider position 7") << 0.8 + 7 * 0.05 << QStringLiteral("115%");
        QTest::newRow("lowest") << 0.8 << QStringLiteral("80%");
        QTest::newRow("slider position 3") << 0.8 + 3 * 0.05 << QStringLiteral("95%");
    }
    void readingSizeText() {
        QFETCH(double, scale);
        QFETCH(QString, text);
        Fixture f;
        f.defaults->setDouble(QStringLiteral("readingScale"), scale);
        MacSettingsController settings(f.store);
        settings.load();
        QCOMPARE(settings.readingSizeText(), text);
    }

    void storageLineFollowsSync() {
        Fixture f;
        bool enabled = false;
        MacSettingsController settings(f.store, [&enabled] { return enabled; });
        QCOMPARE(settings.storageLine(), QStringLiteral("Stored only on this computer."));
        enabled = true;
        QCOMPARE(settings.storageLine(),
                 QStringLiteral("Kept on this computer and in your sync folder."));
        QCOMPARE(MacSettingsController::authenticationKindText(),
                 QStringLiteral("System password"));
    }
};

VELMORA_TEST_MAIN(SettingsTest)
#include "tst_settings.moc"
