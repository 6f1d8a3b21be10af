#include "app/DiaryBookStage.h"
#include "book/DiaryStage.h"
#include "book/MacBookShadow.h"
#include "book/theme/DiaryTheme.h"

#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QAccessible>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

using namespace velmora;
using namespace velmora::test;

namespace {

// A stand-in for the open book at its design size: paper, a button where the page's arrows lie,
// a field, and a strip at the trailing edge that records where a drag goes in book points.
class StandInBook : public QWidget {
public:
    StandInBook() {
        setFixedSize(780, 1024);
        button = new QPushButton(QStringLiteral("Next"), this);
        button->setGeometry(700, 970, 70, 40);
        field = new QLineEdit(this);
        field->setGeometry(60, 100, 600, 40);
        strip = new Strip(this);
        strip->setGeometry(746, 100, 34, 800);
    }

    class Strip : public QWidget {
    public:
        using QWidget::QWidget;
        QList<QPointF> points;

    protected:
        void mousePressEvent(QMouseEvent *event) override { points = {event->position()}; }
        void mouseMoveEvent(QMouseEvent *event) override { points.append(event->position()); }
    };

    QPushButton *button;
    QLineEdit *field;
    Strip *strip;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), diaryPaperColor());
        painter.setPen(diaryRuledLineColor());
        for (int y = 140; y < height(); y += 40)
            painter.drawLine(60, y, width() - 60, y);
    }
};

struct Stage {
    DiaryBookStage stage{nullptr, [this](QWidget *) { return book = new StandInBook; }};
    StandInBook *book = nullptr;
    double now = 0;

    bool openAt(QSize size) {
        stage.resize(size);
        stage.setReduceMotion(true);
        stage.show();
        stage.activateWindow();
        if (!QTest::qWaitForWindowActive(&stage))
            return false;
        stage.openDiary();
        return waitUntil([&] {
            return stage.transition().phase() == DiaryCoverTransition::Phase::open && book &&
                   book->isVisible();
        });
    }

    // Where a point of the book lies on the stage, which is the window: events go to the
    // window and find their way as a person's would.
    QPoint onStage(QPointF bookPoint) const {
        const QRectF shown = stage.bookRect();
        return (shown.topLeft() + bookPoint * stage.bookScale()).toPoint();
    }
};

} // namespace

class BookStageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The open book is the stage's 780 × 1024 points at the smaller of the two ratios, centred;
    // clicks, drags and keys reach it through that scale, and its pictures are taken at the
    // density it is shown at.
    void theOpenBookFitsItsStage_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("scale");
        QTest::newRow("609x800") << QSize(609, 800) << 609.0 / 780;
        QTest::newRow("914x1200") << QSize(914, 1200) << 914.0 / 780;
        QTest::newRow("1560x1024") << QSize(1560, 1024) << 1.0;
        QTest::newRow("780x512") << QSize(780, 512) << 0.5;
    }

    void theOpenBookFitsItsStage() {
        QFETCH(QSize, size);
        QFETCH(double, scale);
        Stage s;
        QVERIFY(s.openAt(size));
        QCOMPARE(s.stage.bookScale(), scale);
        QCOMPARE(s.stage.bookRect(), fittedBookRect(QRectF(QPointF(), QSizeF(size))));

        int clicks = 0;
        connect(s.book->button, &QPushButton::clicked, this, [&] { ++clicks; });
        QTest::mouseClick(s.stage.windowHandle(), Qt::LeftButton, {}, s.onStage({735, 990}));
        QCOMPARE(clicks, 1);
        // Just outside the book's corner, the click meets the backdrop.
        QTest::mouseClick(s.stage.windowHandle(), Qt::LeftButton, {},
                          s.onStage({781, 1025}) + QPoint(2, 2));
        QCOMPARE(clicks, 1);

        QTest::mouseClick(s.stage.windowHandle(), Qt::LeftButton, {}, s.onStage({300, 120}));
        QVERIFY(waitUntil([&] { return s.book->field->hasFocus(); }));
        for (const char letter : {'t', 'y', 'p', 'e', 'd'})
            QTest::keyClick(s.stage.windowHandle(), letter);
        QCOMPARE(s.book->field->text(), QStringLiteral("typed"));

        // A drag of 100 book points is 100 × scale pixels on the stage.
        const QPoint from = s.onStage({760, 500});
        QTest::mousePress(s.stage.windowHandle(), Qt::LeftButton, {}, from);
        QTest::mouseMove(s.stage.windowHandle(), s.onStage({710, 500}));
        QTest::mouseMove(s.stage.windowHandle(), s.onStage({660, 500}));
        QTest::mouseRelease(s.stage.windowHandle(), Qt::LeftButton, {}, s.onStage({660, 500}));
        QVERIFY(s.book->strip->points.size() >= 2);
        QVERIFY(std::abs(s.book->strip->points.first().x() - s.book->strip->points.last().x() -
                         100) < 2);

        const double ratio = scale * s.stage.devicePixelRatioF();
        QVERIFY(std::abs(diaryStagePixelRatio(s.book->field) - ratio) < 1e-6);
        const QPixmap picture = diaryStagePicture(s.book);
        QCOMPARE(picture.size(), (QSizeF(780, 1024) * ratio).toSize());
        // Painted at that density: the paper fills the picture to its corner.
        QCOMPARE(picture.toImage().pixelColor(picture.width() - 2, picture.height() - 2).rgb(),
                 diaryPaperColor().rgb());

        QVERIFY(saveScreenshot(grabWidget(&s.stage, 1.0),
                               QStringLiteral("stage-open-") + QTest::currentDataTag()));
    }

    // Screen readers find the book where it is shown: the host's one child, whose parent the
    // host is.
    void theBookIsInTheWindowsAccessibilityTree() {
        Stage s;
        QVERIFY(s.openAt(QSize(609, 800)));
        QAccessibleInterface *book = QAccessible::queryAccessibleInterface(s.book);
        QVERIFY(book);
        QAccessibleInterface *host = book->parent();
        QVERIFY(host && host->object() && host->object()->parent() == &s.stage);
        QCOMPARE(host->childCount(), 1);
        QCOMPARE(host->child(0)->object(), static_cast<QObject *>(s.book));
        QCOMPARE(host->indexOfChild(book), 0);
        // The stage reaches it through its own children.
        QAccessibleInterface *stage = QAccessible::queryAccessibleInterface(&s.stage);
        bool found = false;
        for (int i = 0; i < stage->childCount(); ++i)
            found = found || stage->child(i)->object() == host->object();
        QVERIFY(found);
    }

    // Hidden with the stage (the window closed, the lock card shown), as a child would be: the
    // book's own show and hide tell it it came and went.
    void theBookComesAndGoesWithTheStage() {
        Stage s;
        QVERIFY(s.openAt(QSize(609, 800)));
        s.stage.hide();
        QVERIFY(!s.book->isVisible());
        s.stage.show();
        QVERIFY(s.book->isVisible());
        s.stage.closeDiary();
        QVERIFY(waitUntil(
            [&] { return s.stage.transition().phase() == DiaryCoverTransition::Phase::closed; }));
        QVERIFY(!s.book->isVisible());
    }
};

VELMORA_GUI_TEST_MAIN(BookStageTest)
#include "tst_bookstage.moc"
