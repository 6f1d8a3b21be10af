#include "PageScreenFixture.h"

#include "book/MacRuledTextView.h"
#include "book/PaperSealRitualView.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "pagescreen/VuzIvoduRecallCards.h"
#include "recall/DiaryHandwritingIndex.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPainter>

using namespace velmora;
using namespace velmora::test;

namespace {

// The open book over the fixture's store, with drawings and their recognised words.
struct RecallScreen {
    ScopedLocale locale{QStringLiteral("en_US")};
    PageScreenFixture f;
    DiaryHandwritingStore handwriting{f.store.dir.filePath(QStringLiteral("Handwriting"))};
    std::unique_ptr<DiaryHandwritingIndex> index;
    std::unique_ptr<VuzIvoduPageWidget> widget;

    bool open(const QList<std::pair<QString, QString>> &recognised) {
        QJsonObject root;
        for (const auto &[key, text] : recognised) {
            root.insert(key, QJsonObject{{"text", text}, {"fingerprint", "1-2.0"}});
            handwriting.write("ink", *DayKey::fromRawValue(key.left(10)), key.mid(11).toInt());
        }
        QDir().mkpath(handwriting.directory());
        QFile file(handwriting.directory() + QStringLiteral("/handwriting-index.json"));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
        file.close();
        index = std::make_unique<DiaryHandwritingIndex>(handwriting);

        f.page.reset();
        widget = std::make_unique<VuzIvoduPageWidget>(*f.session, *f.pages, f.router, *f.settings,
                                                      PageScreenFixture::timings);
        widget->controller().setRecall(handwriting, *index);
        widget->show();
        // Active, so the card takes the keyboard from the editor as it does on a desktop.
        widget->activateWindow();
        if (!QTest::qWaitForWindowActive(widget.get()))
            return false;
        const bool opened = waitUntil([&] {
            return f.pages->selectedDescriptor() &&
                   f.pages->selectedDescriptor()->dayKey == PageScreenFixture::today &&
                   widget->controller().focusRequest() == 1 && widget->editor()->hasFocus();
        });
        // The editor's own answer to that request, queued behind it.
        QTest::qWait(10);
        return opened;
    }

    // Once no card is still fading.
    bool still() {
        return waitUntil([&] {
            return widget->findChildren<QWidget *>(QStringLiteral("recall-card-arrival")).isEmpty();
        });
    }

    void shoot(const QString &name) {
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(grabWidget(widget.get()), name));
    }

    ~RecallScreen() { widget.reset(); }
};

} // namespace

class RecallCardsScreensTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void searchCardWithTypedAndHandwrittenDays() {
        RecallScreen screen;
        screen.f.seed("2024-03-12", QStringLiteral("Walked to the harbour before breakfast; the "
                                                   "boats were already out and the gulls loud."));
        screen.f.seed("2024-02-03", QStringLiteral("Rain all day. Read by the window and thought "
                                                   "about the harbour in summer."));
        QVERIFY(screen.open({{"2024-03-07#0", "sketch of the harbour wall, low tide"}}));
        screen.widget->controller().toggleSearch();
        MacSearchCard *card = screen.widget->recallCards()->searchCard();
        QVERIFY(card);
        card->field()->setText(QStringLiteral("harbour"));
        QVERIFY(waitUntil([&] { return card->controller().results().size() == 3; }));
        QCOMPARE(card->controller().results().at(1).isHandwritten, true);
        QVERIFY(screen.still());
        screen.shoot(QStringLiteral("pagescreen-search-card-results"));
    }

    void calendarCardWithOnThisDay() {
        RecallScreen screen;
        screen.f.seed("2024-03-02", QStringLiteral("Saturday market"));
        screen.f.seed("2024-03-09", QStringLiteral("Long walk"));
        screen.f.seed("2024-03-14", QStringLiteral("Yesterday's page"));
        screen.f.seed("2023-03-15", QStringLiteral("First warm evening of the year.\nMore."));
        screen.f.seed("2020-03-15", QStringLiteral("Everything closed today."));
        QVERIFY(screen.open({{"2022-03-15#0", "a drawing"}}));
        screen.widget->controller().openCalendar();
        QVERIFY(screen.widget->recallCards()->calendarCard());
        QVERIFY(waitUntil([&] {
            return screen.widget->controller().onThisDay().size() == 3 &&
                   screen.widget->controller().calendarEntryDays() == QSet<int>({2, 9, 14});
        }));
        QCOMPARE(screen.widget->controller().calendarYears(), std::make_pair(2020, 2025));
        QVERIFY(screen.still());
        QVERIFY(!screen.widget->editor()->hasFocus());
        screen.shoot(QStringLiteral("pagescreen-calendar-card"));
        // As the book window shows it on a screen 800 high: the book drawn at its scale.
        QImage window(QSize(609, 800), QImage::Format_ARGB32_Premultiplied);
        window.fill(Qt::transparent);
        QPainter painter(&window);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        painter.scale(800.0 / 1024, 800.0 / 1024);
        screen.widget->render(&painter, QPoint(), QRegion(),
                              QWidget::DrawWindowBackground | QWidget::DrawChildren);
        painter.end();
        QVERIFY(saveScreenshot(window, QStringLiteral("pagescreen-calendar-card-609x800")));
    }

    // The seal confirmation asked for while searching opens under the search card.
    void searchCardOverTheSealConfirmation() {
        RecallScreen screen;
        screen.f.seed("2024-03-15", QStringLiteral("A page worth keeping as it is."));
        screen.f.seed("2024-03-01", QStringLiteral("The first page worth keeping."));
        QVERIFY(screen.open({}));
        VuzIvoduPageView &page = screen.widget->controller();
        page.toggleSearch();
        MacSearchCard *card = screen.widget->recallCards()->searchCard();
        QVERIFY(card);
        card->field()->setText(QStringLiteral("keeping"));
        QVERIFY(waitUntil([&] { return card->controller().results().size() == 2; }));
        screen.f.router.send(DiaryCommand::seal);
        QVERIFY(page.showSealConfirmation());
        QVERIFY(waitUntil([&] { return screen.widget->sealCard()->isVisible(); }));
        QVERIFY(screen.still());
        screen.shoot(QStringLiteral("pagescreen-search-card-over-seal"));
    }
};

VELMORA_GUI_TEST_MAIN(RecallCardsScreensTest)
#include "tst_screens_recallcards.moc"
