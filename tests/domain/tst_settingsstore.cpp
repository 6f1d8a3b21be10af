#include "domain/UserDefaultsSettingsStore.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <limits>

using namespace velmora;

namespace {

struct Fixture {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("defaults.ini"));
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(path);
    std::shared_ptr<test::TestClock> clock =
        std::make_shared<test::TestClock>(QDateTime(QDate(2024, 3, 15), QTime(9, 30), Qt::UTC));
    UserDefaultsSettingsStore store{defaults, QStringLiteral("Georgia"), clock};

    // The same settings as a later run reads them from the file.
    std::unique_ptr<UserDefaultsSettingsStore> reopened() {
        defaults->synchronize();
        return std::make_unique<UserDefaultsSettingsStore>(std::make_shared<UserDefaults>(path),
                                                           QStringLiteral("Georgia"), clock);
    }
};

const double infinity = std::numeric_limits<double>::infinity();

// A setting of any type, read and written as a QVariant, so that one table covers them all.
struct AnySetting {
    QString key;
    std::function<QVariant(const UserDefaults &)> read;
    std::function<void(UserDefaults &, const QVariant &)> write;
};

template <typename T> AnySetting anySetting(const UserSetting<T> &setting) {
    return {setting.key,
            [&setting](const UserDefaults &defaults) {
                return QVariant::fromValue(setting.read(defaults));
            },
            [&setting](UserDefaults &defaults, const QVariant &value) {
                setting.write(defaults, value.value<T>());
            }};
}

AnySetting setting(const QString &name) {
    using S = UserDefaultsSettingsStore;
    static const QHash<QString, AnySetting> all{
        {"readingScale", anySetting(S::readingScaleSetting)},
        {"selectedFont", anySetting(S::selectedFontSetting)},
        {"defaultFontSize", anySetting(S::defaultFontSizeSetting)},
        {"userName", anySetting(S::userNameSetting)},
        {"userNameChangedAt", anySetting(S::userNameChangedAtSetting)},
        {"appAppearance", anySetting(S::appAppearanceSetting)},
        {"reopensLastPage", anySetting(S::reopensLastPageSetting)},
        {"lastOpenedDay", anySetting(S::lastOpenedDaySetting)},
        {"requireAuthentication", anySetting(S::requireAuthenticationSetting)},
        {"hasLaunchedBefore", anySetting(S::hasLaunchedBeforeSetting)},
        {"reminderEnabled", anySetting(S::reminderEnabledSetting)},
        {"reminderHour", anySetting(S::reminderHourSetting)},
        {"reminderMinute", anySetting(S::reminderMinuteSetting)},
        {"reminderOffered", anySetting(S::reminderOfferedSetting)},
        {"syncEnabled", anySetting(S::syncEnabledSetting)},
    };
    return all.value(name);
}

} // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every setting under the key older files keep it, with its default and its clamp.
    void settingRead_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *name, const char *key, const QVariant &stored,
                            const QVariant &expected) {
            QTest::addRow("%s %s", name, stored.isValid() ? "stored" : "missing")
                << QString::fromLatin1(name) << QString::fromLatin1(key) << stored << expected;
        };
        const QString longName(300, QLatin1Char('n'));
        row("readingScale", "readingScale", {}, 1.0);
        row("readingScale", "readingScale", 9.0, 1.4);
        row("selectedFont", "selectedFont", {}, QString());
        row("selectedFont", "selectedFont", QStringLiteral(" Cochin "), QStringLiteral("Cochin"));
        row("defaultFontSize", "defaultFontSize", {}, 16.0);
        row("defaultFontSize", "defaultFontSize", -3.0, 12.0);
        row("userName", "userName", {}, QString());
        row("userName", "userName", longName, longName.left(100));
        row("userNameChangedAt", "userNameChangedAt", {}, QDateTime());
        row("appAppearance", "appAppearance", {}, QStringLiteral("system"));
        row("reopensLastPage", "reopensLastPage", {}, false);
        row("reopensLastPage", "reopensLastPage", QStringLiteral("yes"), true);
        row("lastOpenedDay", "lastOpenedDay", {}, QString());
        row("requireAuthentication", "requireAuthentication", {}, false);
        row("requireAuthentication", "requireAuthentication", 1, true);
        row("hasLaunchedBefore", "hasLaunchedBefore", {}, false);
        row("reminderEnabled", "Velmora.reminder.enabled", {}, false);
        row("reminderHour", "Velmora.reminder.hour", {}, 21);
        row("reminderHour", "Velmora.reminder.hour", 7.5, 21);
        row("reminderMinute", "Velmora.reminder.minute", {}, 0);
        row("reminderOffered", "Velmora.reminder.offered", {}, false);
        row("syncEnabled", "Velmora.sync.enabled", {}, true);
        row("syncEnabled", "Velmora.sync.enabled", QStringLiteral("no"), true);
    }

    void settingRead() {
        QFETCH(QString, name);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        Fixture f;
        const AnySetting any = setting(name);
        QCOMPARE(any.key, key);
        if (stored.isValid())
            f.defaults->setObject(key, stored);
        QCOMPARE(any.read(*f.defaults), expected);
        // A later run reads numbers and flags back from text.
        f.defaults->synchronize();
        QCOMPARE(any.read(UserDefaults(f.path)), expected);
    }

    // What a setting writes reads back the same after a restart.
    void settingRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("readingScale") << "readingScale" << QVariant(1.25);
        QTest::newRow("selectedFont") << "selectedFont" << QVariant(QStringLiteral("Palatino"));
        QTest::newRow("defaultFontSize") << "defaultFontSize" << QVariant(18.5);
        QTest::newRow("userName") << "userName" << QVariant(QStringLiteral("Zoë \u2603"));
        QTest::newRow("userNameChangedAt")
            << "userNameChangedAt"
            << QVariant(QDateTime(QDate(2024, 3, 15), QTime(9, 30, 1, 250), Qt::UTC));
        QTest::newRow("appAppearance") << "appAppearance" << QVariant(QStringLiteral("dark"));
        QTest::newRow("reopensLastPage") << "reopensLastPage" << QVariant(true);
        QTest::newRow("lastOpenedDay") << "lastOpenedDay" << QVariant(QStringLiteral("2024-02-29"));
        QTest::newRow("requireAuthentication") << "requireAuthentication" << QVariant(true);
        QTest::newRow("hasLaunchedBefore") << "hasLaunchedBefore" << QVariant(true);
        QTest::newRow("reminderEnabled") << "reminderEnabled" << QVariant(true);
        QTest::newRow("reminderHour") << "reminderHour" << QVariant(7);
        QTest::newRow("reminderMinute") << "reminderMinute" << QVariant(45);
        QTest::newRow("reminderOffered") << "reminderOffered" << QVariant(true);
        QTest::newRow("syncEnabled") << "syncEnabled" << QVariant(false);
    }

    void settingRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        Fixture f;
        const AnySetting any = setting(name);
        any.write(*f.defaults, value);
        QCOMPARE(any.read(*f.defaults), value);
        f.defaults->synchronize();
        QCOMPARE(any.read(UserDefaults(f.path)), value);
    }

    // What is stored, as written by this program or by hand, reads as a safe value.
    void numbersRead_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("expected");

        const QString scale = UserDefaultsSettingsStore::readingScaleSetting.key;
        const QString size = UserDefaultsSettingsStore::defaultFontSizeSetting.key;
        QTest::newRow("scale missing") << scale << QVariant() << 1.0;
        QTest::newRow("scale too large") << scale << QVariant(2.0) << 1.4;
        QTest::newRow("scale too small") << scale << QVariant(0.5) << 0.8;
        QTest::newRow("scale in range") << scale << QVariant(1.1) << 1.1;
        QTest::newRow("scale as text") << scale << QVariant(QStringLiteral("1.2")) << 1.2;
        QTest::newRow("scale text without number")
            << scale << QVariant(QStringLiteral("large")) << 0.8;
        QTest::newRow("scale infinite") << scale << QVariant(infinity) << 1.0;
        QTest::newRow("scale not a number") << scale << QVariant(std::nan("")) << 1.0;
        QTest::newRow("size missing") << size << QVariant() << 16.0;
        QTest::newRow("size too large") << size << QVariant(30) << 24.0;
        QTest::newRow("size too small") << size << QVariant(8) << 12.0;
        QTest::newRow("size not a number") << size << QVariant(std::nan("")) << 16.0;
        QTest::newRow("size negative infinity") << size << QVariant(-infinity) << 16.0;
        QTest::newRow("size a date") << size << QVariant(QDateTime::currentDateTimeUtc()) << 12.0;
    }

    void numbersRead() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(double, expected);

        Fixture f;
        if (stored.isValid())
            f.defaults->setObject(key, stored);
        const auto reopened = f.reopened();
        for (const SettingsStore *store : {static_cast<const SettingsStore *>(&f.store),
                                           static_cast<const SettingsStore *>(reopened.get())}) {
            const double value = key == UserDefaultsSettingsStore::readingScaleSetting.key
                                     ? store->readingScale()
                                     : store->defaultFontSize();
            QCOMPARE(value, expected);
        }
    }

    void selectedFontRead_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << QVariant() << "Georgia";
        QTest::newRow("padded") << QVariant(QStringLiteral("  Palatino \n")) << "Palatino";
        QTest::newRow("only blanks") << QVariant(QStringLiteral("   ")) << "Georgia";
    }

    void selectedFontRead() {
        QFETCH(QVariant, stored);
        QFETCH(QString, expected);
        Fixture f;
        if (stored.isValid())
            f.defaults->setObject(UserDefaultsSettingsStore::selectedFontSetting.key, stored);
        QCOMPARE(f.store.selectedFont(), expected);
        QCOMPARE(f.reopened()->selectedFont(), expected);
    }

    void writes_data() {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");

        const QString size = UserDefaultsSettingsStore::defaultFontSizeSetting.key;
        QTest::newRow("size clamped")
            << "defaultFontSize" << QVariant(100.0) << size << QVariant(24.0);
        QTest::newRow("size infinity")
            << "defaultFontSize" << QVariant(-infinity) << size << QVariant(12.0);
        QTest::newRow("font trimmed") << "selectedFont" << QVariant(QStringLiteral(" Cochin "))
                                      << UserDefaultsSettingsStore::selectedFontSetting.key
                                      << QVariant(QStringLiteral("Cochin"));
        QTest::newRow("blank font removes the key")
            << "selectedFont" << QVariant(QStringLiteral(" \t"))
            << UserDefaultsSettingsStore::selectedFontSetting.key << QVariant();
        QTest::newRow("appearance as given") << "appAppearance" << QVariant(QStringLiteral(" dark"))
                                             << UserDefaultsSettingsStore::appAppearanceSetting.key
                                             << QVariant(QStringLiteral(" dark"));
        QTest::newRow("scale as given")
            << "readingScale" << QVariant(3.0) << UserDefaultsSettingsStore::readingScaleSetting.key
            << QVariant(3.0);
    }

    // Every write announces the change exactly once, while reads still give the old value.
    void writes() {
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);

        Fixture f;
        f.defaults->setString(UserDefaultsSettingsStore::selectedFontSetting.key,
                              QStringLiteral("Charter"));
        const auto before = f.defaults->object(key);
        int announcements = 0;
        std::optional<QVariant> seen;
        connect(&f.store, &UserDefaultsSettingsStore::objectWillChange, this, [&] {
            ++announcements;
            seen = f.defaults->object(key);
        });
        QVERIFY(f.store.setProperty(property.toLatin1().constData(), value));
        QCOMPARE(announcements, 1);
        QCOMPARE(seen, before);
        const auto written = f.defaults->object(key);
        QCOMPARE(written.has_value(), stored.isValid());
        if (written)
            QCOMPARE(f.reopened()->property(property.toLatin1().constData()),
                     key == UserDefaultsSettingsStore::readingScaleSetting.key ? QVariant(1.4)
                                                                               : stored);
    }

    void nanSizeIsStoredAndReadsAsDefault() {
        Fixture f;
        f.store.setDefaultFontSize(std::nan(""));
        QVERIFY(std::isnan(
            f.defaults->doubleValue(UserDefaultsSettingsStore::defaultFontSizeSetting.key)));
        QCOMPARE(f.store.defaultFontSize(), 16.0);
    }

    void userName_data() {
        QTest::addColumn<std::optional<QString>>("before");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("stamped");
        QTest::newRow("new name") << std::optional<QString>("Ada") << "Grace" << true;
        QTest::newRow("same name") << std::optional<QString>("Ada") << "Ada" << false;
        QTest::newRow("empty over nothing") << std::optional<QString>() << "" << false;
        QTest::newRow("first name") << std::optional<QString>() << " Ada " << true;
    }

    void userName() {
        QFETCH(std::optional<QString>, before);
        QFETCH(QString, name);
        QFETCH(bool, stamped);

        Fixture f;
        if (before)
            f.defaults->setString(UserDefaultsSettingsStore::userNameSetting.key, *before);
        QSignalSpy announced(&f.store, &UserDefaultsSettingsStore::objectWillChange);
        f.store.setUserName(name);
        QCOMPARE(announced.size(), 1);
        QCOMPARE(f.defaults->stringValue(UserDefaultsSettingsStore::userNameSetting.key), name);
        QCOMPARE(f.store.userNameChangedAt(),
                 stamped ? std::optional(f.clock->now()) : std::nullopt);
        QCOMPARE(f.reopened()->userNameChangedAt(),
                 stamped ? std::optional(f.clock->now()) : std::nullopt);

        const QDateTime remote(QDate(2020, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);
        f.store.setUserName(name, remote);
        QCOMPARE(f.store.userNameChangedAt(), std::optional(remote));
    }

    // Names are kept to 100 UTF-16 units, cut where a character ends.
    void boundedNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kept");
        const QString a99(99, QLatin1Char('a'));
        QTest::newRow("short") << "Ada"
                               << "Ada";
        QTest::newRow("exactly the limit")
            << QString(100, QLatin1Char('a')) << QString(100, QLatin1Char('a'));
        QTest::newRow("one over") << QString(101, QLatin1Char('a'))
                                  << QString(100, QLatin1Char('a'));
        QTest::newRow("a million")
            << QString(1'000'000, QLatin1Char('a')) << QString(100, QLatin1Char('a'));
        QTest::newRow("a mark across the limit") << a99 + QStringLiteral("e\u0301 Zola") << a99;
        QTest::newRow("a surrogate pair across the limit")
            << a99 + QStringLiteral("\U0001F600!") << a99;
        QTest::newRow("one letter under endless marks")
            << QLatin1Char('a') + QString(500, QChar(0x0301))
            << QLatin1Char('a') + QString(99, QChar(0x0301));
    }

    void boundedNames() {
        QFETCH(QString, name);
        QFETCH(QString, kept);
        QCOMPARE(UserDefaultsSettingsStore::boundedUserName(name), kept);

        // Every way in keeps the bounded name: the setter, a name from the other device, and a
        // name that an older run or a hand stored in the file.
        Fixture f;
        f.store.setUserName(name);
        QCOMPARE(f.defaults->stringValue(UserDefaultsSettingsStore::userNameSetting.key), kept);
        f.store.setUserName(name, f.clock->now());
        QCOMPARE(f.defaults->stringValue(UserDefaultsSettingsStore::userNameSetting.key), kept);
        f.defaults->setString(UserDefaultsSettingsStore::userNameSetting.key, name);
        QCOMPARE(f.store.userName(), kept);
    }

    void changedAtThatIsNoDateReadsAsNone() {
        Fixture f;
        f.defaults->setString(UserDefaultsSettingsStore::userNameChangedAtSetting.key,
                              QStringLiteral("2024-03-15T09:30:00Z"));
        QCOMPARE(f.store.userNameChangedAt(), std::nullopt);
    }

    void suitesAreSeparateFilesInTestPaths() {
        const auto one = UserDefaults::suite(QStringLiteral("Velmora.Tests.one"));
        const auto two = UserDefaults::suite(QStringLiteral("Velmora.Tests.two"));
        one->setDouble(QStringLiteral("readingScale"), 1.2);
        QVERIFY(!two->contains(QStringLiteral("readingScale")));
        // Another object over the same file sees the write at once.
        QCOMPARE(UserDefaults::suite(QStringLiteral("Velmora.Tests.one"))
                     ->doubleValue(QStringLiteral("readingScale")),
                 1.2);
        QVERIFY(one->filePath().contains(QStringLiteral("qttest")));
        QVERIFY(one->filePath().endsWith(QStringLiteral("/Velmora/Suites/Velmora.Tests.one.ini")));
        QFile::remove(one->filePath());
    }
};

VELMORA_TEST_MAIN(SettingsStoreTest)
#include "tst_settingsstore.moc"
