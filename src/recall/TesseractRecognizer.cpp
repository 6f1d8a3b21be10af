#include "recall/HandwritingRecognizer.h"

#include "recall/RecallLogging.h"

// Only for the declarations: the engine is opened at run time, nothing here links it.
#include <tesseract/capi.h>

#include <dlfcn.h>

#include <algorithm>
#include <optional>
#include <type_traits>
#include <vector>

namespace velmora {

namespace {

// A line is kept only when the engine is more sure of it than this.
constexpr float minimumConfidence = 0.3f;
// Recognition images are drawn at three pixels per point.
constexpr int imageResolution = 216;

// Tesseract brings some forty libraries with it (network, archives, image codecs, OpenMP) and
// their pages would weigh on every start, while recognition only runs in the background once a
// drawing changes. So the engine is opened the first time a recogniser is made, and stays open
// for the rest of the process.
struct TesseractEngine {
    decltype(&TessBaseAPICreate) create = nullptr;
    decltype(&TessBaseAPIInit2) init = nullptr;
    decltype(&TessBaseAPISetImage) setImage = nullptr;
    decltype(&TessBaseAPISetSourceResolution) setSourceResolution = nullptr;
    decltype(&TessBaseAPIRecognize) recognize = nullptr;
    decltype(&TessBaseAPIGetIterator) getIterator = nullptr;
    decltype(&TessResultIteratorGetPageIterator) pageIterator = nullptr;
    decltype(&TessPageIteratorBoundingBox) boundingBox = nullptr;
    decltype(&TessResultIteratorGetUTF8Text) text = nullptr;
    decltype(&TessResultIteratorConfidence) confidence = nullptr;
    decltype(&TessResultIteratorNext) next = nullptr;
    decltype(&TessDeleteText) deleteText = nullptr;
    decltype(&TessResultIteratorDelete) deleteIterator = nullptr;
    decltype(&TessBaseAPIClear) clear = nullptr;
    decltype(&TessBaseAPIEnd) end = nullptr;
    decltype(&TessBaseAPIDelete) destroy = nullptr;
    // Absent when the engine was built without OpenMP, which then has no threads to limit.
    void (*setThreadCount)(int) = nullptr;

    // The engine, or none when the library or one of its functions is missing.
    static const TesseractEngine *instance() {
        static const std::optional<TesseractEngine> engine = open();
        return engine ? &*engine : nullptr;
    }

private:
    static std::optional<TesseractEngine> open() {
        constexpr const char *library = "libtesseract.so.5";
        void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            qCWarning(lcRecall).nospace() << "Tesseract could not be opened (" << dlerror()
                                          << "); handwriting will not be recognised";
            return std::nullopt;
        }
        TesseractEngine engine;
        bool complete = true;
        const auto resolve = [&](auto &function, const char *name) {
            if (!complete)
                return;
            dlerror();
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            if (!function) {
                complete = false;
                const char *why = dlerror();
                qCWarning(lcRecall).nospace()
                    << "Tesseract has no " << name << " (" << (why ? why : "null symbol")
                    << "); handwriting will not be recognised";
            }
        };
        resolve(engine.create, "TessBaseAPICreate");
        resolve(engine.init, "TessBaseAPIInit2");
        resolve(engine.setImage, "TessBaseAPISetImage");
        resolve(engine.setSourceResolution, "TessBaseAPISetSourceResolution");
        resolve(engine.recognize, "TessBaseAPIRecognize");
        resolve(engine.getIterator, "TessBaseAPIGetIterator");
        resolve(engine.pageIterator, "TessResultIteratorGetPageIterator");
        resolve(engine.boundingBox, "TessPageIteratorBoundingBox");
        resolve(engine.text, "TessResultIteratorGetUTF8Text");
        resolve(engine.confidence, "TessResultIteratorConfidence");
        resolve(engine.next, "TessResultIteratorNext");
        resolve(engine.deleteText, "TessDeleteText");
        resolve(engine.deleteIterator, "TessResultIteratorDelete");
        resolve(engine.clear, "TessBaseAPIClear");
        resolve(engine.end, "TessBaseAPIEnd");
        resolve(engine.destroy, "TessBaseAPIDelete");
        // Looked up through the engine's own dependencies, where its OpenMP runtime is.
        engine.setThreadCount =
            reinterpret_cast<void (*)(int)>(dlsym(handle, "omp_set_num_threads"));
        // The library stays loaded even when incomplete: unloading code that may have started
        // threads or registered handlers is not worth the few pages it would return.
        if (!complete)
            return std::nullopt;
        return engine;
    }
};

class TesseractRecognizer final : public HandwritingRecognizer {
public:
    TesseractRecognizer()
        : m_engine(TesseractEngine::instance()) {
        if (!m_engine)
            return;
        // Recognition is background work: Tesseract's parallel loops would otherwise take every
        // core from the window and from the rest of the machine. Set for the calling thread,
        // which is the one that recognises.
        if (m_engine->setThreadCount)
            m_engine->setThreadCount(1);
        m_api = m_engine->create();
        if (!m_api)
            return;
        if (m_engine->init(m_api, nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            qCWarning(lcRecall) << "Tesseract could not start with its English data; handwriting "
                                   "will not be recognised";
            return;
        }
        m_ready = true;
    }

    ~TesseractRecognizer() override {
        if (!m_api)
            return;
        m_engine->end(m_api);
        m_engine->destroy(m_api);
    }

    TesseractRecognizer(const TesseractRecognizer &) = delete;
    TesseractRecognizer &operator=(const TesseractRecognizer &) = delete;

    std::optional<QString> recognize(const QImage &image) override {
        if (!m_ready || image.isNull())
            return std::nullopt;
        const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        m_engine->setImage(m_api, grey.constBits(), grey.width(), grey.height(), 1,
                           int(grey.bytesPerLine()));
        m_engine->setSourceResolution(m_api, imageResolution);
        if (m_engine->recognize(m_api, nullptr) != 0) {
            qCInfo(lcRecall) << "Tesseract could not read an image of" << grey.size();
            m_engine->clear(m_api);
            return std::nullopt;
        }
        struct Line {
            double middle;
            QString text;
        };
        std::vector<Line> lines;
        if (TessResultIterator *it = m_engine->getIterator(m_api)) {
            do {
                // No text where the iterator holds no words, such as an image block.
                char *const text = m_engine->text(it, tesseract::RIL_TEXTLINE);
                if (!text)
                    continue;
                const QString trimmed = QString::fromUtf8(text).trimmed();
                m_engine->deleteText(text);
                if (m_engine->confidence(it, tesseract::RIL_TEXTLINE) / 100.0f <= minimumConfidence)
                    continue;
                if (trimmed.isEmpty())
                    continue;
                int left = 0;
                int top = 0;
                int right = 0;
                int bottom = 0;
                m_engine->boundingBox(m_engine->pageIterator(it), tesseract::RIL_TEXTLINE, &left,
                                      &top, &right, &bottom);
                lines.push_back({(top + bottom) / 2.0, trimmed});
            } while (m_engine->next(it, tesseract::RIL_TEXTLINE));
            m_engine->deleteIterator(it);
        }
        m_engine->clear(m_api);
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
    const TesseractEngine *m_engine;
    TessBaseAPI *m_api = nullptr;
    bool m_ready = false;
};

} // namespace

std::unique_ptr<HandwritingRecognizer> makeTesseractRecognizer() {
    return std::make_unique<TesseractRecognizer>();
}

} // namespace velmora
