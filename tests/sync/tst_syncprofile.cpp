// The profile step: the user's name travels through "profile.json" and the later change wins;
// a second pass over the outcome changes nothing on either side.
#include "support/SyncEngineFixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// 2024-03-01 12:00:00.250 UTC.
constexpr qint64 base = 1709294400250;
constexpr qint64 none = -1;
// 0001-01-01 00:00:00 UTC, the earliest time the tablet's platform names.
constexpr qint64 distantPast = -62135596800000;

QByteArray profileJson(const QString &name, const QString &seconds) {
    return QStringLiteral("{\"userName\":\"%1\",\"changedAt\":%2}").arg(name, seconds).toUtf8();
}

QByteArray profileAt(const QString &name, qint64 ms) {
    return profileJson(name, QString::number(double(ms) / 1000.0, 'f', 3));
}

} // namespace

class SyncProfileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rules_data() {
        QTest::addColumn<QByteArray>("file"); // empty: no file
        QTest::addColumn<QString>("localName");
        QTest::addColumn<qint64>("localChangedAt");
        QTest::addColumn<QString>("nameAfter");
        QTest::addColumn<qint64>("changedAtAfter");
        QTest::addColumn<QByteArray>("fileAfter"); // empty: no file
        const QString ada = QStringLiteral("Ada");
        const QString grace = QStringLiteral("Grace");
        QTest::newRow("no file, never edited")
            << QByteArray() << ada << none << ada << none << QByteArray();
        QTest::newRow("no file, edited here")
            << QByteArray() << ada << base << ada << base << profileAt(ada, base);
        QTest::newRow("newer name from the tablet")
            << profileAt(grace, base + 1) << ada << base << grace << base + 1
            << profileAt(grace, base + 1);
        QTest::newRow("newer, the same name")
            << profileAt(ada, base + 1) << ada << base << ada << base << profileAt(ada, base + 1);
        QTest::newRow("newer, an empty name")
            << profileAt(QString(), base + 1) << ada << base << QString() << base + 1
            << profileAt(QString(), base + 1);
        QTest::newRow("a fresh computer takes the tablet's name")
            << profileAt(grace, distantPast + 1) << QString() << none << grace << distantPast + 1
            << profileAt(grace, distantPast + 1);
        QTest::newRow("same time, same name")
            << profileAt(ada, base) << ada << base << ada << base << profileAt(ada, base);
        QTest::newRow("same time, another name: this computer's")
            << profileAt(grace, base) << ada << base << ada << base << profileAt(ada, base);
        QTest::newRow("older name in the file")
            << profileAt(grace, base - 1) << ada << base << ada << base << profileAt(ada, base);
        QTest::newRow("unreadable file, edited here")
            << QByteArray("{\"userName\":") << ada << base << ada << base << profileAt(ada, base);
        QTest::newRow("canonically the same name")
            << profileAt(QStringLiteral("Zoe\u0308"), base + 1) << QStringLiteral("Zo\u00EB")
            << base << QStringLiteral("Zo\u00EB") << base
            << profileAt(QStringLiteral("Zoe\u0308"), base + 1);
        // Seconds as a double carry no more than they should: the time is kept to the millisecond
        // both ways, so the name is neither taken nor written again on the next pass.
        QTest::newRow("a time finer than a millisecond")
            << profileJson(grace, QStringLiteral("1709294400.2501234")) << ada << base - 5000
            << grace << base << profileJson(grace, QStringLiteral("1709294400.2501234"));
        QTest::newRow("a millisecond that doubles cannot hold exactly")
            << QByteArray() << ada << base + 17 << ada << base + 17 << profileAt(ada, base + 17);
        // 1.009 s is 1008.999… ms as a double: read back without rounding, the file would look
        // older than the name it was written from, and be written again on every pass.
        QTest::newRow("a millisecond a double holds only nearly")
            << QByteArray() << ada << qint64(1009) << ada << qint64(1009) << profileAt(ada, 1009);
    }
    void rules() {
        QFETCH(QByteArray, file);
        QFETCH(QString, localName);
        QFETCH(qint64, localChangedAt);
        QFETCH(QString, nameAfter);
        QFETCH(qint64, changedAtAfter);
        QFETCH(QByteArray, fileAfter);
        SyncEngineFixture f;
        const auto at = [](qint64 ms) {
            return ms == none ? std::optional<QDateTime>()
                              : std::optional(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
        };
        if (localChangedAt != none)
            f.settings->setUserName(localName, *at(localChangedAt));
        else if (!localName.isEmpty())
            f.settings->defaults()->setString(UserDefaultsSettingsStore::userNameSetting.key,
                                              localName);
        const QString path = f.root + QStringLiteral("/profile.json");
        if (!file.isEmpty())
            f.tablet.writeFile(QStringLiteral("profile.json"), file);
        f.pass();

        QCOMPARE(f.settings->userName(), nameAfter);
        QCOMPARE(f.settings->userNameChangedAt(), at(changedAtAfter));
        QCOMPARE(f.sync->changeCount(), nameAfter != localName ? 1 : 0);
        if (fileAfter.isEmpty()) {
            QVERIFY(!QFile::exists(path));
        } else {
            const auto written = f.tablet.readProfile();
            QVERIFY(written);
            const auto expected = DiaryCloudSyncFolder::decodeProfile(fileAfter);
            QCOMPARE(written->userName, expected->userName);
            QCOMPARE(written->changedAtMs, expected->changedAt.toMSecsSinceEpoch());
        }

        const std::optional<QString> settled = DiaryCloudSyncFolder::fingerprint(path);
        f.pass();
        QCOMPARE(DiaryCloudSyncFolder::fingerprint(path), settled);
        QCOMPARE(f.settings->userName(), nameAfter);
        QCOMPARE(f.sync->changeCount(), nameAfter != localName ? 1 : 0);
    }
};

VELMORA_TEST_MAIN(SyncProfileTest)
#include "tst_syncprofile.moc"
