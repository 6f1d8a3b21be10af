#include "recall/views/MacSearchCard.h"

#include "book/DiaryGlyphs.h"

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QTextLayout>

namespace velmora {

namespace {

constexpr double cardWidth = 704;
constexpr double cardTop = 64;
constexpr double searchRowHeight = 14 + 22 + 14;
constexpr int snippetLineHeight = 15;
constexpr int rowHeight = 10 + 17 + 4 + 2 * snippetLineHeight + 10;

QFont georgia(int size, bool italic = false) {
    QFont font(QStringLiteral("Georgia"));
    font.setPixelSize(size);
    font.setItalic(italic);
    return font;
}

// Paints one found day: its date (with a pencil mark for handwriting) over two lines of text.
class ResultDelegate : public QStyledItemDelegate {
public:
    ResultDelegate(const MacSearchCardController &controller, const DiaryTheme &theme,
                   QObject *parent)
        : QStyledItemDelegate(parent)
        , m_controller(controller)
        , m_theme(theme) {}

    // As wide as the list makes its rows, never wider.
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override {
        return QSize(1, rowHeight);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF row = option.rect;
        const DayKey day = index.data(MacSearchResultModel::dayKeyRole).value<DayKey>();
        if (m_controller.hoveredResult() == day) {
            QPainterPath highlight;
            highlight.addRoundedRect(row.adjusted(6, 0, -6, 0), 6, 6);
            painter->fillPath(highlight, withOpacity(m_theme.leather(), 0.08));
        }
        const QRectF content = row.adjusted(16, 10, -16, -10);
        const QFont dateFont = georgia(13);
        painter->setFont(dateFont);
        painter->setPen(m_theme.ink());
        const QString date = index.data(MacSearchResultModel::dateLineRole).toString();
        painter->drawText(QRectF(content.left(), content.top(), content.width(), 17),
                          Qt::AlignLeft | Qt::AlignVCenter, date);
        if (index.data(MacSearchResultModel::isHandwrittenRole).toBool()) {
            const double x = content.left() + QFontMetricsF(dateFont).horizontalAdvance(date) + 6;
            QPainterPath pencil;
            pencil.moveTo(x, content.top() + 13);
            pencil.lineTo(x + 9, content.top() + 4);
            pencil.moveTo(x, content.top() + 15.5);
            pencil.cubicTo(x + 3, content.top() + 13, x + 6, content.top() + 17, x + 10,
                           content.top() + 14);
            painter->setPen(
                QPen(withOpacity(m_theme.leather(), 0.7), 1.3, Qt::SolidLine, Qt::RoundCap));
            painter->drawPath(pencil);
        }
        const QFont snippet = georgia(12);
        painter->setFont(snippet);
        painter->setPen(withOpacity(m_theme.ink(), 0.7));
        // Two whole lines, the second elided: never a line cut through its middle.
        const QStringList lines = MacSearchResultModel::snippetLines(
            index.data(Qt::DisplayRole).toString(), snippet, content.width());
        for (int line = 0; line < lines.size(); ++line)
            painter->drawText(QRectF(content.left(), content.top() + 21 + line * snippetLineHeight,
                                     content.width(), snippetLineHeight),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                              lines.at(line));
        painter->restore();
    }

private:
    const MacSearchCardController &m_controller;
    // The card's own, so a change of scheme reaches the rows on their next paint.
    const DiaryTheme &m_theme;
};

} // namespace

MacSearchResultModel::MacSearchResultModel(const MacSearchCardController &controller,
                                           GregorianCalendar calendar, QObject *parent)
    : QAbstractListModel(parent)
    , m_controller(controller)
    , m_calendar(std::move(calendar)) {
    connect(&controller, &MacSearchCardController::resultsChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

int MacSearchResultModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_controller.results().size());
}

QVariant MacSearchResultModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_controller.results().size())
        return {};
    const DiaryFindResult &result = m_controller.results().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return result.text;
    case Qt::ToolTipRole:
        return result.isHandwritten ? tr("Found in handwriting") : QVariant();
    case Qt::AccessibleTextRole:
        // The pencil mark reads as its own label after the date.
        return result.isHandwritten
                   ? dateLine(result.dayKey, m_calendar) + QStringLiteral(", ") + tr("Handwritten")
                   : dateLine(result.dayKey, m_calendar);
    case Qt::AccessibleDescriptionRole:
        return result.text;
    case dayKeyRole:
        return QVariant::fromValue(result.dayKey);
    case isHandwrittenRole:
        return result.isHandwritten;
    case dateLineRole:
        return dateLine(result.dayKey, m_calendar);
    default:
        return {};
    }
}

QStringList MacSearchResultModel::snippetLines(const QString &text, const QFont &font, double width,
                                               int maxLines) {
    const QString flat = text.simplified();
    QStringList lines;
    if (flat.isEmpty() || maxLines < 1 || !(width > 0))
        return lines;
    QTextLayout layout(flat, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            // The last line shown takes the rest, elided to fit.
            const QString rest = flat.mid(line.textStart());
            lines.append(QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(flat.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

QString MacSearchResultModel::dateLine(const DayKey &day, const GregorianCalendar &calendar) {
    const auto start = day.date(calendar);
    return start ? longDateFormatter().string(calendar.civilDate(*start)) : day.rawValue();
}

MacSearchCard::MacSearchCard(MacSearchCardController::Find find, GregorianCalendar calendar,
                             QWidget *parent)
    : QWidget(parent)
    , m_controller(
          new MacSearchCardController(std::move(find), MacSearchCardController::searchDelay, this))
    , m_model(new MacSearchResultModel(*m_controller, std::move(calendar), this))
    , m_field(new QLineEdit(this))
    , m_list(new QListView(this))
    , m_nothingFound(new QLabel(tr("Nothing found"), this)) {
    m_field->setObjectName(QStringLiteral("diary-search-field"));
    m_field->setPlaceholderText(tr("Search your diary…"));
    m_field->setAccessibleName(tr("Search your diary…"));
    m_field->setFrame(false);
    m_field->setFont(georgia(15));
    connect(m_field, &QLineEdit::textChanged, m_controller,
            [this](const QString &text) { m_controller->setQuery(text); });
    connect(m_field, &QLineEdit::returnPressed, m_controller, [this] { m_controller->submit(); });

    m_list->setModel(m_model);
    m_list->setItemDelegate(new ResultDelegate(*m_controller, m_theme, m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setMouseTracking(true);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setStyleSheet(QStringLiteral("background: transparent"));
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Rows are as wide as the card; their snippets wrap and elide instead of running on.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setUniformItemSizes(true);
    connect(m_list, &QListView::clicked, m_controller, [this](const QModelIndex &index) {
        m_controller->choose(index.data(MacSearchResultModel::dayKeyRole).value<DayKey>());
    });
    connect(m_list, &QListView::entered, m_controller, [this](const QModelIndex &index) {
        m_controller->enterRow(index.data(MacSearchResultModel::dayKeyRole).value<DayKey>());
    });
    connect(m_controller, &MacSearchCardController::hoveredResultChanged, m_list->viewport(),
            qOverload<>(&QWidget::update));

    m_nothingFound->setFont(georgia(14, true));
    m_nothingFound->setAlignment(Qt::AlignCenter);
    applyTheme();

    connect(m_controller, &MacSearchCardController::queryChanged, this, [this] { relayout(); });
    connect(m_controller, &MacSearchCardController::resultsChanged, this, [this] { relayout(); });
    relayout();
    m_field->setFocus();
}

void MacSearchCard::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    applyTheme();
    m_list->viewport()->update();
    update();
}

void MacSearchCard::applyTheme() {
    QPalette fieldColors = m_field->palette();
    fieldColors.setColor(QPalette::Base, Qt::transparent);
    fieldColors.setColor(QPalette::Text, m_theme.ink());
    fieldColors.setColor(QPalette::PlaceholderText, withOpacity(m_theme.ink(), 0.4));
    fieldColors.setColor(QPalette::Highlight, withOpacity(m_theme.leather(), 0.3));
    m_field->setPalette(fieldColors);
    QPalette labelColors = m_nothingFound->palette();
    labelColors.setColor(QPalette::WindowText, withOpacity(m_theme.ink(), 0.7));
    m_nothingFound->setPalette(labelColors);
}

QRectF MacSearchCard::cardRect() const {
    double height = searchRowHeight;
    if (m_controller->showsList()) {
        const double content = m_controller->results().isEmpty()
                                   ? 24 + 18 + 24
                                   : double(m_controller->results().size()) * rowHeight;
        height += 1 + MacSearchCardController::listAreaHeight(content + 8);
    }
    return QRectF((width() - cardWidth) / 2, cardTop, cardWidth, height);
}

QRectF MacSearchCard::closeButtonRect() const {
    const QRectF card = cardRect();
    return QRectF(card.right() - 14 - 16, card.top() + searchRowHeight / 2 - 8, 16, 16);
}

QList<PaintedAccessibleItems::Item> MacSearchCard::accessibleItems() const {
    return {{QAccessible::Button, tr("Close Search"), {}, {}, closeButtonRect(), false, true, {}}};
}

void MacSearchCard::pressAccessibleItem(int index) {
    if (index == 0)
        m_controller->close();
}

void MacSearchCard::relayout() {
    const QRectF card = cardRect();
    m_field->setGeometry(
        QRectF(card.left() + 14 + 16 + 10, card.top() + 14, cardWidth - 2 * 14 - 2 * (16 + 10), 22)
            .toRect());
    const bool showsList = m_controller->showsList();
    const bool nothing = showsList && m_controller->results().isEmpty();
    const QRectF listArea(card.left(), card.top() + searchRowHeight + 1 + 4, cardWidth,
                          card.height() - searchRowHeight - 1 - 8);
    m_list->setVisible(showsList && !nothing);
    m_nothingFound->setVisible(nothing);
    m_list->setGeometry(listArea.toRect());
    m_nothingFound->setGeometry(listArea.toRect());
    update();
}

void MacSearchCard::resizeEvent(QResizeEvent *) {
    relayout();
}

void MacSearchCard::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0, 0, 0, int(0.12 * 255)));
    const QRectF card = cardRect();
    for (int layer = 5; layer >= 1; --layer) {
        const double grow = layer * 3.0;
        QPainterPath shadow;
        shadow.addRoundedRect(
            card.translated(0, 8).adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2), 10 + grow / 2,
            10 + grow / 2);
        painter.fillPath(shadow, QColor(0, 0, 0, int(0.22 * 255 / 5)));
    }
    QPainterPath paper;
    paper.addRoundedRect(card, 10, 10);
    painter.fillPath(paper, m_theme.paper());
    const double middle = card.top() + searchRowHeight / 2;
    DiaryGlyph(DiaryGlyphSymbol::magnifyingglass)
        .paint(painter, QRectF(card.left() + 14, middle - 8, 16, 16),
               withOpacity(m_theme.ink(), 0.7));
    const QRectF close = closeButtonRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(m_theme.ink(), 0.4));
    painter.drawEllipse(close);
    DiaryGlyph(DiaryGlyphSymbol::xmark, DiaryGlyphWeight::semibold)
        .paint(painter, close.adjusted(4.5, 4.5, -4.5, -4.5), m_theme.paper());
    if (m_controller->showsList()) {
        painter.fillRect(QRectF(card.left(), card.top() + searchRowHeight, cardWidth, 1),
                         withOpacity(m_theme.ruledLine(), 0.35));
    }
}

void MacSearchCard::mousePressEvent(QMouseEvent *event) {
    event->accept();
}

void MacSearchCard::mouseReleaseEvent(QMouseEvent *event) {
    const QRectF card = cardRect();
    const QRectF close = closeButtonRect();
    if (!card.contains(event->position()) || close.contains(event->position()))
        m_controller->close();
}

} // namespace velmora
