#include "app/DiaryBookStage.h"
#include "app/DiaryLockCard.h"
#include "app/DiaryLockController.h"
#include "app/VelmoraMenuCommands.h"
#include "app/VuzIvoduRootView.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/AsyncSleep.h"
#include "support/GuiTestMain.h"

#include <QAction>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>

using namespace velmora;

namespace {

// Answers each request with the next scripted outcome: none succeeds, an error fails. A held
// answer keeps the request open until release().
class ScriptedAuthenticator : public SystemAuthenticator {
public:
    bool available = true;
    QList<std::optional<AuthenticationError>> outcomes;
    QStringList reasons;
    bool hold = false;

    bool canAuthenticate() const override { return available; }
    QCoro::Task<void> authenticate(QString reason) override {
        reasons << reason;
        while (hold) {
            QCoro::Task<void> pause = sleepFor(std::chrono::milliseconds(5));
            co_await pause;
        }
        const std::optional<AuthenticationError> outcome =
            outcomes.isEmpty() ? std::nullopt : outcomes.takeFirst();
        if (outcome)
            throw *outcome;
    }
};

struct LockFixture {
    QTemporaryDir folder;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<ScriptedAuthenticator> authenticator =
        std::make_shared<ScriptedAuthenticator>();

    explicit LockFixture(bool requireAuthentication) {
        defaults->setBool(DiaryLockController::requireAuthenticationKey, requireAuthentication);
    }
};

} // namespace

class LockTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appearing_data() {
        QTest::addColumn<bool>("required");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QList<std::optional<AuthenticationError>>>("outcomes");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("error");

        QTest::newRow("lock off: no prompt")
            << false << true << QList<std::optional<AuthenticationError>>{} << 0 << false
            << QString();
        QTest::newRow("no owner authentication: opens without prompt")
            << true << false << QList<std::optional<AuthenticationError>>{} << 0 << false
            << QString();
        QTest::newRow("success") << true << true
                                 << QList<std::optional<AuthenticationError>>{std::nullopt} << 1
                                 << false << QString();
        QTest::newRow("cancelled")
            << true << true
            << QList<std::optional<AuthenticationError>>{AuthenticationError::canceled()} << 1
            << true << QStringLiteral("Authentication was canceled.");
        QTest::newRow("too many attempts")
            << true << true
            << QList<std::optional<AuthenticationError>>{AuthenticationError::tooManyAttempts()}
            << 1 << true << QStringLiteral("Too many failed attempts.");
        QTest::newRow("system text")
            << true << true
            << QList<std::optional<AuthenticationError>>{AuthenticationError::system(
                   QStringLiteral("Module is unknown"))}
            << 1 << true << QStringLiteral("Module is unknown");
    }

    void appearing() {
        QFETCH(bool, required);
        QFETCH(bool, available);
        QFETCH(QList<std::optional<AuthenticationError>>, outcomes);
        QFETCH(int, prompts);
        QFETCH(bool, locked);
        QFETCH(QString, error);
        LockFixture fixture(required);
        fixture.authenticator->available = available;
        fixture.authenticator->outcomes = outcomes;
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        QCOMPARE(lock.isLocked(), required);

        lock.refreshOnAppear();
        QVERIFY(test::waitUntil([&] { return !lock.isAuthenticating(); }));
        QCOMPARE(fixture.authenticator->reasons.size(), prompts);
        if (prompts)
            QCOMPARE(fixture.authenticator->reasons.first(), QStringLiteral("Unlock your diary"));
        QCOMPARE(lock.isLocked(), locked);
        QCOMPARE(lock.authError().value_or(QString()), error);
    }

    void unlockAfterFailureTriesAgainAndClearsTheError() {
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::failed(), std::nullopt};
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        lock.refreshOnAppear();
        QVERIFY(test::waitUntil([&] { return lock.authError().has_value(); }));
        QCOMPARE(*lock.authError(), QStringLiteral("Authentication failed."));
        test::waitFor(lock.authenticate());
        QVERIFY(lock.isUnlocked());
        QVERIFY(!lock.authError());
    }

    void pressesWhileAskingAreIgnored() {
        LockFixture fixture(true);
        fixture.authenticator->hold = true;
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        lock.refreshOnAppear();
        QVERIFY(lock.isAuthenticating());
        lock.authenticate();
        lock.authenticate();
        fixture.authenticator->hold = false;
        QVERIFY(test::waitUntil([&] { return lock.isUnlocked(); }));
        QCOMPARE(fixture.authenticator->reasons.size(), 1);
    }

    void switchingTheLockOffOpensTheWay() {
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::canceled()};
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        lock.refreshOnAppear();
        QVERIFY(test::waitUntil([&] { return !lock.isAuthenticating(); }));
        QVERIFY(lock.isLocked());
        fixture.defaults->setBool(DiaryLockController::requireAuthenticationKey, false);
        lock.refreshAfterSettingsChange();
        QVERIFY(lock.isLocked()); // read on the next turn of the event loop
        QVERIFY(test::waitUntil([&] { return !lock.isLocked(); }));
        QCOMPARE(fixture.authenticator->reasons.size(), 1);
    }

    void switchingTheLockOnLeavesAnOpenDiaryOpen() {
        LockFixture fixture(false);
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        lock.refreshOnAppear();
        fixture.defaults->setBool(DiaryLockController::requireAuthenticationKey, true);
        lock.refreshAfterSettingsChange();
        QVERIFY(test::waitUntil([&] { return lock.requireAuthentication(); }));
        QVERIFY(!lock.isLocked());
        QVERIFY(fixture.authenticator->reasons.isEmpty());
        // The next window starts locked.
        DiaryLockController next(fixture.defaults, fixture.authenticator);
        QVERIFY(next.isLocked());
    }

    void menusOfferNoWayAroundTheLock() {
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::canceled(), std::nullopt};
        DiaryCommandRouter router;
        QStringList calls;
        VelmoraMenuCommands menus(router, {{},
                                           [&] { calls << QStringLiteral("export"); },
                                           [&] { calls << QStringLiteral("import"); },
                                           [&] { calls << QStringLiteral("preferences"); },
                                           {},
                                           {}});
        QMenuBar bar;
        menus.populate(bar);
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        followLock(menus, lock);
        const QStringList guarded{QStringLiteral("Export…"), QStringLiteral("Import…"),
                                  QStringLiteral("Preferences…")};
        for (const QString &item : guarded) {
            QVERIFY2(menus.action(item), qPrintable(item));
            QVERIFY2(!menus.action(item)->isEnabled(), qPrintable(item));
            menus.action(item)->trigger();
        }
        QVERIFY(calls.isEmpty());
        QVERIFY(menus.action(QStringLiteral("Keyboard Shortcuts"))->isEnabled());

        lock.refreshOnAppear();
        QVERIFY(test::waitUntil([&] { return !lock.isAuthenticating(); }));
        QVERIFY(!menus.action(QStringLiteral("Preferences…"))->isEnabled());
        test::waitFor(lock.authenticate());
        for (const QString &item : guarded)
            QVERIFY2(menus.action(item)->isEnabled(), qPrintable(item));
    }

    void rootViewContent_data() {
        QTest::addColumn<QString>("runtimeError");
        QTest::addColumn<QString>("persistenceError");
        QTest::addColumn<bool>("required");
        QTest::addColumn<QString>("shown");
        QTest::newRow("configuration error")
            << QStringLiteral("bad launch") << QStringLiteral("store broke") << true
            << QStringLiteral("card:bad launch");
        QTest::newRow("store error") << QString() << QStringLiteral("store broke") << true
                                     << QStringLiteral("card:store broke");
        QTest::newRow("locked") << QString() << QString() << true << QStringLiteral("lock");
        QTest::newRow("no lock") << QString() << QString() << false << QStringLiteral("stage");
    }

    void rootViewContent() {
        QFETCH(QString, runtimeError);
        QFETCH(QString, persistenceError);
        QFETCH(bool, required);
        QFETCH(QString, shown);
        LockFixture fixture(required);
        fixture.authenticator->outcomes = {AuthenticationError::canceled()};
        auto settings = std::make_shared<UserDefaultsSettingsStore>(fixture.defaults,
                                                                    QStringLiteral("Georgia"));
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        if (!runtimeError.isEmpty())
            launch.runtimeError = runtimeError;
        if (!persistenceError.isEmpty())
            launch.persistenceError = persistenceError;
        launch.settingsStore = settings;
        launch.authenticator = fixture.authenticator;
        VuzIvoduRootView view(launch, router);
        view.show();
        QVERIFY(test::waitUntil([&] { return !view.lock() || !view.lock()->isAuthenticating(); }));
        const QString content = view.loadFailureMessage()
                                    ? QStringLiteral("card:") + *view.loadFailureMessage()
                                : view.showsLockCard() ? QStringLiteral("lock")
                                : view.showsBook()     ? QStringLiteral("stage")
                                                       : QString();
        QCOMPARE(content, shown);
    }

    void newEntryWaitsForTheLock() {
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::canceled(), std::nullopt};
        auto settings = std::make_shared<UserDefaultsSettingsStore>(fixture.defaults,
                                                                    QStringLiteral("Georgia"));
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        launch.settingsStore = settings;
        launch.authenticator = fixture.authenticator;
        VuzIvoduRootView view(launch, router);
        view.show();
        QVERIFY(test::waitUntil([&] { return view.lockCard()->error().size() > 0; }));
        router.send(DiaryCommand::newEntry);
        QCOMPARE(view.stage()->transition().phase(), DiaryCoverTransition::Phase::closed);

        // The card's button asks again; once passed, the stage shows and New Entry opens it.
        view.lockCard()->unlockButton()->click();
        QVERIFY(test::waitUntil([&] { return view.showsBook(); }));
        QVERIFY(view.lockCard()->error().isEmpty());
        router.send(DiaryCommand::newEntry);
        QCOMPARE(view.stage()->transition().phase(), DiaryCoverTransition::Phase::opening);

        // Switching the lock on while the book is shown keeps it shown.
        Q_EMIT settings->objectWillChange();
        QTest::qWait(10);
        QVERIFY(view.showsBook());
    }
};

VELMORA_GUI_TEST_MAIN(LockTests)
#include "tst_lock.moc"
