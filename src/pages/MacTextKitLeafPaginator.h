#pragma once

#include "pages/LeafPaginating.h"

#include <QImage>

namespace velmora {

// Lays the whole text out once with QTextLayout, in points at 72 dpi, and packs its lines into
// leaves, so the work grows linearly with the text. Leaf boundaries fall only between grapheme
// clusters.
class MacTextKitLeafPaginator : public LeafPaginating {
public:
    // Paragraphs longer than twice `pieceLength` UTF-16 units are laid out in pieces of about
    // that length, and text is searched for boundaries in windows of that length; tests choose
    // short pieces to compare them with one whole layout.
    static constexpr qsizetype defaultPieceLength = 4096;

    explicit MacTextKitLeafPaginator(qsizetype pieceLength = defaultPieceLength)
        : m_pieceLength(pieceLength) {}

    // A device of 72 dots per inch, on which one point is one unit.
    static QImage pointPaintDevice();

    QList<UTF16TextRange> leafRanges(const QString &text, const TextAttributes &attributes,
                                     double width, double height, double horizontalInset,
                                     double verticalInset) const override;

private:
    qsizetype m_pieceLength;
};

} // namespace velmora
