#pragma once

#include "book/theme/DiaryTheme.h"
#include "pages/PageDescriptor.h"

#include <QList>
#include <QString>

namespace velmora {

// Splits a text into the UTF-16 ranges of successive leaves that each fit the page's text area.
class LeafPaginating {
public:
    virtual ~LeafPaginating() = default;

    virtual QList<UTF16TextRange> leafRanges(const QString &text, const TextAttributes &attributes,
                                             double width, double height, double horizontalInset,
                                             double verticalInset) const = 0;
};

} // namespace velmora
