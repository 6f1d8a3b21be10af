#pragma once

#include "book/VuzIvoduLeaf.h"
#include "pages/PageDescriptor.h"

#include <QImage>

#include <optional>

namespace velmora {

class MacRuledTextView;

// One laid-out leaf of a day, read-only: the leaf frame around the ruled text of the leaf and its
// handwriting.
class MacReadingLeaf : public VuzIvoduLeaf {
    Q_OBJECT

public:
    explicit MacReadingLeaf(QWidget *parent = nullptr);

    // `quote` is the day's quotation; `ink` the leaf's handwriting, when it has any.
    void setLeaf(const PageDescriptor &descriptor, QDate date, double readingScale,
                 double headerTrailingClearance,
                 std::optional<VuzIvoduLeafContent::Quote> quote = std::nullopt,
                 const QImage &ink = QImage());

    MacRuledTextView *textView() const { return m_text; }

    // A later leaf of a day starts at its first character that is not a line break.
    static QString shownText(const PageDescriptor &descriptor);

private:
    MacRuledTextView *m_text;
};

} // namespace velmora
