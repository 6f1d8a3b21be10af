#include "app/DiaryBookStage.h"
#include "app/DiaryLockCard.h"
#include "app/DiaryLockController.h"
#include "app/VelmoraMenuCommands.h"
#include "app/VuzIvoduRootView.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/AsyncSleep.h"
#include "support/GuiTestMain.h"
#include "support/TestClock.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
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
        defaults->setBool(UserDefaultsSettingsStore::requireAuthenticationSetting.key,
                          requireAuthentication);
    }

    // The root view's launch over these settings and this authenticator.
    VuzIvoduRootView::LaunchState launch() const {
        VuzIvoduRootView::LaunchState state;
        state.settingsStore =
            std::make_shared<UserDefaultsSettingsStore>(defaults, QStringLiteral("Georgia"));
        state.authenticator = authenticator;
        return state;
    }
};

// Everything an accessibility client finds under an element: the names of the elements it can
// act on, and every text it can read.
struct Reachable {
    QStringList actionable;
    QStringList texts;
};

void walk(QAccessibleInterface *node, Reachable &found, int depth = 0) {
    if (!node || !node->isValid() || depth > 64)
        return;
    for (const QAccessible::Text kind :
         {QAccessible::Name, QAccessible::Value, QAccessible::Description})
        if (!node->text(kind).isEmpty())
            found.texts << node->text(kind);
    if (const QAccessibleTextInterface *text = node->textInterface())
        found.texts << text->text(0, text->characterCount());
    if (const QAccessibleActionInterface *actions = node->actionInterface()) {
        QStringList names = actions->actionNames();
        names.removeAll(QAccessibleActionInterface::setFocusAction());
        if (!names.isEmpty())
            found.actionable << node->text(QAccessible::Name);
    }
    for (int index = 0; index < node->childCount(); ++index)
        walk(node->child(index), found, depth + 1);
}

Reachable reachable(QAccessibleInterface *root) {
    Reachable found;
    walk(root, found);
    return found;
}

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
        QTest::newRow("system authentication unavailable: stays locked")
            << true << true
            << QList<std::optional<AuthenticationError>>{AuthenticationError::unavailable()} << 1
            << true << QStringLiteral("System authentication is unavailable.");
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
        fixture.defaults->setBool(UserDefaultsSettingsStore::requireAuthenticationSetting.key,
                                  false);
        lock.refreshAfterSettingsChange();
        QVERIFY(lock.isLocked()); // read on the next turn of the event loop
        QVERIFY(test::waitUntil([&] { return !lock.isLocked(); }));
        QCOMPARE(fixture.authenticator->reasons.size(), 1);
    }

    void switchingTheLockOnLeavesAnOpenDiaryOpen() {
        LockFixture fixture(false);
        DiaryLockController lock(fixture.defaults, fixture.authenticator);
        lock.refreshOnAppear();
        fixture.defaults->setBool(UserDefaultsSettingsStore::requireAuthenticationSetting.key,
                                  true);
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

    // The lock comes first, whatever the store's state; nothing behind it is built until it is
    // passed.
    void rootViewContent_data() {
        QTest::addColumn<QString>("runtimeError");
        QTest::addColumn<QString>("persistenceError");
        QTest::addColumn<bool>("required");
        QTest::addColumn<bool>("passes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("configuration error")
            << QStringLiteral("bad launch") << QStringLiteral("store broke") << false << false
            << QStringLiteral("card:bad launch");
        QTest::newRow("store error, lock on") << QString() << QStringLiteral("store broke") << true
                                              << false << QStringLiteral("lock");
        QTest::newRow("store error, lock passed")
            << QString() << QStringLiteral("store broke") << true << true
            << QStringLiteral("card:store broke");
        QTest::newRow("store error, no lock") << QString() << QStringLiteral("store broke") << false
                                              << false << QStringLiteral("card:store broke");
        QTest::newRow("locked") << QString() << QString() << true << false
                                << QStringLiteral("lock");
        QTest::newRow("lock passed")
            << QString() << QString() << true << true << QStringLiteral("stage");
        QTest::newRow("no lock") << QString() << QString() << false << false
                                 << QStringLiteral("stage");
    }

    void rootViewContent() {
        QFETCH(QString, runtimeError);
        QFETCH(QString, persistenceError);
        QFETCH(bool, required);
        QFETCH(bool, passes);
        QFETCH(QString, shown);
        LockFixture fixture(required);
        fixture.authenticator->outcomes = {passes ? std::nullopt
                                                  : std::optional(AuthenticationError::canceled())};
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
        QVERIFY(test::waitUntil([&] { return !view.lock()->isAuthenticating(); }));
        const QString content = view.showsLockCard() ? QStringLiteral("lock")
                                : view.loadFailureMessage()
                                    ? QStringLiteral("card:") + *view.loadFailureMessage()
                                : view.showsBook() ? QStringLiteral("stage")
                                                   : QString();
        QCOMPARE(content, shown);
        QCOMPARE(view.stage() != nullptr, shown == QStringLiteral("stage"));
        QCOMPARE(view.findChild<QPushButton *>(QStringLiteral("restoreFromBackup")) != nullptr,
                 shown.startsWith(QStringLiteral("card:")));
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
        view.openDiary();
        QVERIFY(!view.stage());

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

    // The keys that press Unlock on the card, from its focused button, as a person presses
    // them after a failure.
    void keysOnTheCard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("prompts");
        QTest::newRow("Return") << int(Qt::Key_Return) << 2;
        QTest::newRow("Enter") << int(Qt::Key_Enter) << 2;
        QTest::newRow("Space") << int(Qt::Key_Space) << 2;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << 1;
    }

    void keysOnTheCard() {
        QFETCH(int, key);
        QFETCH(int, prompts);
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::canceled(),
                                           AuthenticationError::canceled()};
        DiaryCommandRouter router;
        VuzIvoduRootView view(fixture.launch(), router);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QVERIFY(test::waitUntil([&] { return !view.lockCard()->error().isEmpty(); }));
        QCOMPARE(QApplication::focusWidget(), view.lockCard()->unlockButton());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        // The button shows itself pressed for a moment before it acts.
        test::waitUntil([&] {
            return fixture.authenticator->reasons.size() == prompts &&
                   !view.lock()->isAuthenticating();
        });
        QTest::qWait(200);
        QCOMPARE(fixture.authenticator->reasons.size(), prompts);
    }

    // Return or Enter in the password field answers the question, at the first try and at every
    // one after it.
    void promptAnswersEachTry_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
    }

    void promptAnswersEachTry() {
        QFETCH(int, key);
        DiaryPasswordDialog prompt;
        QStringList answers;
        for (const QString &password : {QStringLiteral("first"), QStringLiteral("second")}) {
            prompt.begin(QStringLiteral("Unlock your diary"));
            prompt.ask(QStringLiteral("Password: "), false, [&](std::optional<QString> answer) {
                answers << answer.value_or(QStringLiteral("(cancelled)"));
            });
            prompt.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&prompt));
            QVERIFY(test::waitUntil([&] { return prompt.field()->hasFocus(); }));
            QTest::keyClicks(prompt.field(), password);
            QTest::keyClick(prompt.field(), Qt::Key(key));
            prompt.finish();
        }
        QCOMPARE(answers, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    }

    // PAM can outlast the prompt: a quit takes the book window, and the prompt with it, while a
    // transaction still runs. What it says then reaches nobody, and a question is cancelled.
    void promptOutlivedByItsConversation() {
        auto *prompt = new DiaryPasswordDialog;
        const std::shared_ptr<AuthenticationConversation> conversation = prompt->conversation();
        conversation->begin(QStringLiteral("Unlock your diary"));
        QStringList answers;
        const auto record = [&](std::optional<QString> answer) {
            answers << answer.value_or(QStringLiteral("(cancelled)"));
        };
        conversation->ask(QStringLiteral("Password: "), false, record);
        delete prompt;
        conversation->tell(QStringLiteral("Authentication failure"), true);
        conversation->ask(QStringLiteral("Password: "), false, record);
        conversation->finish();
        QCOMPARE(answers,
                 (QStringList{QStringLiteral("(cancelled)"), QStringLiteral("(cancelled)")}));
    }

    // Where the password prompt stands: under the card's heading, across the window's middle.
    void promptPlacement_data() {
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QRect>("heading");
        QTest::addColumn<QPoint>("origin");
        const QRect book(335, 0, 609, 800);
        QTest::newRow("room below") << book << QRect(532, 297, 216, 151) << QPoint(490, 464);
        QTest::newRow("room only above") << book << QRect(532, 600, 216, 150) << QPoint(490, 434);
        QTest::newRow("no room: as low as the screen allows")
            << book << QRect(532, 100, 216, 650) << QPoint(490, 650);
        QTest::newRow("window half off the screen")
            << QRect(-200, 0, 609, 800) << QRect(0, 297, 216, 151) << QPoint(0, 464);
    }

    void promptPlacement() {
        QFETCH(QRect, owner);
        QFETCH(QRect, heading);
        QFETCH(QPoint, origin);
        QCOMPARE(
            DiaryPasswordDialog::origin(QRect(0, 0, 1280, 800), owner, heading, QSize(300, 150)),
            origin);
    }

    // Two free tries, then 2 s doubling to 30 s.
    void retryDelays_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("seconds");
        const QList<std::pair<int, int>> table{{0, 0}, {1, 0},  {2, 0},  {3, 2},  {4, 4},
                                               {5, 8}, {6, 16}, {7, 30}, {8, 30}, {1000, 30}};
        for (const auto &[failures, seconds] : table)
            QTest::addRow("%d failures", failures) << failures << seconds;
    }

    void retryDelays() {
        QFETCH(int, failures);
        QFETCH(int, seconds);
        QCOMPARE(DiaryLockRetryDelays{}.after(failures), std::chrono::milliseconds(seconds * 1000));
    }

    void wrongAnswersWaitLongerEachTime() {
        LockFixture fixture(true);
        const AuthenticationError wrong = AuthenticationError::failed();
        fixture.authenticator->outcomes = {
            wrong, wrong, wrong, wrong, AuthenticationError::canceled(), wrong, std::nullopt};
        DiaryLockController lock(fixture.defaults, fixture.authenticator, nullptr,
                                 {2, std::chrono::milliseconds(40), std::chrono::milliseconds(60)});
        const auto tryOnce = [&] {
            QVERIFY(test::waitUntil([&] { return !lock.isWaitingToRetry(); }));
            test::waitFor(lock.authenticate());
        };
        tryOnce();
        tryOnce();
        QVERIFY(!lock.isWaitingToRetry());
        tryOnce();
        QVERIFY(lock.isWaitingToRetry());
        QCOMPARE(lock.retryText(), QStringLiteral("Try again in 1 second."));
        // While it waits, Unlock and the window coming back ask nothing.
        test::waitFor(lock.authenticate());
        lock.refreshOnAppear();
        QCOMPARE(fixture.authenticator->reasons.size(), 3);
        QCOMPARE(lock.authError(), std::optional(QStringLiteral("Authentication failed.")));

        tryOnce();
        QVERIFY(lock.isWaitingToRetry());
        QCOMPARE(lock.failureCount(), 4);
        // A cancel is no guess: it neither counts nor waits.
        tryOnce();
        QVERIFY(!lock.isWaitingToRetry());
        QCOMPARE(lock.failureCount(), 4);
        tryOnce();
        QVERIFY(lock.isWaitingToRetry());
        tryOnce();
        QVERIFY(lock.isUnlocked());
        QCOMPARE(lock.failureCount(), 0);
        QVERIFY(lock.retryText().isEmpty());
    }

    // What a restart finds of the wrong answers kept before it, waits of 20 s doubling to 60 s:
    // the wait goes on, bounded whatever the settings file says.
    void waitAfterARestart_data() {
        QTest::addColumn<QVariant>("count");
        // Seconds before now (after it, when negative), or text; none when invalid.
        QTest::addColumn<QVariant>("lastFailure");
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("wait");
        QTest::newRow("nothing kept") << QVariant() << QVariant() << 0 << 0;
        QTest::newRow("a free wrong answer") << QVariant(2) << QVariant(1) << 2 << 0;
        QTest::newRow("third wrong answer 5 s ago") << QVariant(3) << QVariant(5) << 3 << 15;
        QTest::newRow("third wrong answer a minute ago") << QVariant(3) << QVariant(60) << 3 << 0;
        QTest::newRow("clock set back a day") << QVariant(4) << QVariant(-86400) << 4 << 40;
        QTest::newRow("no time kept") << QVariant(4) << QVariant() << 4 << 40;
        QTest::newRow("time unreadable")
            << QVariant(4) << QVariant(QStringLiteral("yesterday")) << 4 << 40;
        QTest::newRow("absurd count")
            << QVariant(QStringLiteral("2147483647")) << QVariant(1) << 1000 << 60;
        QTest::newRow("negative count") << QVariant(-5) << QVariant(1) << 0 << 0;
        QTest::newRow("count unreadable")
            << QVariant(QStringLiteral("many")) << QVariant(1) << 0 << 0;
    }

    void waitAfterARestart() {
        QFETCH(QVariant, count);
        QFETCH(QVariant, lastFailure);
        QFETCH(int, failures);
        QFETCH(int, wait);
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::canceled()};
        const QDateTime now(QDate(2024, 3, 15), QTime(9, 0), Qt::UTC);
        if (count.isValid())
            fixture.defaults->setObject(UserDefaultsSettingsStore::lockFailureCountSetting.key,
                                        count);
        const QString lastKey = UserDefaultsSettingsStore::lockLastFailureSetting.key;
        if (lastFailure.typeId() == QMetaType::Int)
            fixture.defaults->setDate(lastKey, now.addSecs(-lastFailure.toInt()));
        else if (lastFailure.isValid())
            fixture.defaults->setString(lastKey, lastFailure.toString());
        DiaryLockController lock(fixture.defaults, fixture.authenticator, nullptr,
                                 {2, std::chrono::seconds(20), std::chrono::seconds(60)},
                                 std::make_shared<test::TestClock>(now));
        QCOMPARE(lock.failureCount(), failures);
        QCOMPARE(lock.isWaitingToRetry(), wait > 0);
        if (wait > 0)
            QVERIFY2(lock.retrySecondsLeft() <= wait && lock.retrySecondsLeft() > wait - 10,
                     qPrintable(lock.retryText()));
        // Appearing asks at once only when no wait is left.
        lock.refreshOnAppear();
        QVERIFY(test::waitUntil([&] { return !lock.isAuthenticating(); }));
        QCOMPARE(fixture.authenticator->reasons.size(), wait > 0 ? 0 : 1);
    }

    // Restarting gives no free guesses: the count goes on where it was, and only a success
    // clears what is kept.
    void wrongAnswersOutlastARestart() {
        LockFixture fixture(true);
        auto clock =
            std::make_shared<test::TestClock>(QDateTime(QDate(2024, 3, 15), QTime(9, 0), Qt::UTC));
        const DiaryLockRetryDelays delays{2, std::chrono::seconds(20), std::chrono::seconds(60)};
        const auto restarted = [&] {
            return std::make_unique<DiaryLockController>(fixture.defaults, fixture.authenticator,
                                                         nullptr, delays, clock);
        };
        const AuthenticationError wrong = AuthenticationError::failed();
        fixture.authenticator->outcomes = {wrong, wrong, wrong, wrong, std::nullopt};
        auto lock = restarted();
        for (int attempt = 0; attempt < 3; ++attempt)
            test::waitFor(lock->authenticate());
        QVERIFY(lock->isWaitingToRetry());

        lock = restarted();
        QCOMPARE(lock->failureCount(), 3);
        QVERIFY(lock->isWaitingToRetry());
        lock->refreshOnAppear();
        QCOMPARE(fixture.authenticator->reasons.size(), 3);

        clock->advance(std::chrono::seconds(25));
        lock = restarted();
        QVERIFY(!lock->isWaitingToRetry());
        test::waitFor(lock->authenticate());
        QCOMPARE(lock->failureCount(), 4);
        QVERIFY(lock->isWaitingToRetry());
        QVERIFY(restarted()->retrySecondsLeft() > 30);

        clock->advance(std::chrono::seconds(45));
        lock = restarted();
        test::waitFor(lock->authenticate());
        QVERIFY(lock->isUnlocked());
        for (const QString &key : {UserDefaultsSettingsStore::lockFailureCountSetting.key,
                                   UserDefaultsSettingsStore::lockLastFailureSetting.key})
            QVERIFY2(!fixture.defaults->contains(key), qPrintable(key));
        QCOMPARE(restarted()->failureCount(), 0);
    }

    void theCardShowsTheWait() {
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::failed(),
                                           AuthenticationError::failed()};
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch = fixture.launch();
        launch.lockRetryDelays = {1, std::chrono::milliseconds(50), std::chrono::milliseconds(50)};
        VuzIvoduRootView view(launch, router);
        // The card as it stands once each failure has been shown.
        QStringList cards;
        connect(view.lock(), &DiaryLockController::changed, &view, [&] {
            if (view.lock()->isAuthenticating())
                return;
            DiaryLockCard *card = view.lockCard();
            const QString shown =
                QStringLiteral("%1|%2|%3")
                    .arg(card->error(), card->retryText(),
                         card->unlockButton()->isEnabled() ? QStringLiteral("on")
                                                           : QStringLiteral("off"));
            if (!card->error().isEmpty() && (cards.isEmpty() || cards.last() != shown))
                cards << shown;
        });
        view.show();
        QVERIFY(test::waitUntil([&] { return view.lock()->failureCount() == 1; }));
        view.lockCard()->unlockButton()->click();
        QVERIFY(test::waitUntil([&] { return view.lockCard()->unlockButton()->isEnabled(); }));
        QVERIFY(view.lockCard()->retryText().isEmpty());
        QCOMPARE(cards,
                 (QStringList{QStringLiteral("Authentication failed.||on"),
                              QStringLiteral("Authentication failed.|Try again in 1 second.|off"),
                              QStringLiteral("Authentication failed.||on")}));
    }

    // What an assistive program in the session can reach of the locked window, through the
    // accessibility tree: the Unlock button and the card's own words, nothing of the book.
    void nothingOfTheBookBehindTheLock_data() {
        QTest::addColumn<QString>("storeError");
        QTest::addColumn<QString>("behind");
        QTest::newRow("the book") << QString() << QStringLiteral("Open Diary");
        QTest::newRow("the load-failure card")
            << QStringLiteral("The diary store could not be opened: disk I/O error")
            << QStringLiteral("Restore from Backup");
    }

    void nothingOfTheBookBehindTheLock() {
        QFETCH(QString, storeError);
        QFETCH(QString, behind);
        LockFixture fixture(true);
        fixture.authenticator->outcomes = {AuthenticationError::canceled(), std::nullopt};
        auto settings = std::make_shared<UserDefaultsSettingsStore>(fixture.defaults,
                                                                    QStringLiteral("Georgia"));
        settings->setUserName(QStringLiteral("Ada Lovelace"));
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        if (!storeError.isEmpty())
            launch.persistenceError = storeError;
        launch.settingsStore = settings;
        launch.authenticator = fixture.authenticator;
        int booksMade = 0;
        VuzIvoduRootView view(launch, router, [&](QWidget *parent) {
            ++booksMade;
            auto *page = new QPlainTextEdit(QStringLiteral("Dear diary, a secret"), parent);
            return page;
        });
        view.resize(780, 1024);
        view.show();
        QVERIFY(test::waitUntil([&] { return !view.lockCard()->error().isEmpty(); }));

        const Reachable locked = reachable(QAccessible::queryAccessibleInterface(&view));
        QCOMPARE(locked.actionable, QStringList{QStringLiteral("Unlock")});
        for (const QString &text :
             {behind, QStringLiteral("Ada Lovelace"), QStringLiteral("Welcome,"),
              QStringLiteral("secret"), QStringLiteral("store could not be opened")})
            QVERIFY2(!locked.texts.join(QLatin1Char('|')).contains(text), qPrintable(text));
        view.openDiary();
        router.send(DiaryCommand::newEntry);
        QCOMPARE(booksMade, 0);

        // Passed, the same walk finds what lay behind.
        view.lockCard()->unlockButton()->click();
        QVERIFY(test::waitUntil([&] { return !view.isLocked(); }));
        const Reachable unlocked = reachable(QAccessible::queryAccessibleInterface(&view));
        QVERIFY2(unlocked.actionable.contains(behind),
                 qPrintable(unlocked.actionable.join(QLatin1Char('|'))));
    }
};

VELMORA_GUI_TEST_MAIN(LockTests)
#include "tst_lock.moc"
