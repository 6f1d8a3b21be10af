// The sync road on the real program: the diary syncs through a folder that a relay keeps in step
// with the test tablet's folder, as a file-sync tool would. What the tablet writes reaches the
// open page, what the person writes reaches the tablet, and a folder that goes away or a switch
// turned off loses and changes nothing.
#include "app/VelmoraProgram.h"

#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "pagescreen/VuzIvoduRecallCards.h"
#include "recall/views/MacSearchCard.h"
#include "settings/MacICloudSettingsSection.h"
#include "settings/MacSettingsView.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"
#include "support/ProgramInWindow.h"
#include "support/Screenshots.h"
#include "support/SyncRelay.h"
#include "support/TabletCompanion.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScrollArea>
#include <QTimer>

using namespace velmora;
using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

// Scrolls the settings window to a section, for its picture.
void showSection(QWidget *section) {
    for (QWidget *parent = section->parentWidget(); parent; parent = parent->parentWidget())
        if (auto *scroll = qobject_cast<QScrollArea *>(parent))
            scroll->ensureWidgetVisible(section);
}

// Every file under a folder with its fingerprint: what a change to the folder would change.
QMap<QString, QString> folderState(const QString &folder) {
    QMap<QString, QString> state;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        state.insert(path, DiaryCloudSyncFolder::fingerprint(path).value_or(QString()));
    }
    return state;
}

// The program with its sync folder on the computer's side, the tablet on the other side, and a
// relay between the two that runs while it is switched on.
class SyncRoad : public ProgramInWindow {
public:
    SyncRoad() {
        QDir().mkpath(computerSide());
        QDir().mkpath(tabletSide());
        create(QStringLiteral("SyncRoad"), {QStringLiteral("--velmora-sync-root"), computerSide()});
        m_relayTimer.setInterval(40);
        QObject::connect(&m_relayTimer, &QTimer::timeout, [this] { relay.step(); });
    }

    ~SyncRoad() {
        m_relayTimer.stop();
        // The program goes before the folders it works in.
        program.reset();
    }

    QString computerSide() const { return folder(QStringLiteral("computer")); }
    QString tabletSide() const { return folder(QStringLiteral("tablet")); }
    QString computerRoot() const { return computerSide() + QStringLiteral("/Diary Sync"); }

    TabletCompanion tablet{tabletSide() + QStringLiteral("/Diary Sync"),
                           folder(QStringLiteral("tablet-state"))};
    // Reads the computer's side with the tablet's own reader.
    TabletCompanion computer{computerRoot(), folder(QStringLiteral("computer-state"))};
    SyncRelay relay{computerSide(), tabletSide()};

    bool start() {
        if (program->start())
            return false;
        // The sync's waits, short: a pass follows a save or a change in the folder at once, and
        // the heartbeat comes four times a second.
        program->graph().cloudSync().setTiming({20ms, 20ms, 250ms});
        return show(QSize(914, 1200));
    }
    void setRelayRunning(bool running) {
        if (running)
            m_relayTimer.start();
        else
            m_relayTimer.stop();
    }

    DiaryCloudSync &sync() const { return program->graph().cloudSync(); }
    void screenshot(QWidget *widget, const char *step) {
        QApplication::processEvents();
        if (!saveScreenshot(grabWidget(widget, 1.0),
                            QStringLiteral("syncroad-") + QString::fromLatin1(step)))
            qWarning("The screenshot %s was not written", step);
    }

    // The words kept as recovery records.
    QStringList recovered() const {
        QStringList contents;
        const DiarySnapshotDTO snapshot = test::waitFor(program->graph().repository()->snapshot());
        for (const DiaryRecoveryDTO &record : snapshot.recoveryRecords)
            contents.append(QJsonDocument::fromJson(record.preservedPayload)
                                .object()
                                .value(QStringLiteral("content"))
                                .toString());
        return contents;
    }
    std::optional<DiaryEntryDTO> stored(const DayKey &day) const {
        return test::waitFor(program->graph().repository()->entry(day));
    }

private:
    QTimer m_relayTimer;
};

} // namespace

class SyncRoadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void walkTheSyncRoad() {
        SyncRoad road;
        QVERIFY(road.start());
        road.setRelayRunning(true);
        road.key(Qt::Key_Return);
        QVERIFY(waitUntil([&] { return road.settled(); }));
        VuzIvoduPageWidget *book = road.book();
        MacRuledTextView *editor = book->editor();
        const DayKey today = road.session().selectedDay();
        const QString day = today.rawValue();
        QVERIFY(waitUntil([&] { return road.sync().status() == DiaryCloudSyncStatus::upToDate; }));

        // The tablet writes today's page: the open page shows it.
        const QString tabletMorning = QStringLiteral("Written on the tablet this morning.");
        road.tablet.writePage(TabletCompanion::page(day, tabletMorning));
        QVERIFY(waitUntil([&] { return editor->text() == tabletMorning; }));

        // A drawing with words on it: drawn behind the text, and found by search.
        const InkDrawing words =
            handwrittenText({QStringLiteral("call the"), QStringLiteral("bakery")});
        road.tablet.writeFile(QStringLiteral("Handwriting/") + day + QStringLiteral("-0.drawing"),
                              words.encode());
        QVERIFY(waitUntil([&] { return !editor->ink().isNull(); }));
        QVERIFY(QFileInfo::exists(road.program->graph().handwriting()->fileURL(today, 0)));
        road.screenshot(&road.program->window(), "1-tablet-page-and-drawing");
        road.key(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(waitUntil([&] {
            return book->recallCards()->searchCard() &&
                   book->recallCards()->searchCard()->field()->hasFocus();
        }));
        road.type(QStringLiteral("bakery"));
        MacSearchCard *search = book->recallCards()->searchCard();
        // Recognition runs on the index's own thread, slowly under the sanitizers; the card
        // searches again as the words are typed once more.
        const auto foundHandwriting = [&] {
            const QAbstractItemModel *results = search->list()->model();
            for (int row = 0; row < results->rowCount(); ++row)
                if (results->index(row, 0).data(MacSearchResultModel::isHandwrittenRole).toBool())
                    return true;
            return false;
        };
        QVERIFY(waitUntil(
            [&] {
                if (foundHandwriting())
                    return true;
                search->field()->clear();
                road.type(QStringLiteral("bakery"));
                return waitUntil(foundHandwriting, 500ms);
            },
            4min));
        road.screenshot(&road.program->window(), "2-handwriting-found");
        road.key(Qt::Key_Escape);
        QVERIFY(
            waitUntil([&] { return !book->recallCards()->searchCard() && editor->hasFocus(); }));

        // The tablet adds to the page while the caret stands at its end: the words typed next
        // follow the tablet's, without a click.
        road.key(Qt::Key_End, Qt::ControlModifier);
        road.type(QStringLiteral(" S100start"));
        road.key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(waitUntil([&] {
            const auto page = road.tablet.readPageFile(day);
            return page && page->content == tabletMorning + QStringLiteral(" S100start");
        }));
        CompanionPage added = *road.tablet.readPageFile(day);
        added.content += QStringLiteral(" K701tabletword");
        added.updatedAtMs = QDateTime::currentMSecsSinceEpoch();
        ++added.revision;
        road.tablet.writePage(added);
        QVERIFY(waitUntil([&] { return editor->text() == added.content; }));
        road.type(QStringLiteral(" K702typed"));
        const QString together = added.content + QStringLiteral(" K702typed");
        QCOMPARE(editor->text(), together);

        // Both change today while the tool is away: one wins, the other is kept.
        road.setRelayRunning(false);
        road.key(Qt::Key_End, Qt::ControlModifier);
        road.type(QStringLiteral(" Then the computer"));
        road.key(Qt::Key_S, Qt::ControlModifier);
        const QString computerWords = together + QStringLiteral(" Then the computer");
        QVERIFY(waitUntil([&] {
            const auto page = road.computer.readPageFile(day);
            return page && page->content == computerWords;
        }));
        const QString tabletEvening = QStringLiteral("The tablet's evening words.");
        road.tablet.writePage(TabletCompanion::page(day, tabletEvening));
        road.setRelayRunning(true);
        QVERIFY(waitUntil([&] {
            return editor->text() == tabletEvening && road.recovered().contains(computerWords);
        }));
        QVERIFY(waitUntil([&] { return road.tablet.conflictCopies(day).isEmpty(); }));
        QCOMPARE(road.tablet.readPageFile(day)->content, tabletEvening);

        // The switch off in the settings window: nothing in the folder changes any more.
        road.click(book->tools()->button(QStringLiteral("diary-toolbar-settings")));
        QVERIFY(waitUntil([&] { return shownSettings() != nullptr; }));
        MacICloudSettingsSection *section = shownSettings()->syncSection();
        QVERIFY(section);
        QVERIFY(waitUntil([&] { return road.sync().status() == DiaryCloudSyncStatus::upToDate; }));
        QTest::mouseClick(section->syncSwitch(), Qt::LeftButton);
        QVERIFY(waitUntil([&] { return road.sync().status() == DiaryCloudSyncStatus::off; }));
        QVERIFY(waitUntil([&] {
            return section->statusLabel()->text() ==
                   QStringLiteral("Your pages stay only on this device.");
        }));
        showSection(section);
        road.screenshot(shownSettings(), "3-sync-off");
        const QMap<QString, QString> before = folderState(road.computerRoot());
        shownSettings()->close();
        road.program->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&road.program->window(), int(eventually.count())));
        road.key(Qt::Key_End, Qt::ControlModifier);
        road.type(QStringLiteral(" Offline"));
        road.key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(waitUntil([&] {
            const auto entry = road.stored(today);
            return entry && entry->content == tabletEvening + QStringLiteral(" Offline");
        }));
        // Several heartbeats, a save and the folder watcher have had their chance to write.
        QTest::qWait(1000);
        QCOMPARE(folderState(road.computerRoot()), before);

        // On again: the words written meanwhile go out.
        road.click(book->tools()->button(QStringLiteral("diary-toolbar-settings")));
        QVERIFY(waitUntil([&] { return shownSettings() != nullptr; }));
        QTest::mouseClick(shownSettings()->syncSection()->syncSwitch(), Qt::LeftButton);
        QVERIFY(waitUntil([&] {
            const auto page = road.tablet.readPageFile(day);
            return page && page->content == tabletEvening + QStringLiteral(" Offline");
        }));
        shownSettings()->close();
        road.program->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&road.program->window(), int(eventually.count())));

        // Typed and sealed here: the tablet gets the sealed page.
        road.key(Qt::Key_End, Qt::ControlModifier);
        road.type(QStringLiteral(" Sealed."));
        const QString sealedWords = tabletEvening + QStringLiteral(" Offline Sealed.");
        road.key(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(waitUntil([&] { return book->sealCard()->isVisible(); }));
        road.click(
            book->sealCard()->findChild<QAbstractButton *>(QStringLiteral("diary-seal-confirm")));
        QVERIFY(waitUntil([&] {
            const auto page = road.tablet.readPageFile(day);
            return page && page->sealed && page->content == sealedWords;
        }));

        // The folder goes away mid-run (a disk unmounted): the sync section says so, nothing
        // here is deleted, and sync goes on once it is back.
        road.setRelayRunning(false);
        road.click(book->tools()->button(QStringLiteral("diary-toolbar-settings")));
        QVERIFY(waitUntil([&] { return shownSettings() != nullptr; }));
        QLabel *status = shownSettings()->syncSection()->statusLabel();
        showSection(shownSettings()->syncSection());
        const QString aside = road.computerRoot() + QStringLiteral(".unmounted");
        QVERIFY(QDir().rename(road.computerRoot(), aside));
        QVERIFY(waitUntil(
            [&] { return status->text() == QStringLiteral("The sync folder is missing."); }));
        // Taken at once: the heartbeat's next pass shows "Syncing…" for a moment.
        saveScreenshot(grabWidget(shownSettings(), 1.0),
                       QStringLiteral("syncroad-4-folder-missing"));
        QCOMPARE(road.stored(today)->content, sealedWords);
        QVERIFY(QFileInfo::exists(road.program->graph().handwriting()->fileURL(today, 0)));
        QVERIFY(!QFileInfo::exists(road.computerRoot()));
        QVERIFY(QDir().rename(aside, road.computerRoot()));
        QVERIFY(waitUntil([&] { return road.sync().status() == DiaryCloudSyncStatus::upToDate; }));
        QVERIFY(status->text().startsWith(QStringLiteral("Up to date")));
        QCOMPARE(road.stored(today)->content, sealedWords);
        QVERIFY(QFileInfo::exists(road.program->graph().handwriting()->fileURL(today, 0)));
        shownSettings()->close();
    }
};

VELMORA_PRIVATE_X_TEST_MAIN(SyncRoadTest)
#include "tst_syncroad.moc"
