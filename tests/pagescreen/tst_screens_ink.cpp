#include "PageScreenFixture.h"

#include "book/MacRuledTextView.h"
#include "ink/MacInkLibrary.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"
#include "support/Screenshots.h"

#include <QTemporaryDir>

using namespace velmora;
using namespace velmora::test;

class InkScreensTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Typed lines at the top, handwriting from the companion device further down and across
    // them: the ink sits under the text, on the same rules.
    void handwritingBehindTypedText() {
        ScopedLocale locale{QStringLiteral("en_US")};
        PageScreenFixture f;
        QTemporaryDir folder;
        DiaryHandwritingStore store(folder.filePath(QStringLiteral("Handwriting")));
        InkDrawing drawing = handwrittenText({QStringLiteral("call the bakery"),
                                              QStringLiteral("pick up the parcel"),
                                              QStringLiteral("ring Marta on Sunday")},
                                             {30, 146}, 22);
        QList<InkStroke> strokes = drawing.strokes();
        strokes.append(drawnShapes()
                           .transformed(QTransform::fromTranslate(300, 180).scale(0.6, 0.6))
                           .strokes());
        strokes.append(inkLine({{20, 40}, {420, 44}}, 2.5, 1, QColor(160, 30, 40)));
        store.write(InkDrawing(strokes).encode(), PageScreenFixture::today, 0);
        MacInkLibrary library(store);

        auto widget = std::make_unique<VuzIvoduPageWidget>(*f.session, *f.pages, f.router,
                                                           *f.settings, PageScreenFixture::timings);
        widget->setInkLibrary(&library);
        widget->show();
        QVERIFY(waitUntil([&] {
            return f.pages->selectedDescriptor() &&
                   f.pages->selectedDescriptor()->dayKey == PageScreenFixture::today &&
                   !widget->editor()->ink().isNull();
        }));
        widget->controller().setEntryTextFromEditor(QStringLiteral(
            "Errands for the weekend, and the underlined one matters most. The list below came "
            "from the tablet on the train."));
        QVERIFY(waitUntil([&] {
            return widget->writableLeaf()->content().footerNote == QStringLiteral("Draft saved");
        }));
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(grabWidget(widget.get()), QStringLiteral("pagescreen-ink")));
        widget.reset();
        // The library's worker hands back any answer still owed before it goes.
        QVERIFY(test::waitFor(library.image(PageScreenFixture::today, 0, 44, 100)));
    }
};

VELMORA_GUI_TEST_MAIN(InkScreensTest)
#include "tst_screens_ink.moc"
