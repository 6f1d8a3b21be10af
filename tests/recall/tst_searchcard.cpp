#include "platform/AsyncSleep.h"
#include "recall/views/MacSearchCard.h"
#include "recall/views/MacSearchCardController.h"
#include "support/GuiTestMain.h"

#include <QAccessible>
#include <QLineEdit>
#include <QListView>

#include <stdexcept>

using namespace velmora;
using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

DayKey day(int dayOfMonth) {
    return DayKey::fromCivilDate(2026, 5, dayOfMonth);
}

// A find that answers each query after a scripted time, or fails for queries with "fail".
struct ScriptedFind {
    QStringList asked;
    int answered = 0;
    std::chrono::milliseconds answerAfter{0};

    MacSearchCardController::Find function() {
        return [this](QString query) -> QCoro::Task<QList<DiaryFindResult>> {
            asked.append(query);
            auto waiting = sleepFor(answerAfter);
            co_await waiting;
            ++answered;
            if (query.contains("fail"))
                throw std::runtime_error("the store is gone");
            co_return QList<DiaryFindResult>{{day(int(query.trimmed().size())), query, false}};
        };
    }
};

} // namespace

class SearchCardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void searchesOncePerPauseInTyping() {
        ScriptedFind find;
        MacSearchCardController card(find.function(), 50ms);
        card.setQuery("b");
        card.setQuery("ba");
        QVERIFY(card.results().isEmpty());
        QVERIFY(waitUntil([&] { return !card.results().isEmpty(); }));
        QCOMPARE(find.asked, QStringList{"ba"});
        QCOMPARE(card.results().first().text, QStringLiteral("ba"));

        // Blanks hide the list and empty it without a search.
        card.setQuery("  \n");
        QVERIFY(!card.showsList());
        QVERIFY(card.results().isEmpty());
        QTest::qWait(150);
        QCOMPARE(find.asked, QStringList{"ba"});
    }

    // An answer for text that has since changed is dropped, even when it comes last.
    void dropsAnswersForOlderText() {
        ScriptedFind find;
        find.answerAfter = 300ms;
        MacSearchCardController card(find.function(), 10ms);
        card.setQuery("tea");
        QVERIFY(waitUntil([&] { return find.asked.size() == 1; }));
        find.answerAfter = 0ms;
        card.setQuery("teapot");
        QVERIFY(waitUntil([&] { return !card.results().isEmpty(); }));
        QCOMPARE(card.results().first().text, QStringLiteral("teapot"));
        // The first answer arrives, and is dropped.
        QVERIFY(waitUntil([&] { return find.answered == 2; }));
        QCOMPARE(card.results().size(), 1);
        QCOMPARE(card.results().first().text, QStringLiteral("teapot"));

        // A failing find shows the empty list, as a search without hits.
        card.setQuery("fail");
        QVERIFY(waitUntil([&] { return card.results().isEmpty(); }));
    }

    void opensTheNewestDayOnReturn() {
        ScriptedFind find;
        MacSearchCardController card(find.function(), 10ms);
        QStringList calls;
        card.onClose = [&] { calls.append("close"); };
        card.onSelect = [&](const DayKey &key) { calls.append("select " + key.rawValue()); };
        card.submit();
        QVERIFY(calls.isEmpty());
        card.setQuery("cake");
        QVERIFY(waitUntil([&] { return !card.results().isEmpty(); }));
        card.submit();
        card.choose(day(2));
        card.close();
        QCOMPARE(calls, (QStringList{"close", "select 2026-05-04", "close", "select 2026-05-02",
                                     "close"}));
    }

    void keepsTheNewRowsHighlight() {
        MacSearchCardController card(ScriptedFind().function());
        card.enterRow(day(1));
        card.enterRow(day(2));
        card.leaveRow(day(1));
        QCOMPARE(card.hoveredResult(), std::optional<DayKey>(day(2)));
        card.leaveRow(day(2));
        QCOMPARE(card.hoveredResult(), std::nullopt);
    }

    // The field, the rows (a handwritten one says so after its date) and the close button.
    void readsItsPartsToAssistiveTechnology() {
        ScopedLocale locale(QStringLiteral("en_US"));
        MacSearchCard card(
            [](QString) -> QCoro::Task<QList<DiaryFindResult>> {
                co_return QList<DiaryFindResult>{{day(9), "typed words", false},
                                                 {day(3), "drawn words", true}};
            },
            GregorianCalendar::utc());
        card.resize(768, 1024);
        int closed = 0;
        card.controller().onClose = [&] { ++closed; };
        card.field()->setText("words");
        QVERIFY(waitUntil([&] { return card.list()->model()->rowCount() == 2; }));
        const auto row = [&](int index, int role) {
            return card.list()->model()->index(index, 0).data(role).toString();
        };
        QCOMPARE(row(0, Qt::AccessibleTextRole), QStringLiteral("May 9, 2026"));
        QCOMPARE(row(1, Qt::AccessibleTextRole), QStringLiteral("May 3, 2026, Handwritten"));
        QCOMPARE(row(1, Qt::AccessibleDescriptionRole), QStringLiteral("drawn words"));
        QCOMPARE(row(1, Qt::ToolTipRole), QStringLiteral("Found in handwriting"));

        QAccessibleInterface *root = QAccessible::queryAccessibleInterface(&card);
        QVERIFY(root);
        QAccessibleInterface *close = root->child(root->childCount() - 1);
        QCOMPARE(close->text(QAccessible::Name), QStringLiteral("Close Search"));
        QCOMPARE(QAccessible::queryAccessibleInterface(card.field())->text(QAccessible::Name),
                 QStringLiteral("Search your diary…"));
        close->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(closed, 1);
    }

    // A found text shows as at most two whole lines of its row, the second ending in an
    // ellipsis when more remains; nothing runs past the row's width.
    void snippetsWrapAndElide_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("elided");
        QTest::newRow("short") << QStringLiteral("A walk by the river") << 1 << false;
        QTest::newRow("two lines") << QStringLiteral("word ").repeated(14).trimmed() << 2 << false;
        QTest::newRow("long") << QStringLiteral("word ").repeated(80).trimmed() << 2 << true;
        QTest::newRow("paragraphs") << QStringLiteral("One\n\nTwo\nThree") << 1 << false;
        QTest::newRow("one long word") << QStringLiteral("x").repeated(400) << 2 << true;
        QTest::newRow("empty") << QString() << 0 << false;
    }

    void snippetsWrapAndElide() {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(bool, elided);
        QFont font(QStringLiteral("Georgia"));
        font.setPixelSize(12);
        constexpr double width = 300;
        const QStringList shown = MacSearchResultModel::snippetLines(text, font, width);
        QCOMPARE(shown.size(), lines);
        const QFontMetricsF metrics(font);
        for (const QString &line : shown)
            QVERIFY2(metrics.horizontalAdvance(line) <= width, qPrintable(line));
        QCOMPARE(!shown.isEmpty() && shown.last().endsWith(QChar(0x2026)), elided);
        // What shows is the text itself, from its start, its white space made single.
        if (!shown.isEmpty())
            QVERIFY(text.simplified().startsWith(shown.first()));
    }

    // The list never scrolls sideways.
    void rowsFitTheCard() {
        ScriptedFind find;
        MacSearchCard card(find.function(), GregorianCalendar::utc());
        card.resize(768, 1024);
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        card.field()->setText(QStringLiteral("word ").repeated(60));
        QVERIFY(waitUntil(
            [&] { return card.list()->isVisible() && card.list()->model()->rowCount() > 0; }));
        QCOMPARE(card.list()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(card.list()->visualRect(card.list()->model()->index(0, 0)).width() <=
                card.list()->viewport()->width());
    }

    void clampsTheListArea() {
        QCOMPARE(MacSearchCardController::listAreaHeight(0), 1.0);
        QCOMPARE(MacSearchCardController::listAreaHeight(64), 64.0);
        QCOMPARE(MacSearchCardController::listAreaHeight(2000), 340.0);
    }
};

VELMORA_GUI_TEST_MAIN(SearchCardTest)
#include "tst_searchcard.moc"
