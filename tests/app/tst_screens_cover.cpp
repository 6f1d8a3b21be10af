#include "app/DiaryBookStage.h"
#include "app/DiaryBookWindow.h"
#include "app/DiaryLockCard.h"
#include "app/DiaryLockController.h"
#include "app/VuzIvoduRootView.h"
#include "book/MacClosedCover.h"
#include "book/theme/DiaryTheme.h"
#include "domain/UserDefaultsSettingsStore.h"

#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>

#include <cmath>

using namespace velmora;
using namespace velmora::test;

Q_DECLARE_METATYPE(velmora::AuthenticationError)

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

double relativeLuminance(const QColor &colour) {
    const auto channel = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// Text as it was drawn: the colour most of an area shows (what lies behind the text), and the
// pixel that stands out from it most (the heart of a glyph).
struct InkOnGround {
    QColor ink;
    QColor ground;

    double contrast() const {
        const double a = relativeLuminance(ink);
        const double b = relativeLuminance(ground);
        return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
    }
};

InkOnGround inkOnGround(const QImage &image, const QRect &area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    InkOnGround seen;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            seen.ground = QColor(it.key());
        }
    double farthest = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const InkOnGround candidate{QColor(it.key()), seen.ground};
        if (candidate.contrast() > farthest) {
            farthest = candidate.contrast();
            seen.ink = candidate.ink;
        }
    }
    return seen;
}

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
        QTest::addColumn<AuthenticationError>("refusal");
        QTest::addColumn<QString>("appearance");
        QTest::addColumn<QString>("screenshot");
        const QString longText = QStringLiteral(
            "Authentication service cannot retrieve authentication info: the directory server "
            "did not answer in time");
        for (const QString &appearance : {QStringLiteral("light"), QStringLiteral("dark")}) {
            const QString suffix =
                appearance == QStringLiteral("dark") ? QStringLiteral("-dark") : QString();
            QTest::addRow("cancelled, %s", qPrintable(appearance))
                << AuthenticationError::canceled() << appearance
                << QStringLiteral("cover-lock-card") + suffix;
            QTest::addRow("waiting after wrong passwords, %s", qPrintable(appearance))
                << AuthenticationError::failed() << appearance
                << QStringLiteral("cover-lock-card-wait") + suffix;
            QTest::addRow("long system text, %s", qPrintable(appearance))
                << AuthenticationError::system(longText) << appearance
                << QStringLiteral("cover-lock-card-long") + suffix;
        }
    }

    // The failure under the subtitle reads on the leather: red, at least 4.5:1 against what lies
    // behind it, and every word of it shown however many lines it takes.
    void lockCard() {
        QFETCH(AuthenticationError, refusal);
        QFETCH(QString, appearance);
        QFETCH(QString, screenshot);
        Settings settings;
        settings.defaults->setBool(UserDefaultsSettingsStore::requireAuthenticationSetting.key,
                                   true);
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        launch.settingsStore = settings.store;
        launch.authenticator = std::make_shared<RefusingAuthenticator>(refusal);
        launch.lockRetryDelays = {0, std::chrono::minutes(1), std::chrono::minutes(1)};
        DiaryBookWindow window;
        window.applyAppearance(appearance, false);
        auto *view = new VuzIvoduRootView(launch, router);
        window.setCentralWidget(view);
        window.resize(780, 1024);
        window.show();
        QVERIFY(waitUntil([&] { return !view->lockCard()->error().isEmpty(); }));
        QVERIFY(view->showsLockCard());
        QCOMPARE(view->lockCard()->error(), refusal.message());
        const bool wrongPassword = refusal.kind() == AuthenticationError::Case::failed;
        QCOMPARE(view->lockCard()->retryText().isEmpty(), !wrongPassword);
        QCoreApplication::processEvents();

        auto *line = view->lockCard()->findChild<QLabel *>(QStringLiteral("authError"));
        QVERIFY(line);
        QVERIFY2(line->height() >= line->heightForWidth(line->width()),
                 qPrintable(QStringLiteral("%1 high, the text needs %2")
                                .arg(line->height())
                                .arg(line->heightForWidth(line->width()))));
        const QImage image = grabWidget(view, 2.0);
        const QRect area(line->mapTo(view, QPoint(0, 0)) * 2, line->size() * 2);
        const InkOnGround seen = inkOnGround(image, area);
        QVERIFY2(seen.ink.red() > 1.4 * seen.ink.green() && seen.ink.red() > 1.4 * seen.ink.blue(),
                 qPrintable(seen.ink.name()));
        QVERIFY2(seen.contrast() >= 4.5, qPrintable(QStringLiteral("%1 on %2: %3:1")
                                                        .arg(seen.ink.name(), seen.ground.name())
                                                        .arg(seen.contrast())));
        QVERIFY(saveScreenshot(grabWidget(&window, 1.0), screenshot));
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
