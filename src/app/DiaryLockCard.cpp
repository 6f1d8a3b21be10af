#include "app/DiaryLockCard.h"

#include "app/AppLogging.h"
#include "book/DiaryGlyphs.h"
#include "book/MacFrostedBackdrop.h"
#include "book/theme/DiaryTheme.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// The capsule with the key glyph and "Unlock".
class UnlockButton : public QPushButton {
public:
    explicit UnlockButton(QWidget *parent)
        : QPushButton(DiaryLockCard::tr("Unlock"), parent) {
        setObjectName(QStringLiteral("unlock"));
        setCursor(Qt::PointingHandCursor);
        QFont font = diarySystemFont(15);
        font.setWeight(QFont::Medium);
        setFont(font);
        const QFontMetricsF metrics(font);
        const DiaryGlyph key =
            *DiaryGlyph::named(QStringLiteral("touchid"), DiaryGlyphWeight::medium);
        const QSizeF glyph = key.sizeForPointSize(15);
        setFixedSize(QSizeF(28 + glyph.width() + 8 + metrics.horizontalAdvance(text()) + 28,
                            12 + std::max(glyph.height(), metrics.height()) + 12)
                         .toSize());
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect());
        QColor fill = diaryAccentColor();
        if (isDown())
            fill = fill.darker(115);
        if (!isEnabled())
            painter.setOpacity(0.45);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        const QColor ink = colorFromHex(QStringLiteral("1C1C1E"));
        const DiaryGlyph key =
            *DiaryGlyph::named(QStringLiteral("touchid"), DiaryGlyphWeight::medium);
        const QSizeF glyph = key.sizeForPointSize(15);
        const QRectF glyphRect(QPointF(28, (box.height() - glyph.height()) / 2), glyph);
        key.paint(painter, glyphRect, ink);
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRectF(glyphRect.right() + 8, 0, box.width(), box.height()),
                         Qt::AlignVCenter | Qt::AlignLeft, text());
        if (hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(QColor(255, 255, 255, 150), 1.5));
            painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), box.height() / 2 - 1,
                                    box.height() / 2 - 1);
        }
    }
};

// The failure under the subtitle, on a plate of dark leather: red would not read on the glow
// behind the card, which is as light as any red. The plate and the red keep at least 4.5:1
// between them, and the text wraps over as many lines as it needs.
class FailureLine : public QLabel {
public:
    static constexpr int widest = 280;

    explicit FailureLine(QWidget *parent)
        : QLabel(parent) {
        setTextFormat(Qt::PlainText);
        setAlignment(Qt::AlignHCenter);
        setWordWrap(true);
        setFont(diarySystemFont(12));
        setContentsMargins(12, 7, 12, 7);
        QPalette palette = this->palette();
        palette.setColor(QPalette::WindowText, colorFromHex(QStringLiteral("FF8A80")));
        setPalette(palette);
    }

    // As wide as a short text needs, and no wider than the card's column.
    void showText(const QString &text) {
        setText(text);
        const QMargins margins = contentsMargins();
        const int needed = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text))) +
                           margins.left() + margins.right() + 1;
        setFixedWidth(std::min(needed, widest));
        setVisible(!text.isEmpty());
    }

protected:
    void paintEvent(QPaintEvent *event) override {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(withOpacity(colorFromHex(QStringLiteral("26140A")), 0.78));
            painter.drawRoundedRect(QRectF(rect()), 8, 8);
        }
        QLabel::paintEvent(event);
    }
};

QLabel *textLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

DiaryLockCard::DiaryLockCard(QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("lockCard"));
    auto *backdrop = new MacFrostedBackdrop(this);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(backdrop, 0, 0);

    auto *content = new QWidget(this);
    auto *stack = new QVBoxLayout(content);
    stack->setSpacing(24);
    stack->addStretch(1);
    auto *lock =
        new DiaryGlyphView(DiaryGlyph(DiaryGlyphSymbol::lockFill), 48, diaryAccentColor(), content);
    stack->addWidget(lock, 0, Qt::AlignHCenter);
    QFont title(QStringLiteral("Georgia"));
    title.setPixelSize(32);
    QLabel *titleLine = textLabel(tr("My Diary"), title, diaryAccentColor(), content);
    stack->addWidget(titleLine, 0, Qt::AlignHCenter);
    QColor subtitle(Qt::white);
    subtitle.setAlphaF(0.6f);
    QLabel *subtitleLine =
        textLabel(tr("Authenticate to unlock"), diarySystemFont(14), subtitle, content);
    stack->addWidget(subtitleLine, 0, Qt::AlignHCenter);
    m_error = new FailureLine(content);
    m_error->setObjectName(QStringLiteral("authError"));
    m_error->hide();
    // Held to its width by the stretches beside it: aligned inside the column instead, the label
    // would be given the height of one line however many its text needs.
    auto *errorRow = new QHBoxLayout;
    errorRow->addStretch(1);
    errorRow->addWidget(m_error);
    errorRow->addStretch(1);
    stack->addLayout(errorRow);
    m_retry = textLabel(QString(), diarySystemFont(12), subtitle, content);
    m_retry->setObjectName(QStringLiteral("retryWait"));
    m_retry->hide();
    stack->addWidget(m_retry, 0, Qt::AlignHCenter);
    m_heading = {lock, titleLine, subtitleLine, m_error, m_retry};
    m_unlock = new UnlockButton(content);
    stack->addWidget(m_unlock, 0, Qt::AlignHCenter);
    stack->addStretch(1);
    grid->addWidget(content, 0, 0);
    connect(m_unlock, &QPushButton::clicked, this, &DiaryLockCard::unlockRequested);
    setFocusProxy(m_unlock);
}

void DiaryLockCard::setError(const QString &error) {
    static_cast<FailureLine *>(m_error)->showText(error);
}

QString DiaryLockCard::error() const {
    return m_error->isVisibleTo(this) ? m_error->text() : QString();
}

void DiaryLockCard::setRetryText(const QString &text) {
    m_retry->setText(text);
    m_retry->setVisible(!text.isEmpty());
    const bool wasEnabled = m_unlock->isEnabled();
    m_unlock->setEnabled(text.isEmpty());
    // Return presses Unlock again once the wait is over.
    const QWidget *focused = QApplication::focusWidget();
    if (!wasEnabled && m_unlock->isEnabled() && isVisible() &&
        (!focused || focused->window() == window()))
        m_unlock->setFocus();
}

void DiaryLockCard::keyPressEvent(QKeyEvent *event) {
    const bool confirms = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!confirms || event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (m_unlock->isEnabled())
        m_unlock->animateClick();
    event->accept();
}

QRect DiaryLockCard::headingArea() const {
    QRect area;
    for (const QWidget *part : m_heading)
        if (part->isVisibleTo(this))
            area |= QRect(part->mapToGlobal(QPoint(0, 0)), part->size());
    return area;
}

QString DiaryLockCard::retryText() const {
    return m_retry->isVisibleTo(this) ? m_retry->text() : QString();
}

DiaryPasswordDialog::DiaryPasswordDialog(QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("passwordDialog"));
    setWindowTitle(tr("Unlock"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    m_reason = new QLabel(this);
    QFont bold = m_reason->font();
    bold.setBold(true);
    m_reason->setFont(bold);
    layout->addWidget(m_reason);
    m_messages = new QLabel(this);
    m_messages->setObjectName(QStringLiteral("messages"));
    m_messages->setTextFormat(Qt::PlainText);
    m_messages->setWordWrap(true);
    m_messages->hide();
    layout->addWidget(m_messages);
    auto *row = new QHBoxLayout;
    m_prompt = new QLabel(this);
    m_prompt->setTextFormat(Qt::PlainText);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("password"));
    m_prompt->setBuddy(m_field);
    row->addWidget(m_prompt);
    row->addWidget(m_field, 1);
    layout->addLayout(row);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &DiaryPasswordDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &DiaryPasswordDialog::reject);
    m_field->setEnabled(false);
    m_ok->setEnabled(false);
}

DiaryPasswordDialog::~DiaryPasswordDialog() {
    // A question is answered exactly once, even by a dialog that goes before it is answered.
    if (m_answer)
        std::exchange(m_answer, {})(std::nullopt);
    wipe();
}

void DiaryPasswordDialog::begin(const QString &reason) {
    m_reason->setText(reason);
    m_messages->clear();
    m_messages->hide();
    m_prompt->clear();
    m_field->setEnabled(false);
    m_ok->setEnabled(false);
    m_wanted = true;
    present();
}

void DiaryPasswordDialog::ask(const QString &prompt, bool echo, Answer answer) {
    if (m_answer) // a question left unanswered is cancelled by the next one
        std::exchange(m_answer, {})(std::nullopt);
    m_answer = std::move(answer);
    qCInfo(lcApp) << "the unlock asks a question";
    m_prompt->setText(prompt.trimmed());
    m_field->setEchoMode(echo ? QLineEdit::Normal : QLineEdit::Password);
    m_field->setEnabled(true);
    m_ok->setEnabled(true);
    m_wanted = true;
    present();
    m_field->setFocus();
    // Only now that the dialog may be showing: showing it gives the keyboard to Cancel, where
    // turning the field and OK off left it after the last answer or cancel, and a dialog's button
    // given the keyboard takes the dialog's Return. Made default before, OK lost Return to Cancel.
    m_ok->setDefault(true);
}

void DiaryPasswordDialog::tell(const QString &message, bool isError) {
    Q_UNUSED(isError)
    const QString shown = m_messages->text();
    m_messages->setText(shown.isEmpty() ? message : shown + QLatin1Char('\n') + message);
    m_messages->show();
    m_wanted = true;
    present();
}

QPoint DiaryPasswordDialog::origin(const QRect &screen, const QRect &owner, const QRect &clearOf,
                                   const QSize &frameSize) {
    constexpr int gap = 16;
    const int x = std::clamp(owner.center().x() + 1 - frameSize.width() / 2, screen.left(),
                             std::max(screen.left(), screen.right() + 1 - frameSize.width()));
    const int below = clearOf.bottom() + 1 + gap;
    const int above = clearOf.top() - gap - frameSize.height();
    if (below + frameSize.height() <= screen.bottom() + 1 || above < screen.top())
        return {x,
                std::max(screen.top(), std::min(below, screen.bottom() + 1 - frameSize.height()))};
    return {x, above};
}

void DiaryPasswordDialog::present() {
    if (!m_wanted || isVisible())
        return;
    // Shown before the window it belongs to was on screen (the unlock starts as that window
    // appears), the dialog was left undrawn and without the keyboard by the window manager, and
    // the unlock waited where nobody could see it. It waits for that window instead.
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (owner && owner->isVisible() && !owner->isMinimized() &&
        !(owner->windowHandle() && owner->windowHandle()->isExposed())) {
        QTimer::singleShot(20, this, [this] { present(); });
        return;
    }
    if (const QRect clear = m_clearOf ? m_clearOf() : QRect(); owner && clear.isValid()) {
        // Centred over the window, as the window manager would put it, it hid the card's title.
        adjustSize();
        const QRect frame = owner->frameGeometry();
        const QSize decorations = frame.size() - owner->size();
        const QScreen *screen = owner->screen();
        move(origin(screen ? screen->availableGeometry() : frame, frame, clear,
                    size() + decorations));
    }
    open();
}

namespace {

class DialogConversation : public AuthenticationConversation {
public:
    explicit DialogConversation(DiaryPasswordDialog *dialog)
        : m_dialog(dialog) {}

    void begin(const QString &reason) override {
        if (m_dialog)
            m_dialog->begin(reason);
    }
    void ask(const QString &prompt, bool echo, Answer answer) override {
        if (m_dialog)
            m_dialog->ask(prompt, echo, std::move(answer));
        else
            answer(std::nullopt);
    }
    void tell(const QString &message, bool isError) override {
        if (m_dialog)
            m_dialog->tell(message, isError);
    }
    void finish() override {
        if (m_dialog)
            m_dialog->finish();
    }

private:
    QPointer<DiaryPasswordDialog> m_dialog;
};

} // namespace

std::shared_ptr<AuthenticationConversation> DiaryPasswordDialog::conversation() {
    return std::make_shared<DialogConversation>(this);
}

void DiaryPasswordDialog::finish() {
    m_wanted = false;
    if (m_answer)
        std::exchange(m_answer, {})(std::nullopt);
    wipe();
    QDialog::accept();
}

QString DiaryPasswordDialog::messages() const {
    return m_messages->text();
}

void DiaryPasswordDialog::submit() {
    if (!m_answer)
        return;
    QString typed = m_field->text();
    wipe();
    m_field->setEnabled(false);
    m_ok->setEnabled(false);
    std::exchange(m_answer, {})(std::move(typed));
}

void DiaryPasswordDialog::reject() {
    m_wanted = false;
    wipe();
    if (m_answer)
        std::exchange(m_answer, {})(std::nullopt);
    QDialog::reject();
}

void DiaryPasswordDialog::wipe() {
    // Overwrite the field's text before letting it go, so the secret does not linger.
    const int length = int(m_field->text().size());
    m_field->setText(QString(length, QLatin1Char(' ')));
    m_field->clear();
}

} // namespace velmora
