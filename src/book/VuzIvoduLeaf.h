#pragma once

#include "book/theme/DiaryTheme.h"

#include <QDate>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;

namespace velmora {

// What one paper leaf shows around its writing area.
struct VuzIvoduLeafContent {
    struct PageCount {
        int number = 1; // from 1
        int total = 1;
        friend bool operator==(const PageCount &, const PageCount &) = default;
    };
    struct Quote {
        QString text;
        QString author;
        friend bool operator==(const Quote &, const Quote &) = default;
    };

    QDate date;
    bool isSealed = false;
    std::optional<QString> footerNote;
    std::optional<PageCount> pageCount;
    std::optional<Quote> quote;
    double headerTrailingClearance = 0;

    friend bool operator==(const VuzIvoduLeafContent &, const VuzIvoduLeafContent &) = default;
};

// The leaf's geometry in points: a 768 × 1024 sheet, a 100-point header, the 696 × 840 writing
// area and an 84-point footer, inset 36 on both sides.
struct VuzIvoduLeafGeometry {
    static constexpr double width = 768;
    static constexpr double height = 1024;
    static constexpr double inset = 36;
    static constexpr double headerHeight = 100;
    static constexpr double footerHeight = 84;
    static constexpr QRectF writingArea{36, 100, 696, 840};
};

// The footer's quotation line: the italic quote in curly quotes, then two no-break spaces, an
// em dash, a no-break space and the author with no-break spaces, so the name never splits.
QString leafQuoteLine(const VuzIvoduLeafContent::Quote &quote);

// A text the frame paints, as assistive technology reads it, and where it lies.
struct VuzIvoduLeafElement {
    enum class Kind { weekday, date, sealed, quote, pageCount, saveState };

    Kind kind;
    QString name;
    QRectF rect;

    // The element's identifier; the weekday has none.
    static QString identifier(Kind kind);
};

// The frame's texts in reading order, each only when the leaf shows it.
QList<VuzIvoduLeafElement> leafFrameElements(const QRectF &rect,
                                             const VuzIvoduLeafContent &content);

// Draws the sheet, the dated header and the footer into a leaf-sized rectangle; the writing
// area is left for the view that fills it.
void paintLeafFrame(QPainter &painter, const QRectF &rect, const VuzIvoduLeafContent &content,
                    const DiaryTheme &theme);

// The paper leaf of the open book. Its writing area holds the widget it is given.
class VuzIvoduLeaf : public QWidget {
    Q_OBJECT

public:
    explicit VuzIvoduLeaf(QWidget *parent = nullptr);

    const VuzIvoduLeafContent &content() const { return m_content; }
    void setContent(const VuzIvoduLeafContent &content);

    const DiaryTheme &theme() const { return m_theme; }
    void setTheme(const DiaryTheme &theme);

    // Takes the widget into the writing area, laid out at exactly 696 × 840 from its top-leading
    // corner. The previous one is deleted.
    void setWriting(QWidget *writing);
    QWidget *writing() const { return m_writing; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    VuzIvoduLeafContent m_content;
    DiaryTheme m_theme;
    QPointer<QWidget> m_writing;
};

} // namespace velmora
