#include "PageScreenFixture.h"

#include "pagescreen/PageMotion.h"
#include "pagescreen/PageWriting.h"
#include "support/GuiTestMain.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// The writing on its own over the fixture's session, with what it asks of the page around it, in
// the order it asks.
struct Writing {
    PageScreenFixture &f;
    PageMotion motion{PageScreenFixture::timings.animationScale};
    PageWriting writing{*f.session, *f.pages, *f.settings, motion, PageScreenFixture::timings};
    QStringList reports;
    QStringList failures;

    explicit Writing(PageScreenFixture &fixture)
        : f(fixture) {
        const auto report = [this](const char *name) {
            return [this, name] { reports << QString::fromLatin1(name); };
        };
        QObject::connect(&writing, &PageWriting::failed, &writing, [this](const QString &message) {
            reports << QStringLiteral("failed");
            failures << message;
        });
        QObject::connect(&writing, &PageWriting::failureCleared, &writing, report("cleared"));
        QObject::connect(&writing, &PageWriting::focusWanted, &writing, report("focus"));
        QObject::connect(&writing, &PageWriting::entryStored, &writing, report("stored"));
        QObject::connect(&writing, &PageWriting::syncWanted, &writing, report("sync"));
        QObject::connect(&writing, &PageWriting::closeRequested, &writing, report("close"));
    }

    // Today's page with words on it, stored.
    bool written() {
        if (!f.selectToday())
            return false;
        writing.loadEditorFromSession();
        writing.setEntryTextFromEditor(QStringLiteral("Dear diary"));
        return f.settled() && f.stored(PageScreenFixture::today).has_value();
    }
};

} // namespace

class PageWritingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What each way of making the writing durable asks of the page, when the disk takes it and
    // when it does not: the page joins these to its alert, the calendar's marks, the sync and the
    // closing of the book.
    void whatEachStepReports_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("diskFails");
        QTest::addColumn<QStringList>("reports");
        const QStringList failed{QStringLiteral("failed")};
        QTest::newRow("save") << "save" << false << QStringList{"stored", "sync"};
        QTest::newRow("save, failing") << "save" << true << failed;
        QTest::newRow("seal") << "seal" << false << QStringList{"stored"};
        QTest::newRow("seal, failing") << "seal" << true << failed;
        QTest::newRow("lock and leave")
            << "lock" << false << QStringList{"stored", "sync", "close"};
        QTest::newRow("lock and leave, failing") << "lock" << true << failed;
        QTest::newRow("come back later") << "leave" << false << QStringList{"close"};
        QTest::newRow("come back later, failing") << "leave" << true << failed;
        QTest::newRow("retry") << "retry" << false << QStringList{"cleared"};
        QTest::newRow("retry, failing") << "retry" << true << failed;
        QTest::newRow("book leaves the screen") << "flush" << false << QStringList{};
        QTest::newRow("book leaves the screen, failing") << "flush" << true << failed;
    }

    void whatEachStepReports() {
        QFETCH(QString, step);
        QFETCH(bool, diskFails);
        QFETCH(QStringList, reports);
        PageScreenFixture f;
        Writing w(f);
        QVERIFY(w.written());
        if (diskFails) {
            f.repository->failSaves = true;
            w.writing.setEntryTextFromEditor(QStringLiteral("Dear diary, more"));
        }
        w.reports.clear();

        if (step == QLatin1String("save")) {
            w.writing.save();
        } else if (step == QLatin1String("seal")) {
            w.writing.askToSeal();
            QVERIFY(w.writing.showSealConfirmation());
            w.writing.confirmSeal();
        } else if (step == QLatin1String("lock")) {
            w.writing.requestClose();
            QVERIFY(w.writing.showLeavePrompt());
            w.writing.lockPageAndLeave();
        } else if (step == QLatin1String("leave")) {
            w.writing.requestClose();
            w.writing.leaveAndComeBack();
        } else if (step == QLatin1String("retry")) {
            w.writing.retry();
        } else {
            auto flush = w.writing.flushPendingWriting();
            Q_UNUSED(flush)
        }
        QVERIFY(waitUntil([&] { return w.reports.size() >= reports.size(); }));
        QTest::qWait(100);
        QCOMPARE(w.reports, reports);
        QVERIFY(!w.writing.showLeavePrompt());
        for (const QString &failure : std::as_const(w.failures))
            QVERIFY(!failure.isEmpty());
        // Sealed only when the disk took it; what was written is on the page either way.
        QCOMPARE(w.writing.isCurrentEntrySealed(),
                 !diskFails && (step == QLatin1String("seal") || step == QLatin1String("lock")));
        QVERIFY(w.writing.entryText().startsWith(QStringLiteral("Dear diary")));
    }

    // A page that is not to be written takes no draft; the failure is reported, not thrown.
    void writingWhereNoDraftMayBeIsReported_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("an earlier blank page") << "2024-03-10";
        QTest::newRow("a future page") << "2024-03-20";
    }

    void writingWhereNoDraftMayBeIsReported() {
        QFETCH(QString, target);
        PageScreenFixture f;
        Writing w(f);
        QVERIFY(f.openDay(*DayKey::fromRawValue(target)));
        w.writing.loadEditorFromSession();
        QVERIFY(!w.writing.canWriteSelectedDay());
        w.writing.setEntryTextFromEditor(QStringLiteral("Too soon"));
        QCOMPARE(w.reports, QStringList{QStringLiteral("failed")});
        QTest::qWait(60);
        QCOMPARE(f.stored(*DayKey::fromRawValue(target)), std::nullopt);
    }

    // The first words on a blank page make its entry, and the calendar's marks may change; once
    // it is stored, typing on asks nothing more of the page.
    void onlyANewEntryIsReported() {
        PageScreenFixture f;
        Writing w(f);
        QVERIFY(f.selectToday());
        w.writing.loadEditorFromSession();
        w.writing.setEntryTextFromEditor(QStringLiteral("D"));
        QCOMPARE(w.reports, QStringList{QStringLiteral("stored")});
        QVERIFY(f.settled());
        w.reports.clear();
        for (const char *text : {"De", "Dear", "Dear diary"})
            w.writing.setEntryTextFromEditor(QString::fromLatin1(text));
        QVERIFY(f.settled());
        QCOMPARE(w.reports, QStringList());
        QCOMPARE(f.stored(PageScreenFixture::today)->content, QStringLiteral("Dear diary"));
    }

    void confirmingAnEarlierPageGivesItTheKeyboard() {
        PageScreenFixture f;
        Writing w(f);
        QVERIFY(f.openDay(day("2024-03-10")));
        w.reports.clear();
        w.writing.confirmPastDateWriting();
        QVERIFY(w.writing.canWriteSelectedDay());
        QCOMPARE(w.reports, QStringList{QStringLiteral("focus")});
    }
};

VELMORA_GUI_TEST_MAIN(PageWritingTest)
#include "tst_pagewriting.moc"
