#include "pagescreen/MacPageNotice.h"

#include "book/DiaryDecorative.h"
#include "book/MacRuledTextView.h"

#include <QPainter>
#include <QPushButton>
#include <QTextLayout>

namespace velmora {

namespace {

QFont titleFont() {
    return resolveDiaryFont(QStringLiteral("Georgia"), 17);
}

QFont detailFont() {
    QFont font = resolveDiaryFont(QStringLiteral("Georgia"), 14);
    font.setItalic(true);
    return font;
}

// Lays the detail out within the notice's width; one line per 40-point ruled line.
QList<QTextLine> layOutDetail(QTextLayout &layout) {
    QList<QTextLine> lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(MacPageNotice::maximumWidth);
        lines.append(line);
    }
    layout.endLayout();
    return lines;
}

} // namespace

MacPageNotice::MacPageNotice(QWidget *parent)
    : QWidget(parent)
    , m_ruling(new MacRuledTextView(this))
    , m_action(new QPushButton(this)) {
    // The ruling is paper only: it takes no clicks, no focus and is not read out.
    makeDecorative(m_ruling);
    m_ruling->setEditable(false);
    m_ruling->setFontAndLineHeight(resolveDiaryFont(QStringLiteral("Georgia"), 16), linePitch);
    m_ruling->setText(QString());
    m_ruling->setPlaceholder(QString());
    m_ruling->setFocusRequest(0);
    m_ruling->setAccessibilityIdentifier(QStringLiteral("diary-blank-page"));
    m_ruling->setAccessibleName(tr("Blank page"));

    QFont actionFont = diarySystemFont(14);
    actionFont.setWeight(QFont::Medium);
    m_action->setFont(actionFont);
    m_action->setFlat(true);
    m_action->setCursor(Qt::PointingHandCursor);
    m_action->setObjectName(QStringLiteral("diary-authoring-action"));
    m_action->hide();
    connect(m_action, &QPushButton::clicked, this, &MacPageNotice::actionTriggered);
    setObjectName(QStringLiteral("diary-authoring-unavailable"));
    setTheme(m_theme);
}

void MacPageNotice::setNotice(const QString &title, const QString &detail,
                              const std::optional<QString> &actionTitle) {
    m_title = title;
    m_detail = detail;
    setAccessibleName(title);
    setAccessibleDescription(detail);
    m_action->setVisible(actionTitle.has_value());
    m_action->setText(actionTitle.value_or(QString()));
    m_action->setAccessibleName(actionTitle.value_or(QString()));
    placeAction();
    update();
}

void MacPageNotice::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    m_ruling->setTheme(theme);
    m_action->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; color: %1; "
                       "text-align: left; padding: 0 0 6px 0; }")
            .arg(theme.leather().name()));
    update();
}

int MacPageNotice::detailLineCount() const {
    QTextLayout layout(m_detail, detailFont());
    return int(layOutDetail(layout).size());
}

void MacPageNotice::placeAction() {
    const int top = int(linePitch * (1 + detailLineCount()));
    const int width = m_action->sizeHint().width();
    m_action->setGeometry(0, top, std::min(width, int(maximumWidth)), int(linePitch));
}

void MacPageNotice::resizeEvent(QResizeEvent *) {
    m_ruling->setGeometry(rect());
    placeAction();
}

void MacPageNotice::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Each text stands on its ruled line: its descent ends where the rule is drawn.
    const QFont title = titleFont();
    painter.setFont(title);
    painter.setPen(m_theme.ink());
    const QFontMetricsF titleMetrics(title);
    painter.drawText(QPointF(0, linePitch - titleMetrics.descent()), m_title);

    QTextLayout layout(m_detail, detailFont());
    const QList<QTextLine> lines = layOutDetail(layout);
    painter.setPen(withOpacity(m_theme.ink(), 0.7));
    for (int index = 0; index < lines.size(); ++index) {
        const QTextLine &line = lines.at(index);
        const double bottom = linePitch * (index + 2);
        line.draw(&painter, QPointF(-line.x(),
                                    bottom - line.descent() - line.ascent() - line.position().y()));
    }
}

} // namespace velmora
