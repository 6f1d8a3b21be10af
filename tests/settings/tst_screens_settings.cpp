#include "domain/UserDefaultsSettingsStore.h"
#include "settings/MacSettingsKit.h"
#include "settings/MacSettingsView.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"
#include "support/TestClock.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

using namespace velmora;

class ScreensSettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void settingsWindow() {
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        auto clock =
            std::make_shared<test::TestClock>(QDateTime(QDate(2024, 3, 15), QTime(9, 30), Qt::UTC));
        UserDefaultsSettingsStore store(defaults, QStringLiteral("Georgia"), clock);
        store.setUserName(QStringLiteral("Ada Lovelace"));
        defaults->setDouble(QStringLiteral("defaultFontSize"), 30);
        defaults->setDouble(QStringLiteral("readingScale"), 1.15);
        defaults->setBool(QStringLiteral("reopensLastPage"), true);

        MacSettingsView view(store);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.size(), QSize(480, 620));
        QCOMPARE(view.sizeLabel()->text(), QStringLiteral("24"));
        QCOMPARE(view.readingSizeLabel()->text(), QStringLiteral("114%"));
        QCOMPARE(view.storageLabel()->text(), QStringLiteral("Stored only on this computer."));
        QCOMPARE(view.fontPicker()->count(), diaryFontNames().size());
        // Each name is shown in its own font.
        QCOMPARE(view.fontPicker()->itemData(12, Qt::FontRole).value<QFont>().family(),
                 resolveDiaryFont(QStringLiteral("Courier New"), 13).family());
        QVERIFY(view.reopensLastPageSwitch()->isChecked());
        QCOMPARE(defaults->doubleValue(QStringLiteral("defaultFontSize")), 24.0);
        QCoreApplication::processEvents();
        test::saveScreenshot(test::grabWidget(&view), QStringLiteral("settings-window"));

        // Each control writes at once.
        QTest::keyClicks(view.nameField(), QStringLiteral(" B"));
        QCOMPARE(store.userName(), QStringLiteral("Ada Lovelace B"));
        view.fontPicker()->setCurrentIndex(12);
        QCOMPARE(store.selectedFont(), QStringLiteral("Courier New"));
        view.sizeSlider()->setValue(18);
        QCOMPARE(store.defaultFontSize(), 18.0);
        view.readingSizeSlider()->setValue(4);
        QCOMPARE(store.readingScale(), 1.0);
        QCOMPARE(view.readingSizeLabel()->text(), QStringLiteral("100%"));
        view.requireAuthenticationSwitch()->click();
        QVERIFY(defaults->boolValue(QStringLiteral("requireAuthentication")));
        QCoreApplication::processEvents();
        test::saveScreenshot(test::grabWidget(&view), QStringLiteral("settings-window-edited"));

        view.doneButton()->click();
        QVERIFY(!view.isVisible());
        store.setDefaultFontSize(13);
        view.show();
        QCOMPARE(view.sizeLabel()->text(), QStringLiteral("13"));
    }

    void kit() {
        MacSettingsSection section(QStringLiteral("Reminder"));
        QCOMPARE(section.heading(), QStringLiteral("REMINDER"));
        MacSettingsTextField field(QStringLiteral("Your name"));
        QCOMPARE(field.accessibleName(), QStringLiteral("Your name"));

        QImage image(QSize(220, 40) * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(settingsTheme.paper());
        QPainter painter(&image);
        const MacSettingsButtonStyle secondary{false};
        const MacSettingsButtonStyle primary{true};
        const QSize size = secondary.sizeForLabel(QStringLiteral("Backup Now"));
        secondary.paint(painter, QRectF(QPointF(4, 4), size), QStringLiteral("Backup Now"), false,
                        settingsTheme);
        primary.paint(painter, QRectF(QPointF(110, 4), size), QStringLiteral("Restore"), false,
                      settingsTheme);
        painter.end();
        // The primary button is filled with leather; the secondary one leaves the paper.
        QCOMPARE(image.pixelColor(QPoint(114, 12) * 2).rgb(), settingsTheme.leather().rgb());
        QCOMPARE(image.pixelColor(QPoint(8, 12) * 2).rgb(), settingsTheme.paper().rgb());
        test::saveScreenshot(image, QStringLiteral("settings-buttons"));
    }
};

VELMORA_GUI_TEST_MAIN(ScreensSettingsTest)
#include "tst_screens_settings.moc"
