#pragma once

#include "pages/LeafPaginating.h"

#include <QImage>

namespace velmora {

// Lays the whole text out once with QTextLayout, in points at 72 dpi, and packs its lines into
// leaves, so the work grows linearly with the text. Leaf boundaries fall only between grapheme
// clusters.
class MacTextKitLeafPaginator : public LeafPaginating {
public:
    // A device of 72 dots per inch, on which one point is one unit.
    static QImage pointPaintDevice();

    QList<UTF16TextRange> leafRanges(const QString &text, const TextAttributes &attributes,
                                     double width, double height, double horizontalInset,
                                     double verticalInset) const override;
};

} // namespace velmora
