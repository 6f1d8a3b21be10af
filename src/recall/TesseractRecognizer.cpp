#include "recall/HandwritingRecognizer.h"

#include "recall/RecallLogging.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <omp.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace velmora {

namespace {

// A line is kept only when the engine is more sure of it than this.
constexpr float minimumConfidence = 0.3f;
// Recognition images are drawn at three pixels per point.
constexpr int imageResolution = 216;

class TesseractRecognizer final : public HandwritingRecognizer {
public:
    TesseractRecognizer() {
        // Recognition is background work: Tesseract's parallel loops would otherwise take every
        // core from the window and from the rest of the machine. Set for the calling thread,
        // which is the one that recognises.
        omp_set_num_threads(1);
        if (m_api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            qCWarning(lcRecall) << "Tesseract could not start with its English data; handwriting "
                                   "will not be recognised";
            return;
        }
        m_ready = true;
    }

    ~TesseractRecognizer() override { m_api.End(); }

    std::optional<QString> recognize(const QImage &image) override {
        if (!m_ready || image.isNull())
            return std::nullopt;
        const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        m_api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
        m_api.SetSourceResolution(imageResolution);
        if (m_api.Recognize(nullptr) != 0) {
            qCInfo(lcRecall) << "Tesseract could not read an image of" << grey.size();
            m_api.Clear();
            return std::nullopt;
        }
        struct Line {
            double middle;
            QString text;
        };
        std::vector<Line> lines;
        const std::unique_ptr<tesseract::ResultIterator> it(m_api.GetIterator());
        if (it) {
            do {
                if (it->Empty(tesseract::RIL_TEXTLINE))
                    continue;
                const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                if (!text)
                    continue;
                if (it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f <= minimumConfidence)
                    continue;
                const QString trimmed = QString::fromUtf8(text.get()).trimmed();
                if (trimmed.isEmpty())
                    continue;
                int left = 0;
                int top = 0;
                int right = 0;
                int bottom = 0;
                it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
                lines.push_back({(top + bottom) / 2.0, trimmed});
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
        m_api.Clear();
        // Image rows grow downwards: the top line has the smallest middle.
        std::stable_sort(lines.begin(), lines.end(),
                         [](const Line &a, const Line &b) { return a.middle < b.middle; });
        if (lines.empty())
            return std::nullopt;
        QStringList texts;
        for (const Line &line : lines)
            texts.append(line.text);
        return texts.join(QLatin1Char(' '));
    }

private:
    tesseract::TessBaseAPI m_api;
    bool m_ready = false;
};

} // namespace

std::unique_ptr<HandwritingRecognizer> makeTesseractRecognizer() {
    return std::make_unique<TesseractRecognizer>();
}

} // namespace velmora
