#include "app/DiaryBookStage.h"
#include "app/DiaryLockCard.h"
#include "app/DiaryLockController.h"
#include "app/VuzIvoduRootView.h"
#include "book/MacClosedCover.h"
#include "book/theme/DiaryTheme.h"
#include "domain/UserDefaultsSettingsStore.h"

#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QPainter>
#include <QTemporaryDir>

using namespace velmora;
using namespace velmora::test;

namespace {

// A stand-in for the open book: ruled paper, so that the reveal shows.
class PaperBook : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), diaryPaperColor());
        painter.setPen(diaryRuledLineColor());
        for (int y = 80; y < height(); y += 28)
            painter.drawLine(40, y, width() - 40, y);
    }
};

class RefusingAuthenticator : public SystemAuthenticator {
public:
    explicit RefusingAuthenticator(AuthenticationError refusal = AuthenticationError::canceled())
        : m_refusal(std::move(refusal)) {}
    bool canAuthenticate() const override { return true; }
    QCoro::Task<void> authenticate(QString) override {
        throw m_refusal;
        co_return;
    }

private:
    AuthenticationError m_refusal;
};

struct Settings {
    QTemporaryDir folder;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<UserDefaultsSettingsStore> store =
        std::make_shared<UserDefaultsSettingsStore>(defaults, QStringLiteral("Georgia"));
};

} // namespace

class CoverScreens : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cover_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("launchedBefore");
        QTest::newRow("first-launch") << QString() << false;
        QTest::newRow("named") << QStringLiteral("  ada lovelace ") << true;
    }

    void cover() {
        QFETCH(QString, name);
        QFETCH(bool, launchedBefore);
        Settings settings;
        settings.store->setUserName(name);
        settings.defaults->setBool(UserDefaultsSettingsStore::hasLaunchedBeforeSetting.key,
                                   launchedBefore);
        DiaryBookStage stage(settings.store, {});
        stage.resize(780, 1024);
        stage.show();
        QCOMPARE(stage.cover()->userName(), name);
        QCOMPARE(stage.cover()->showsPrivacyNote(), !launchedBefore);
        const QImage image = grabWidget(&stage, 1.0);
        QVERIFY(saveScreenshot(image, QStringLiteral("cover-") + QTest::currentDataTag()));
    }

    void midSwing() {
        Settings settings;
        settings.store->setUserName(QStringLiteral("Ada Lovelace"));
        double now = 0;
        DiaryBookStage stage(
            settings.store, [](QWidget *parent) { return new PaperBook(parent); }, nullptr,
            [&] { return now; });
        stage.resize(700, 860);
        stage.show();
        QVERIFY(QTest::qWaitForWindowExposed(&stage));
        stage.openDiary();
        QVERIFY(
            settings.defaults->boolValue(UserDefaultsSettingsStore::hasLaunchedBeforeSetting.key));
        // About a third of the way: the pages half shown, the cover turned some forty degrees.
        now = 0.22;
        stage.transition().step();
        QVERIFY(stage.transition().progress() > 0.25 && stage.transition().progress() < 0.6);
        QVERIFY(!stage.cover()->isVisible());
        const QImage image = grabWidget(&stage, 1.0);
        QVERIFY(saveScreenshot(image, QStringLiteral("cover-mid-swing")));
        now = 5;
        stage.transition().step();
        QVERIFY(stage.bookView()->isVisible());
    }

    void lockCard_data() {
        QTest::addColumn<bool>("wrongPassword");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("cancelled") << false << QStringLiteral("Authentication was canceled.")
                                   << QStringLiteral("cover-lock-card");
        QTest::newRow("waiting after wrong passwords")
            << true << QStringLiteral("Authentication failed.")
            << QStringLiteral("cover-lock-card-wait");
    }

    void lockCard() {
        QFETCH(bool, wrongPassword);
        QFETCH(QString, error);
        QFETCH(QString, screenshot);
        Settings settings;
        settings.defaults->setBool(UserDefaultsSettingsStore::requireAuthenticationSetting.key,
                                   true);
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        launch.settingsStore = settings.store;
        launch.authenticator = std::make_shared<RefusingAuthenticator>(
            wrongPassword ? AuthenticationError::failed() : AuthenticationError::canceled());
        launch.lockRetryDelays = {0, std::chrono::minutes(1), std::chrono::minutes(1)};
        VuzIvoduRootView view(launch, router);
        view.resize(780, 1024);
        view.show();
        QVERIFY(waitUntil([&] { return !view.lockCard()->error().isEmpty(); }));
        QVERIFY(view.showsLockCard());
        QCOMPARE(view.lockCard()->error(), error);
        QCOMPARE(view.lockCard()->retryText().isEmpty(), !wrongPassword);
        QVERIFY(saveScreenshot(grabWidget(&view, 1.0), screenshot));
    }

    void loadFailureCard() {
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        launch.persistenceError =
            QStringLiteral("The diary store could not be opened: file is not a database");
        VuzIvoduRootView view(launch, router);
        view.setRestoreAction([](std::function<void(QString)> done) {
            done(QStringLiteral("Restored 12 entries. Reopen the diary to continue."));
        });
        view.resize(780, 1024);
        view.show();
        view.findChild<QWidget *>(QStringLiteral("restoreFromBackup"))
            ->metaObject()
            ->invokeMethod(view.findChild<QWidget *>(QStringLiteral("restoreFromBackup")), "click");
        QVERIFY(!view.recoveryMessage().isEmpty());
        QVERIFY(saveScreenshot(grabWidget(&view, 1.0), QStringLiteral("cover-load-failure")));
    }
};

VELMORA_GUI_TEST_MAIN(CoverScreens)
#include "tst_screens_cover.moc"
