#include "settings/MacSettingsKit.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <numbers>

namespace velmora {

namespace {

QFont withPixelSize(QFont font, double size) {
    font.setPixelSize(qMax(1, qRound(size)));
    return font;
}

constexpr int spinnerSpokes = 8;

void setTextColor(QWidget *widget, const QColor &color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace

namespace {

DiaryTheme &currentSettingsTheme() {
    static DiaryTheme theme{DiaryColorScheme::light};
    return theme;
}

} // namespace

const DiaryTheme &settingsTheme() {
    return currentSettingsTheme();
}

void setSettingsColorScheme(DiaryColorScheme scheme) {
    currentSettingsTheme().colorScheme = scheme;
}

QFont settingsFont(const QString &name, double size) {
    return withPixelSize(resolveDiaryFont(name, size), size);
}

QFont settingsGeorgiaFont(double size, bool italic) {
    QFont font = settingsFont(defaultDiaryFontName, size);
    font.setItalic(italic);
    return font;
}

QFont settingsSystemFont(double size, QFont::Weight weight) {
    QFont font = withPixelSize(diarySystemFont(size), size);
    font.setWeight(weight);
    return font;
}

QFont settingsMonospacedFont(double size) {
    return withPixelSize(QFontDatabase::systemFont(QFontDatabase::FixedFont), size);
}

MacSettingsSection::MacSettingsSection(const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_heading(new QLabel(title.toUpper(), this))
    , m_content(new QVBoxLayout) {
    QFont font = settingsSystemFont(9, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    m_heading->setFont(font);
    setTextColor(m_heading, withOpacity(settingsTheme().leather(), 0.45));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(m_heading);
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(12);
    layout->addLayout(m_content);
}

void MacSettingsSection::addContent(QWidget *child) {
    m_content->addWidget(child);
}

QString MacSettingsSection::heading() const {
    return m_heading->text();
}

MacSettingsRow::MacSettingsRow(const QString &label, QWidget *control, QWidget *parent)
    : QWidget(parent)
    , m_control(control) {
    QLabel *text = makeSettingsLabel(label, settingsGeorgiaFont(13), settingsTheme().ink(), this);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
    layout->addStretch(1);
    layout->addWidget(control);
}

MacSettingsTextField::MacSettingsTextField(const QString &placeholder, QWidget *parent)
    : QLineEdit(parent) {
    setPlaceholderText(placeholder);
    setAccessibleName(placeholder);
    setFrame(false);
    setFont(settingsGeorgiaFont(13));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextMargins(10, 5, 10, 5);
    setFixedWidth(180);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, settingsTheme().ink());
    palette.setColor(QPalette::PlaceholderText, withOpacity(settingsTheme().ink(), 0.4));
    palette.setColor(QPalette::Highlight, withOpacity(settingsTheme().leather(), 0.3));
    palette.setColor(QPalette::HighlightedText, settingsTheme().ink());
    setPalette(palette);
}

void MacSettingsTextField::paintEvent(QPaintEvent *event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(withOpacity(settingsTheme().leather(), 0.12), 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 5, 5);
}

MacOrnamentalDivider::MacOrnamentalDivider(QWidget *parent)
    : QWidget(parent) {
    setFixedSize(79, 3);
}

void MacOrnamentalDivider::paint(QPainter &painter, const QRectF &rect, const DiaryTheme &theme) {
    const double middle = rect.center().y();
    const QColor rule = withOpacity(theme.accent(), 0.3);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRectF(rect.left(), middle - 0.25, 30, 0.5), rule);
    painter.fillRect(QRectF(rect.left() + 49, middle - 0.25, 30, 0.5), rule);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(theme.accent(), 0.4));
    painter.drawEllipse(QRectF(rect.left() + 38, middle - 1.5, 3, 3));
    painter.restore();
}

void MacOrnamentalDivider::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paint(painter, rect(), settingsTheme());
}

MacSettingsDivider::MacSettingsDivider(QWidget *parent)
    : QWidget(parent) {
    setFixedHeight(5);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MacSettingsDivider::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRectF(0, 2, width(), 0.5), withOpacity(settingsTheme().ruledLine(), 0.2));
}

QSize MacSettingsButtonStyle::sizeForLabel(const QString &label) const {
    const QFontMetricsF metrics(settingsGeorgiaFont(11));
    return QSizeF(metrics.horizontalAdvance(label) + 28, metrics.height() + 12).toSize();
}

void MacSettingsButtonStyle::paint(QPainter &painter, const QRectF &rect, const QString &label,
                                   bool isPressed, const DiaryTheme &theme) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * (isPressed ? 0.7 : 1.0));
    const QRectF inner = rect.adjusted(0.25, 0.25, -0.25, -0.25);
    painter.setPen(QPen(withOpacity(theme.leather(), isPrimary ? 0.0 : 0.2), 0.5));
    painter.setBrush(isPrimary ? QBrush(theme.leather()) : QBrush(Qt::NoBrush));
    painter.drawRoundedRect(inner, 5, 5);
    painter.setFont(settingsGeorgiaFont(11));
    painter.setPen(isPrimary ? QColor(Qt::white) : theme.leather());
    painter.drawText(rect, Qt::AlignCenter, label);
    painter.restore();
}

MacSettingsButton::MacSettingsButton(const QString &label, MacSettingsButtonStyle style,
                                     QWidget *parent)
    : QAbstractButton(parent)
    , m_style(style) {
    setText(label);
    setCursor(Qt::PointingHandCursor);
}

QSize MacSettingsButton::sizeHint() const {
    return m_style.sizeForLabel(text());
}

void MacSettingsButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (!isEnabled())
        painter.setOpacity(0.4);
    m_style.paint(painter, rect(), text(), isDown(), settingsTheme());
}

MacSettingsSwitch::MacSettingsSwitch(QWidget *parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setFixedSize(32, 18);
    setCursor(Qt::PointingHandCursor);
}

void MacSettingsSwitch::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.4);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? settingsTheme().leather()
                                 : withOpacity(settingsTheme().ink(), 0.15));
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const double knob = track.height() - 3;
    const double x = isChecked() ? track.right() - 1.5 - knob : track.left() + 1.5;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 1.5, knob, knob));
}

MacSettingsStatusDot::MacSettingsStatusDot(QWidget *parent)
    : QWidget(parent) {
    setFixedSize(6, 6);
}

void MacSettingsStatusDot::setColor(const QColor &color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void MacSettingsStatusDot::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()));
}

MacSettingsSpinner::MacSettingsSpinner(QWidget *parent)
    : QWidget(parent) {
    setFixedSize(14, 14);
}

void MacSettingsSpinner::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    for (int spoke = 0; spoke < spinnerSpokes; ++spoke) {
        const double angle = 2 * std::numbers::pi * spoke / spinnerSpokes;
        // The spoke at the current step is darkest; the ones behind it fade.
        const int age = (m_step - spoke + spinnerSpokes) % spinnerSpokes;
        painter.setPen(QPen(withOpacity(settingsTheme().ink(), 0.7 - age * 0.08), 1.5,
                            Qt::SolidLine, Qt::RoundCap));
        const QPointF direction(std::sin(angle), -std::cos(angle));
        painter.drawLine(centre + direction * 3.0, centre + direction * 6.0);
    }
}

void MacSettingsSpinner::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!m_timer)
        m_timer = startTimer(100);
}

void MacSettingsSpinner::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    if (m_timer)
        killTimer(std::exchange(m_timer, 0));
}

void MacSettingsSpinner::timerEvent(QTimerEvent *event) {
    if (event->timerId() != m_timer)
        return QWidget::timerEvent(event);
    m_step = (m_step + 1) % spinnerSpokes;
    update();
}

QLabel *makeSettingsLabel(const QString &text, const QFont &font, const QColor &color,
                          QWidget *parent) {
    auto *label = new QLabel(text, parent);
    // Captions quote folders and sync statuses, never markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

QLabel *makeSettingsCaption(const QString &text) {
    QLabel *caption =
        makeSettingsLabel(text, settingsSystemFont(11), withOpacity(settingsTheme().ink(), 0.5));
    caption->setWordWrap(true);
    return caption;
}

QWidget *makeSettingsToggleRow(const QString &title, QLabel *caption, QAbstractButton *toggle) {
    auto *row = new QWidget;
    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(makeSettingsLabel(title, settingsGeorgiaFont(13), settingsTheme().ink()));
    texts->addWidget(caption);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(texts, 1);
    layout->addWidget(toggle, 0, Qt::AlignVCenter);
    return row;
}

} // namespace velmora
