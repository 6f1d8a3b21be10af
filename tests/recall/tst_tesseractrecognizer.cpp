#include "recall/DiaryHandwritingIndex.h"
#include "recall/HandwritingRecognizer.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"

#include <array>
#include <latch>
#include <thread>

using namespace velmora;
using namespace velmora::test;

class TesseractRecognizerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The engine is opened by whichever recogniser comes first; two workers starting together
    // in a fresh process must both get it whole and read the same words.
    void readsOnTwoThreadsStartingTogether() {
        const auto image = DiaryHandwritingIndex::recognitionImage(
            handwrittenText({QStringLiteral("call the"), QStringLiteral("bakery")}));
        QVERIFY(image);
        std::array<std::optional<QString>, 2> read;
        std::latch start(2);
        std::array<std::thread, 2> workers;
        for (std::size_t i = 0; i < workers.size(); ++i) {
            workers[i] = std::thread([&, i] {
                start.arrive_and_wait();
                read[i] = makeTesseractRecognizer()->recognize(*image);
            });
        }
        for (std::thread &worker : workers)
            worker.join();
        for (const std::optional<QString> &text : read) {
            QVERIFY(text);
            QCOMPARE(text->toLower(), QStringLiteral("call the bakery"));
        }
    }
};

VELMORA_GUI_TEST_MAIN(TesseractRecognizerTest)
#include "tst_tesseractrecognizer.moc"
