#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "daily/DiaryReminderCenter.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "settings/MacDataSettingsSection.h"
#include "settings/MacICloudSettingsSection.h"
#include "settings/MacReminderSettingsSection.h"
#include "settings/MacSettingsKit.h"
#include "settings/MacSettingsView.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"
#include "support/ScriptedNotificationCenter.h"
#include "support/TemporaryDiaryStore.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QSlider>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimeEdit>
#include <QTimeZone>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>

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

    // Every name in the open font list is drawn whole, with the default font chosen or the
    // widest, in a list that draws its items as a menu does or as a list does; each tooltip
    // holds the name whole and names the installed font that stands in for one this system lacks.
    // The list opens to a click or to Alt+Down; Escape closes it alone, and the next the window.
    void fontList_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("byKeys");
        QTest::newRow("menu-like list, default font") << "Fusion"
                                                      << "Georgia" << false;
        QTest::newRow("menu-like list, widest font") << "Fusion"
                                                     << "American Typewriter" << true;
        QTest::newRow("plain list, default font") << "Windows"
                                                  << "Georgia" << false;
    }

    void fontList() {
        QFETCH(QString, style);
        QFETCH(QString, chosen);
        QFETCH(bool, byKeys);
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        UserDefaultsSettingsStore store(defaults, QStringLiteral("Georgia"));
        store.setSelectedFont(chosen);
        MacSettingsView view(store);
        std::unique_ptr<QStyle> listStyle(QStyleFactory::create(style));
        QVERIFY(listStyle);
        QComboBox *picker = view.fontPicker();
        picker->setStyle(listStyle.get());
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const auto whole = [](const QString &name, const QString &tip) {
            const QString family = resolveDiaryFont(name, 13).family();
            return tip.startsWith(name) && (family == name || tip.contains(family));
        };
        QVERIFY2(whole(picker->currentText(), picker->toolTip()), qPrintable(picker->toolTip()));
        const QString shot = style + '-' + QString(chosen).replace(' ', '-');
        QVERIFY(test::saveScreenshot(test::grabWidget(picker),
                                     QStringLiteral("settings-font-picker-") + shot));
        // Keys as the desktop delivers them: to the window that has the keyboard.
        QWindow *window = view.windowHandle();
        picker->setFocus();
        if (byKeys)
            QTest::keyClick(window, Qt::Key_Down, Qt::AltModifier);
        else
            QTest::mouseClick(window, Qt::LeftButton, {},
                              picker->mapTo(&view, picker->rect().center()));
        QAbstractItemView *list = picker->view();
        QVERIFY(QTest::qWaitForWindowExposed(list->window()));
        QCoreApplication::processEvents();
        for (int row = 0; row < picker->count(); ++row) {
            const QModelIndex index = picker->model()->index(row, 0);
            const QString name = index.data().toString();
            QCOMPARE(test::drawnText(list->viewport(), list->visualRect(index)), name);
            const QString tip = index.data(Qt::ToolTipRole).toString();
            QVERIFY2(whole(name, tip), qPrintable(tip));
        }
        QVERIFY(test::saveScreenshot(test::grabWidget(list->window()),
                                     QStringLiteral("settings-font-list-") + shot));
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
        QVERIFY(!list->window()->isVisible());
        QCOMPARE(view.isVisible(), true);
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
        QCOMPARE(view.isVisible(), false);
    }

    // The preview's rules lie under its lines of text, as the page's do, at every font and size:
    // no rule crosses a line, and each line has its rule right below it.
    void writingPreviewRules_data() {
        QTest::addColumn<QString>("font");
        QTest::addColumn<int>("size");
        for (const char *font : {"Georgia", "Courier New", "American Typewriter", "Garamond"})
            for (const int size : {12, 16, 24})
                QTest::addRow("%s %d", font, size) << QString::fromLatin1(font) << size;
    }

    void writingPreviewRules() {
        QFETCH(QString, font);
        QFETCH(int, size);
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        UserDefaultsSettingsStore store(defaults, QStringLiteral("Georgia"));
        store.setSelectedFont(font);
        store.setDefaultFontSize(size);
        MacSettingsView view(store);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();
        const QImage image = test::grabWidget(view.writingPreview(), 2.0);
        const QColor paper = settingsTheme().paper();
        // Rows across the text's width: glyph rows hold ink, rule rows are tinted from end to end.
        QList<int> glyphRows;
        QList<int> ruleRows;
        for (int y = 0; y < image.height(); ++y) {
            int tinted = 0;
            bool inked = false;
            const int left = 32;
            const int right = image.width() - 32;
            for (int x = left; x < right; ++x) {
                const QColor pixel = image.pixelColor(x, y);
                inked = inked || qGray(pixel.rgb()) < 150;
                tinted +=
                    std::abs(pixel.red() - paper.red()) + std::abs(pixel.blue() - paper.blue()) > 4;
            }
            if (inked)
                glyphRows << y;
            if (tinted > (right - left) * 9 / 10)
                ruleRows << y;
        }
        // Lines of text: runs of glyph rows.
        QList<std::pair<int, int>> lines;
        for (const int row : glyphRows) {
            if (lines.isEmpty() || row > lines.last().second + 1)
                lines.append({row, row});
            lines.last().second = row;
        }
        QVERIFY(!lines.isEmpty());
        QVERIFY2(ruleRows.size() >= 3, qPrintable(QString::number(ruleRows.size())));
        const int pitch = 2 * 40;
        QStringList rules;
        for (const int row : ruleRows)
            rules << QString::number(row);
        for (const auto &[top, bottom] : lines) {
            const QString where = QStringLiteral("line %1–%2, rules at %3")
                                      .arg(top)
                                      .arg(bottom)
                                      .arg(rules.join(QLatin1Char(' ')));
            for (const int rule : ruleRows)
                QVERIFY2(rule < top || rule >= bottom - 2, qPrintable(where));
            QVERIFY2(std::any_of(
                         ruleRows.cbegin(), ruleRows.cend(),
                         [&](int rule) { return rule >= bottom - 2 && rule < bottom + pitch / 3; }),
                     qPrintable(where));
        }
        QVERIFY(test::saveScreenshot(image, QStringLiteral("settings-writing-preview-") +
                                                QString::fromLatin1(QTest::currentDataTag())
                                                    .replace(QLatin1Char(' '), QLatin1Char('-'))));
    }

    // The reminder, sync and data sections, driven as a user would: a backup, a restore after
    // the question, sync switched on without a sync folder, notifications turned off.
    void sections() {
        const test::ScopedLocale locale(QStringLiteral("en_US"));
        const test::ScopedTimeZone zone("Europe/Paris");
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        auto clock =
            std::make_shared<test::TestClock>(QDateTime(QDate(2024, 3, 15), QTime(9, 30), Qt::UTC));
        UserDefaultsSettingsStore store(defaults, QStringLiteral("Georgia"), clock);
        test::TemporaryDiaryStore diary(clock);
        DiarySnapshotService snapshots(diary.repository, clock);
        DiaryRestoreCoordinator restore(diary.repository, clock);
        DiaryDataOperationGuard guard;
        defaults->setBool(UserDefaultsSettingsStore::syncEnabledSetting.key, false);
        DiaryCloudSync sync(DiaryCloudSync::Services{{}, {}, {}, {}, defaults},
                            folder.filePath(QStringLiteral("Sync/manifest.json")),
                            DiaryCloudSync::noSyncRoot(), false, std::chrono::seconds(60));
        auto notifications = std::make_shared<test::ScriptedNotificationCenter>();
        DiaryReminderCenter reminders(defaults, notifications, clock);

        MacDataSettingsServices data;
        data.snapshots = &snapshots;
        data.restore = &restore;
        data.guard = &guard;
        data.persistenceDirectory = folder.path();
        int importPanels = 0;
        data.chooseImportFile = [&importPanels] {
            ++importPanels;
            return std::optional<QString>();
        };
        int openedSettings = 0;
        MacSettingsView view(
            store,
            MacSettingsSections{
                &sync, &reminders,
                [&openedSettings] {
                    ++openedSettings;
                    return true;
                },
                data,
                MacSyncFolderServices{
                    std::make_shared<DiaryCloudSyncFolderChoice>(defaults), folder.path(), {}}});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QWidget *column = view.findChild<QScrollArea *>()->widget();
        MacDataSettingsSection *dataSection = view.dataSection();
        MacICloudSettingsSection *syncSection = view.syncSection();
        MacReminderSettingsSection *reminderSection = view.reminderSection();
        QVERIFY(test::waitUntil([&] { return !dataSection->spinner()->isVisible(); }));
        QCOMPARE(dataSection->statusLabel()->text(), QStringLiteral("No backups yet"));
        QVERIFY(!dataSection->restoreButton()->isVisible());
        QCOMPARE(syncSection->statusLabel()->text(),
                 QStringLiteral("Your pages stay only on this device."));
        QVERIFY(!syncSection->syncNowButton()->isVisible());
        QVERIFY(!reminderSection->timeRow()->isVisible());
        QVERIFY(!reminderSection->deniedLine()->isVisible());
        QCoreApplication::processEvents();
        test::saveScreenshot(test::grabWidget(column), QStringLiteral("settings-sections"));

        // "Backup Now", then "Restore" through its question.
        diary.repository->put({QUuid::createUuid(),
                               *DayKey::fromRawValue(QStringLiteral("2024-03-10")),
                               QStringLiteral("kept"), QStringLiteral("Georgia"), 16,
                               DiaryEntryStatus::draft, QStringLiteral("Europe/Paris"),
                               clock->now(), clock->now(), std::nullopt, DiaryRevision{1}});
        dataSection->backupButton()->click();
        QVERIFY(test::waitUntil([&] { return dataSection->restoreButton()->isVisible(); }));
        QCOMPARE(dataSection->statusLabel()->text(), QStringLiteral("Latest: 3/15/24 10:30 AM"));
        diary.repository->put({QUuid::createUuid(),
                               *DayKey::fromRawValue(QStringLiteral("2024-03-11")),
                               QStringLiteral("later"), QStringLiteral("Georgia"), 16,
                               DiaryEntryStatus::draft, QStringLiteral("Europe/Paris"),
                               clock->now(), clock->now(), std::nullopt, DiaryRevision{1}});
        diary.repository->setDelay(test::ScriptedDiaryRepository::Operation::replaceAll,
                                   std::chrono::milliseconds(400));
        dataSection->restoreButton()->click();
        QVERIFY(test::waitUntil([&] { return dataSection->restoreQuestion() != nullptr; }));
        QCOMPARE(dataSection->restoreQuestion()->text(), QStringLiteral("Restore from Backup?"));
        const auto buttons = dataSection->restoreQuestion()->buttons();
        const auto restoreButton = std::find_if(buttons.begin(), buttons.end(), [](auto *button) {
            return button->text() == QStringLiteral("Restore");
        });
        QVERIFY(restoreButton != buttons.end());
        (*restoreButton)->click();
        QVERIFY(test::waitUntil([&] { return dataSection->spinner()->isVisible(); }));

        // While the restore runs, a backup is refused with the section's alert.
        dataSection->backupButton()->click();
        QVERIFY(test::waitUntil([&] { return dataSection->failureAlert() != nullptr; }));
        QCOMPARE(dataSection->failureAlert()->text(), QStringLiteral("Data Operation Failed"));
        QCOMPARE(dataSection->failureAlert()->informativeText(),
                 DiaryDataOperationGuard::refusalText());
        dataSection->failureAlert()->buttons().first()->click();
        QVERIFY(test::waitUntil([&] { return !dataSection->spinner()->isVisible(); }));
        QVERIFY(!dataSection->controller().dataOperationError());
        QCOMPARE(diary.repository->storedEntries().size(), 1);

        // A cancelled import panel starts nothing.
        dataSection->importButton()->click();
        QCOMPARE(importPanels, 1);
        QVERIFY(!dataSection->spinner()->isVisible());

        // Sync switched on finds no sync folder.
        syncSection->syncSwitch()->click();
        QVERIFY(syncSection->syncNowButton()->isVisible());
        QVERIFY(test::waitUntil([&] {
            return syncSection->statusLabel()->text() ==
                   QStringLiteral("Choose a sync folder to keep this computer and your tablet on "
                                  "the same diary.");
        }));
        QCOMPARE(view.storageLabel()->text(),
                 QStringLiteral("Kept on this computer and in your sync folder."));

        // The reminder switched on shows its time; notifications turned off on the desktop
        // switch it off again and show the line with "Open Settings".
        reminderSection->reminderSwitch()->click();
        QVERIFY(test::waitUntil([&] { return reminderSection->timeRow()->isVisible(); }));
        QCOMPARE(reminderSection->timePicker()->time(), QTime(21, 0));
        QCoreApplication::processEvents();
        dataSection->spinner()->show();
        test::saveScreenshot(test::grabWidget(column), QStringLiteral("settings-sections-on"));
        dataSection->spinner()->hide();
        notifications->status = DiaryNotificationAuthorizationStatus::denied;
        view.hide();
        view.show();
        QVERIFY(test::waitUntil([&] { return reminderSection->deniedLine()->isVisible(); }));
        QVERIFY(!reminderSection->reminderSwitch()->isChecked());
        QVERIFY(!reminderSection->timeRow()->isVisible());
        reminderSection->openSettingsButton()->click();
        QCOMPARE(openedSettings, 1);
        QCoreApplication::processEvents();
        test::saveScreenshot(test::grabWidget(column), QStringLiteral("settings-sections-denied"));
    }

    // The "Folder" row: "None" at first; the diary's own folder is refused with a message; a
    // folder beside it is kept under both keys and shown shortened in its middle, on one line
    // and as written even where its name holds a line break and what reads as markup.
    void syncFolderRow() {
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        DiaryCloudSync sync(DiaryCloudSync::Services{{}, {}, {}, {}, defaults},
                            folder.filePath(QStringLiteral("Sync/manifest.json")),
                            DiaryCloudSync::noSyncRoot(), false, std::chrono::seconds(60));
        const QString diary = folder.filePath(QStringLiteral("Diary"));
        const QString chosen = folder.filePath(
            QStringLiteral("A folder with a rather long name/that a tool keeps\nin step "
                           "<img width=3000 height=3000>/Tablet"));
        QVERIFY(QDir().mkpath(diary + QStringLiteral("/Handwriting")));
        QVERIFY(QDir().mkpath(chosen));
        QStringList picks{diary + QStringLiteral("/Handwriting"), chosen};
        auto choice = std::make_shared<DiaryCloudSyncFolderChoice>(defaults);
        QWidget host;
        auto *layout = new QVBoxLayout(&host);
        auto *sectionWidget = new MacICloudSettingsSection(
            sync, MacSyncFolderServices{choice, diary, [&](QWidget *, const QString &) {
                                            return picks.takeFirst();
                                        }});
        MacICloudSettingsSection &section = *sectionWidget;
        layout->addWidget(sectionWidget);
        layout->addStretch(1);
        host.resize(460, 260);
        host.show();
        QCOMPARE(section.folderLabel()->text(), QStringLiteral("None"));
        QVERIFY(!section.folderRefusalLabel()->isVisible());

        section.chooseFolderButton()->click();
        QVERIFY(test::waitUntil([&] { return section.folderRefusalLabel()->isVisible(); }));
        QCOMPARE(section.folderRefusalLabel()->text(),
                 QStringLiteral("The sync folder must lie outside the diary’s own folder, and not "
                                "hold it."));
        QCOMPARE(section.folderLabel()->text(), QStringLiteral("None"));
        QVERIFY(!defaults->contains(DiaryCloudSyncFolderChoice::folderKey));
        test::saveScreenshot(test::grabWidget(&host),
                             QStringLiteral("settings-sync-folder-refused"));

        section.chooseFolderButton()->click();
        QVERIFY(test::waitUntil(
            [&] { return section.folderLabel()->text() != QStringLiteral("None"); }));
        QVERIFY(!section.folderRefusalLabel()->isVisible());
        QCOMPARE(defaults->stringValue(DiaryCloudSyncFolderChoice::folderKey), chosen);
        QVERIFY(defaults->contains(DiaryCloudSyncFolderChoice::folderDeviceKey));
        const QString shown = section.folderLabel()->text();
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.endsWith(QStringLiteral("Tablet")),
                 qPrintable(shown));
        QCOMPARE(test::unevenShownText(shown), QString());
        QVERIFY(section.folderLabel()->sizeHint().height() < 100);
        test::saveScreenshot(test::grabWidget(&host), QStringLiteral("settings-sync-folder"));
    }

    // The Folder row's tip holds the path as the alerts quote a value: on one line, as written,
    // and no wider than the screen, whatever the folder's name holds.
    void syncFolderTip_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("line breaks") << QStringLiteral("/home/ann/Tablet\nSync\r\n\nDiary");
        QTest::newRow("right-to-left override")
            << QStringLiteral("/home/ann/\u202ETablet Sync/txt.exe");
        QString deep = QStringLiteral("/home/ann");
        while (deep.size() < 5167)
            deep += QStringLiteral("/a folder kept in step");
        QTest::newRow("5,167 characters") << deep.left(5167);
        QString wide = QStringLiteral("/home/ann");
        while (wide.size() < 400)
            wide += QStringLiteral("/日记与平板同步的文件夹");
        QTest::newRow("wide letters") << wide;
    }

    void syncFolderTip() {
        QFETCH(QString, path);
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        defaults->setString(DiaryCloudSyncFolderChoice::folderKey, path);
        DiaryCloudSync sync(DiaryCloudSync::Services{{}, {}, {}, {}, defaults},
                            folder.filePath(QStringLiteral("Sync/manifest.json")),
                            DiaryCloudSync::noSyncRoot(), false, std::chrono::seconds(60));
        MacICloudSettingsSection section(
            sync, MacSyncFolderServices{std::make_shared<DiaryCloudSyncFolderChoice>(defaults),
                                        folder.filePath(QStringLiteral("Diary")),
                                        {}});
        section.resize(460, 260);
        section.show();
        QVERIFY(QTest::qWaitForWindowExposed(&section));
        QLabel *row = section.folderLabel();
        const QString tip = row->toolTip();
        QCOMPARE(test::unevenShownText(tip), QString());

        // As shown: one line, and within the screen.
        const auto shownTip = [&](const QString &text) -> QWidget * {
            QToolTip::showText(row->mapToGlobal(row->rect().center()), text, row);
            QWidget *shown = nullptr;
            test::waitUntil([&] {
                for (QWidget *window : QApplication::topLevelWidgets())
                    if (window->inherits("QTipLabel") && window->isVisible())
                        shown = window;
                return shown != nullptr;
            });
            return shown;
        };
        // The height of the first line of a tip's text, laid out as its label lays it out and in
        // its font: letters drawn by a fallback font (a CJK one, where a machine has it) make the
        // line taller than a line of Latin letters.
        const auto lineHeight = [](QWidget *tip) {
            QTextDocument document;
            document.setDefaultFont(tip->font());
            document.setHtml(static_cast<QLabel *>(tip)->text());
            static_cast<void>(document.size()); // lays the document out
            return document.firstBlock().layout()->lineAt(0).height();
        };
        QWidget *oneWord = shownTip(Qt::convertFromPlainText(QStringLiteral("Tablet")));
        QVERIFY(oneWord);
        const qreal frame = oneWord->height() - lineHeight(oneWord);
        QToolTip::hideText();
        QWidget *shown = shownTip(tip);
        QVERIFY(shown);
        // As high as a one-word tip but for the height of the line; a second line would add a
        // whole line, so half a line leaves room for rounding only.
        const qreal line = lineHeight(shown);
        QVERIFY2(qAbs(shown->height() - frame - line) < line / 2,
                 qPrintable(QStringLiteral("%1 px high, for a line of %2 px in a frame of %3 px")
                                .arg(shown->height())
                                .arg(line)
                                .arg(frame)));
        QVERIFY2(shown->width() <= row->screen()->geometry().width(),
                 qPrintable(QStringLiteral("%1 px").arg(shown->width())));
        test::saveScreenshot(test::grabWidget(shown),
                             QStringLiteral("settings-sync-folder-tip-") +
                                 QString::fromLatin1(QTest::currentDataTag()).left(10));
        QToolTip::hideText();
    }

    void typedReminderTime_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QTime>("time");
        // Today's reminder, then the next 13 days'; at 05:00 a time before it is gone for today.
        QTest::addColumn<int>("planned");
        QTest::newRow("hours and minutes") << QStringLiteral("0930") << QTime(9, 30) << 14;
        QTest::newRow("with the colon") << QStringLiteral("21:15") << QTime(21, 15) << 14;
        QTest::newRow("hours only") << QStringLiteral("07") << QTime(7, 0) << 14;
        // No hour begins with 4, so the field moves on to the minutes after it.
        QTest::newRow("a digit no hour continues") << QStringLiteral("44") << QTime(4, 4) << 13;
    }

    // Typed into the time field key by key, as a person does, while each key already reaches the
    // reminder centre: the field, the centre, the kept settings and the pending reminders all end
    // on the time typed.
    void typedReminderTime() {
        QFETCH(QString, typed);
        QFETCH(QTime, time);
        QFETCH(int, planned);
        QTemporaryDir folder;
        auto defaults =
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.ini")));
        auto clock =
            std::make_shared<test::TestClock>(QDateTime(QDate(2024, 3, 15), QTime(5, 0), Qt::UTC));
        auto notifications = std::make_shared<test::ScriptedNotificationCenter>();
        DiaryReminderCenter reminders(defaults, notifications, clock,
                                      GregorianCalendar(QTimeZone::utc()));
        test::waitFor(reminders.enableReminders());

        QWidget host;
        auto *layout = new QVBoxLayout(&host);
        auto *section = new MacReminderSettingsSection(reminders, [] { return true; });
        auto *next = new QLineEdit;
        layout->addWidget(section);
        layout->addWidget(next);
        host.show();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        QTimeEdit *field = section->timePicker();
        QCOMPARE(field->time(), QTime(21, 0));

        // Tabbing in selects the hours; tabbing out leaves the field.
        field->setFocus(Qt::TabFocusReason);
        QCOMPARE(field->currentSection(), QDateTimeEdit::HourSection);
        QTest::keyClicks(field, typed, Qt::NoModifier, 20);
        QTest::keyClick(field, Qt::Key_Tab);
        QVERIFY(next->hasFocus());

        QCOMPARE(field->text(), time.toString(QStringLiteral("HH:mm")));
        QCOMPARE(QTime(reminders.hour(), reminders.minute()), time);
        QCOMPARE(defaults->integerValue(UserDefaultsSettingsStore::reminderHourSetting.key),
                 qint64(time.hour()));
        QCOMPARE(defaults->integerValue(UserDefaultsSettingsStore::reminderMinuteSetting.key),
                 qint64(time.minute()));
        const auto plannedAt = [&] {
            return notifications->pending.size() == planned &&
                   std::all_of(notifications->pending.cbegin(), notifications->pending.cend(),
                               [&](const DiaryNotificationRequest &request) {
                                   return request.trigger.hour == time.hour() &&
                                          request.trigger.minute == time.minute();
                               });
        };
        QVERIFY(test::waitUntil(plannedAt));
        // Nothing that settles later moves the field again.
        QTest::qWait(50);
        QCOMPARE(field->time(), time);
    }

    void kit() {
        MacSettingsSection section(QStringLiteral("Reminder"));
        QCOMPARE(section.heading(), QStringLiteral("REMINDER"));
        MacSettingsTextField field(QStringLiteral("Your name"));
        QCOMPARE(field.accessibleName(), QStringLiteral("Your name"));

        QImage image(QSize(220, 40) * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(settingsTheme().paper());
        QPainter painter(&image);
        const MacSettingsButtonStyle secondary{false};
        const MacSettingsButtonStyle primary{true};
        const QSize size = secondary.sizeForLabel(QStringLiteral("Backup Now"));
        secondary.paint(painter, QRectF(QPointF(4, 4), size), QStringLiteral("Backup Now"), false,
                        settingsTheme());
        primary.paint(painter, QRectF(QPointF(110, 4), size), QStringLiteral("Restore"), false,
                      settingsTheme());
        painter.end();
        // The primary button is filled with leather; the secondary one leaves the paper.
        QCOMPARE(image.pixelColor(QPoint(114, 12) * 2).rgb(), settingsTheme().leather().rgb());
        QCOMPARE(image.pixelColor(QPoint(8, 12) * 2).rgb(), settingsTheme().paper().rgb());
        test::saveScreenshot(image, QStringLiteral("settings-buttons"));
    }
};

VELMORA_GUI_TEST_MAIN(ScreensSettingsTest)
#include "tst_screens_settings.moc"
