#pragma once

#include "pages/LeafPaginating.h"

namespace velmora {

// Lays the whole text out once with QTextLayout, in points at 72 dpi, and packs its lines into
// leaves, so the work grows linearly with the text. Leaf boundaries fall only between grapheme
// clusters.
class MacTextKitLeafPaginator : public LeafPaginating {
public:
    QList<UTF16TextRange> leafRanges(const QString &text, const TextAttributes &attributes,
                                     double width, double height, double horizontalInset,
                                     double verticalInset) const override;
};

} // namespace velmora
