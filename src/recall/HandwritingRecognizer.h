#pragma once

#include <QImage>
#include <QString>

#include <memory>
#include <optional>

namespace velmora {

// Reads the lines of text in an image of handwriting. One recogniser serves one thread.
class HandwritingRecognizer {
public:
    virtual ~HandwritingRecognizer() = default;

    // The confident lines, top of the page first, each trimmed and joined by one space; none
    // when no line was read.
    virtual std::optional<QString> recognize(const QImage &image) = 0;
};

// Text recognition by Tesseract with its English data. When the engine cannot start, every
// image reads as nothing.
std::unique_ptr<HandwritingRecognizer> makeTesseractRecognizer();

} // namespace velmora
