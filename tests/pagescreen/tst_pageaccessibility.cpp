#include "PageScreenFixture.h"

#include "book/MacRuledTextView.h"
#include "daily/DiaryDailyQuote.h"
#include "pagescreen/VuzIvoduPageArea.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "support/GuiTestMain.h"

#include "book/DiaryRibbonBookmark.h"
#include "pagescreen/MacPageTools.h"

#include <QAccessible>
#include <QAccessibleActionInterface>

using namespace velmora;
using namespace velmora::test;

namespace {

// What assistive technology finds under a widget: "identifier=name" for each element it can
// read (the identifier empty where there is none), skipping whatever is hidden from it.
QStringList readable(QAccessibleInterface *element) {
    QStringList found;
    if (!element || element->state().invisible)
        return found;
    const QObject *object = element->object();
    const QString name = element->text(QAccessible::Name);
    if (!name.isEmpty())
        found.append((object ? object->objectName() : QString()) + QLatin1Char('=') + name);
    for (int i = 0; i < element->childCount(); ++i)
        found += readable(element->child(i));
    return found;
}

QString quoteOfTheDay(const char *dayText) {
    const DiaryDailyQuote quote = DiaryDailyQuote::quote(day(dayText));
    return QStringLiteral("diary-quote=Quote of the day: ") + quote.text + QStringLiteral(", by ") +
           quote.author;
}

QString longText() {
    QString text;
    for (int paragraph = 0; paragraph < 40; ++paragraph)
        text +=
            QStringLiteral("The tide went out and left the harbour quiet and grey. ").repeated(3) +
            QLatin1Char('\n');
    return text;
}

struct Book {
    Book() { widget.show(); }

    bool show(const DayKey &dayKey) {
        const auto shown = [&](const DayKey &key) {
            return f.session->selectedDay() == key && f.pages->selectedDescriptor() &&
                   f.pages->selectedDescriptor()->dayKey == key &&
                   f.pages->transition().phase == PageTransitionPhase::idle;
        };
        if (!waitUntil([&] { return shown(PageScreenFixture::today); }))
            return false;
        if (dayKey != PageScreenFixture::today)
            widget.controller().navigate(dayKey);
        return waitUntil([&] { return shown(dayKey); });
    }

    QStringList readable() {
        QCoreApplication::processEvents();
        return ::readable(QAccessible::queryAccessibleInterface(&widget));
    }

    ScopedLocale locale{QStringLiteral("en_US")};
    PageScreenFixture f;
    VuzIvoduPageWidget widget{*f.session, *f.pages, f.router, *f.settings,
                              PageScreenFixture::timings};
};

} // namespace

class PageAccessibilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pageTexts_data() {
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("seeded");
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QStringList fromTheNotice{QStringLiteral("diary-blank-page="),
                                        QStringLiteral("diary-save-state="),
                                        QStringLiteral("diary-page-count=")};
        QTest::newRow("today, written and saved")
            << "2024-03-15"
            << "Bread, rain and the long way home." << false
            << QStringList{QStringLiteral("=Friday"),
                           QStringLiteral("diary-page-date=March 15, 2024"),
                           QStringLiteral("diary-editor=Diary page"), quoteOfTheDay("2024-03-15"),
                           QStringLiteral("diary-save-state=Draft saved")}
            << QStringList{QStringLiteral("=Friday,"), QStringLiteral("diary-page-locked="),
                           QStringLiteral("diary-page-count="), QStringLiteral("ribbon-bookmark=")};
        QTest::newRow("a sealed day of several leaves, on its last")
            << "2024-03-10" << longText() << true
            << QStringList{QStringLiteral("=Sunday"),
                           QStringLiteral("diary-page-date=March 10, 2024"),
                           QStringLiteral("diary-page-locked=This page is sealed"),
                           QStringLiteral("diary-page-count=Page %1 of %1"),
                           QStringLiteral("diary-sealed-leaf=Diary page"),
                           QStringLiteral("ribbon-bookmark=Bookmark"),
                           quoteOfTheDay("2024-03-10")}
            << QStringList{QStringLiteral("diary-save-state=")};
        QTest::newRow("an earlier blank day asks first")
            << "2024-03-09" << QString() << false
            << QStringList{QStringLiteral("diary-page-date=March 9, 2024"),
                           QStringLiteral("diary-authoring-unavailable=Write for this date?"),
                           QStringLiteral("diary-authoring-action=Write for this date")}
            << fromTheNotice;
        QTest::newRow("a future day waits")
            << "2024-03-19" << QString() << false
            << QStringList{QStringLiteral("diary-page-date=March 19, 2024"),
                           QStringLiteral(
                               "diary-authoring-unavailable=This page is waiting for its day.")}
            << fromTheNotice + QStringList{QStringLiteral("diary-authoring-action=")};
    }

    void pageTexts() {
        QFETCH(QString, dayText);
        QFETCH(QString, seeded);
        QFETCH(bool, sealed);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        Book book;
        const DayKey dayKey = day(dayText.toLatin1().constData());
        if (!seeded.isEmpty() && dayKey != PageScreenFixture::today)
            book.f.seed(dayText.toLatin1().constData(), seeded, sealed);
        QVERIFY(book.show(dayKey));
        if (!seeded.isEmpty() && dayKey == PageScreenFixture::today) {
            book.widget.controller().setEntryTextFromEditor(seeded);
            QVERIFY(waitUntil([&] {
                return book.widget.writableLeaf()->content().footerNote ==
                       QStringLiteral("Draft saved");
            }));
        }
        const QString leaves = QString::number(book.f.pages->descriptors().size());
        // The ribbon hangs, once it has slid in, on every day but today.
        QVERIFY(waitUntil([&] {
            return book.widget.tools()->ribbon()->isVisible() ==
                   (dayKey != PageScreenFixture::today);
        }));
        const QStringList found = book.readable();
        for (QString expected : present) {
            if (expected.contains(QStringLiteral("%1")))
                expected = expected.arg(leaves);
            QVERIFY2(found.contains(expected),
                     qPrintable(expected + QStringLiteral(" in ") + found.join(u'|')));
        }
        for (const QString &unexpected : absent)
            for (const QString &text : found)
                QVERIFY2(!text.startsWith(unexpected), qPrintable(text));
    }

    void paintedTextsLieWhereTheyArePainted() {
        Book book;
        QVERIFY(book.show(PageScreenFixture::today));
        QAccessibleInterface *leaf =
            QAccessible::queryAccessibleInterface(book.widget.writableLeaf());
        QRect date;
        QRect quote;
        for (int i = 0; i < leaf->childCount(); ++i) {
            QAccessibleInterface *child = leaf->child(i);
            QCOMPARE(leaf->indexOfChild(child), i);
            QCOMPARE(child->parent(), leaf);
            const QString identifier = child->object() ? child->object()->objectName() : QString();
            if (identifier == QStringLiteral("diary-page-date"))
                date = child->rect();
            if (identifier == QStringLiteral("diary-quote"))
                quote = child->rect();
        }
        const QRect sheet = leaf->rect();
        QVERIFY(sheet.contains(date));
        QVERIFY(sheet.contains(quote));
        // The date sits in the 100-point header, the quote in the 84-point footer.
        QVERIFY(date.bottom() < sheet.top() + 100);
        QVERIFY(quote.top() > sheet.top() + 940);
    }

    void pageActions_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Next Page") << QStringList{QStringLiteral("Next Page")} << "2024-03-16";
        QTest::newRow("Previous Page")
            << QStringList{QStringLiteral("Previous Page")} << "2024-03-14";
        QTest::newRow("Today after two turns")
            << QStringList{QStringLiteral("Next Page"), QStringLiteral("Next Page"),
                           QStringLiteral("Today")}
            << "2024-03-15";
    }

    void pageActions() {
        QFETCH(QStringList, actions);
        QFETCH(QString, shown);
        Book book;
        QVERIFY(book.show(PageScreenFixture::today));
        QAccessibleInterface *area = QAccessible::queryAccessibleInterface(book.widget.pageArea());
        QAccessibleActionInterface *interface = area->actionInterface();
        QVERIFY(interface);
        QCOMPARE(interface->actionNames(),
                 QStringList({QStringLiteral("Previous Page"), QStringLiteral("Next Page"),
                              QStringLiteral("Today")}));
        for (const QString &action : actions) {
            const DayKey before = book.f.session->selectedDay();
            interface->doAction(action);
            if (action != QStringLiteral("Today"))
                QVERIFY(waitUntil([&] { return book.f.session->selectedDay() != before; }));
        }
        QVERIFY(waitUntil([&] {
            return book.f.session->selectedDay() == day(shown.toLatin1().constData()) &&
                   book.f.pages->transition().phase == PageTransitionPhase::idle;
        }));
        // A name the page does not carry does nothing.
        interface->doAction(QStringLiteral("Press"));
        QTest::qWait(30);
        QCOMPARE(book.f.session->selectedDay(), day(shown.toLatin1().constData()));
    }
};

VELMORA_GUI_TEST_MAIN(PageAccessibilityTest)
#include "tst_pageaccessibility.moc"
