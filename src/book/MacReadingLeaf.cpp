#include "book/MacReadingLeaf.h"

#include "book/MacRuledTextView.h"

#include <cmath>

namespace velmora {

namespace {

bool isLineBreak(char32_t scalar) {
    switch (scalar) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

} // namespace

MacReadingLeaf::MacReadingLeaf(QWidget *parent)
    : VuzIvoduLeaf(parent)
    , m_text(new MacRuledTextView) {
    m_text->setEditable(false);
    m_text->setFocusRequest(0);
    setWriting(m_text);
}

QString MacReadingLeaf::shownText(const PageDescriptor &descriptor) {
    if (descriptor.leafIndex == 0)
        return descriptor.content;
    const QString &content = descriptor.content;
    qsizetype start = 0;
    // Line breaks are all in the Basic Multilingual Plane.
    while (start < content.size() && isLineBreak(content.at(start).unicode()))
        ++start;
    return content.mid(start);
}

void MacReadingLeaf::setLeaf(const PageDescriptor &descriptor, QDate date, double readingScale,
                             double headerTrailingClearance,
                             std::optional<VuzIvoduLeafContent::Quote> quote, const QImage &ink) {
    VuzIvoduLeafContent content;
    content.date = date;
    content.isSealed = descriptor.kind == PageKind::sealed;
    content.pageCount =
        VuzIvoduLeafContent::PageCount{int(descriptor.leafIndex) + 1, int(descriptor.leafCount)};
    content.quote = std::move(quote);
    content.headerTrailingClearance = headerTrailingClearance;
    setContent(content);

    const QFont font = resolveDiaryFont(resolvedFontName(descriptor.fontName),
                                        descriptor.bodyPointSize * readingScale);
    m_text->setFontAndLineHeight(font, std::max(std::round(font.pointSizeF() * 1.6), 40.0));
    m_text->setTheme(theme());
    m_text->setPlaceholder(QString());
    m_text->setInk(ink);
    m_text->setText(shownText(descriptor));
    m_text->setAccessibilityIdentifier(descriptor.kind == PageKind::sealed
                                           ? QStringLiteral("diary-sealed-leaf")
                                           : QStringLiteral("diary-reading-leaf"));
    m_text->setAccessibleName(descriptor.content.isEmpty() && ink.isNull() ? tr("Blank page")
                                                                           : tr("Diary page"));
}

} // namespace velmora
