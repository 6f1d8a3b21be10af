#include "app/VuzIvoduRootView.h"

#include "app/DiaryBookStage.h"
#include "app/DiaryLockCard.h"
#include "app/DiaryLockController.h"
#include "book/theme/DiaryTheme.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace velmora {

namespace {

class LoadFailureCard : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), diaryPaperColor());
    }
};

// The warning triangle above the card's title.
class WarningGlyph : public QWidget {
public:
    explicit WarningGlyph(QWidget *parent)
        : QWidget(parent) {
        setFixedSize(56, 52);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath triangle;
        triangle.moveTo(28, 2);
        triangle.lineTo(54, 48);
        triangle.lineTo(2, 48);
        triangle.closeSubpath();
        QPen pen(diaryAccentColor(), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(diaryAccentColor());
        painter.drawPath(triangle);
        painter.setPen(Qt::NoPen);
        painter.setBrush(diaryPaperColor());
        painter.drawRoundedRect(QRectF(25.5, 16, 5, 19), 2.5, 2.5);
        painter.drawEllipse(QPointF(28, 41), 3, 3);
    }
};

// Wrapped text at most 400 wide, centred: a label aligned inside its layout would lose the
// height its wrapped lines need.
void addCentredText(QVBoxLayout *layout, QLabel *label) {
    auto *row = new QHBoxLayout;
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addStretch(0);
    row->addWidget(label, 1);
    row->addStretch(0);
    layout->addLayout(row);
}

QString colourName(const QColor &colour, double opacity = 1.0) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(opacity);
}

} // namespace

VuzIvoduRootView::VuzIvoduRootView(LaunchState launch, DiaryCommandRouter &router,
                                   BookViewFactory bookViewFactory, QWidget *parent)
    : QWidget(parent)
    , m_launch(std::move(launch))
    , m_router(&router)
    , m_bookViewFactory(std::move(bookViewFactory)) {
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    setMinimumSize(390, 512);

    // The lock stands before the load-failure card too: that card restores backups and leads
    // to the settings, where the lock is switched off.
    const auto &settings = m_launch.settingsStore;
    m_lock =
        new DiaryLockController(settings ? settings->defaults() : nullptr, m_launch.authenticator,
                                this, m_launch.lockRetryDelays, m_launch.clock);
    m_lockCard = new DiaryLockCard(this);
    m_stack->addWidget(m_lockCard);
    connect(m_lock, &DiaryLockController::changed, this, &VuzIvoduRootView::showContent);
    connect(m_lockCard, &DiaryLockCard::unlockRequested, m_lock,
            [this] { m_lock->authenticate(); });
    if (settings)
        connect(settings.get(), &UserDefaultsSettingsStore::objectWillChange, m_lock,
                &DiaryLockController::refreshAfterSettingsChange);
    showContent();

    if (m_launch.isTestMode) {
        m_testModeMarker = new QWidget(this);
        m_testModeMarker->setObjectName(testModeIdentifier);
        m_testModeMarker->setAccessibleName(testModeIdentifier);
        m_testModeMarker->setGeometry(0, 0, 1, 1);
        m_testModeMarker->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_testModeMarker->raise();
    }

    connect(&router, &DiaryCommandRouter::lastEventChanged, this,
            [this](const DiaryCommandRouter::Event &event) { handle(event); });
    // A command sent just before this view existed (New Entry with the window closed) is still
    // handled, once, as soon as the view is set up.
    QTimer::singleShot(0, this, [this] {
        if (m_router && m_router->lastEvent())
            handle(*m_router->lastEvent());
    });
}

std::optional<QString> VuzIvoduRootView::loadFailureMessage() const {
    if (!m_loadFailureCard || m_stack->currentWidget() != m_loadFailureCard)
        return std::nullopt;
    if (m_launch.runtimeError)
        return m_launch.runtimeError;
    return m_launch.persistenceError;
}

bool VuzIvoduRootView::showsBook() const {
    return m_stage && m_stack->currentWidget() == m_stage;
}

bool VuzIvoduRootView::showsLockCard() const {
    return m_stack->currentWidget() == m_lockCard;
}

bool VuzIvoduRootView::isLocked() const {
    return m_lock->isLocked();
}

QWidget *VuzIvoduRootView::bookView() const {
    return m_stage ? m_stage->bookView() : nullptr;
}

QWidget *VuzIvoduRootView::unlockedContent() {
    if (m_stage)
        return m_stage;
    if (m_loadFailureCard)
        return m_loadFailureCard;
    if (m_launch.runtimeError || m_launch.persistenceError) {
        m_loadFailureCard = makeLoadFailureCard(
            m_launch.runtimeError ? *m_launch.runtimeError
                                  : m_launch.persistenceError.value_or(QString()));
        m_stack->addWidget(m_loadFailureCard);
        return m_loadFailureCard;
    }
    m_stage = new DiaryBookStage(m_launch.settingsStore, m_bookViewFactory, this);
    m_stage->setReduceMotion(m_reduceMotion);
    m_stack->addWidget(m_stage);
    return m_stage;
}

void VuzIvoduRootView::showContent() {
    m_lockCard->setError(m_lock->authError().value_or(QString()));
    m_lockCard->setRetryText(m_lock->retryText());
    QWidget *content = m_lock->isLocked() ? m_lockCard : unlockedContent();
    if (m_stack->currentWidget() == content)
        return;
    m_stack->setCurrentWidget(content);
    if (m_testModeMarker)
        m_testModeMarker->raise();
    if (isVisible())
        content->setFocus();
}

void VuzIvoduRootView::openDiary() {
    if (m_lock->isLocked() || !showsBook())
        return;
    m_stage->openDiary();
}

void VuzIvoduRootView::closeDiary() {
    if (m_stage)
        m_stage->closeDiary();
}

void VuzIvoduRootView::setReduceMotion(bool reduce) {
    m_reduceMotion = reduce;
    if (m_stage)
        m_stage->setReduceMotion(reduce);
}

QString VuzIvoduRootView::recoveryMessage() const {
    return m_recoveryLabel && m_recoveryLabel->isVisibleTo(this) ? m_recoveryLabel->text()
                                                                 : QString();
}

QWidget *VuzIvoduRootView::makeLoadFailureCard(const QString &message) {
    auto *card = new LoadFailureCard(this);
    auto *layout = new QVBoxLayout(card);
    layout->setSpacing(20);
    layout->addStretch(1);

    auto *glyph = new WarningGlyph(card);
    layout->addWidget(glyph, 0, Qt::AlignHCenter);

    auto *title = new QLabel(tr("Unable to Load Diary"), card);
    QFont titleFont(QStringLiteral("Georgia"));
    titleFont.setPixelSize(22);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: %1;").arg(colourName(diaryInkColor())));
    layout->addWidget(title, 0, Qt::AlignHCenter);

    const QString detailStyle = QStringLiteral("color: %1;").arg(colourName(diaryInkColor(), 0.7));
    auto *detail = new QLabel(message, card);
    detail->setObjectName(QStringLiteral("loadFailureMessage"));
    detail->setTextFormat(Qt::PlainText);
    detail->setWordWrap(true);
    detail->setAlignment(Qt::AlignHCenter);
    detail->setMaximumWidth(400);
    detail->setFont(diarySystemFont(13));
    detail->setStyleSheet(detailStyle);
    addCentredText(layout, detail);

    auto *restore = new QPushButton(tr("Restore from Backup"), card);
    restore->setObjectName(QStringLiteral("restoreFromBackup"));
    restore->setCursor(Qt::PointingHandCursor);
    restore->setStyleSheet(QStringLiteral("QPushButton { color: white; background: %1; border: "
                                          "none; border-radius: 8px; padding: 10px 20px; }")
                               .arg(colourName(diaryAccentColor())));
    layout->addWidget(restore, 0, Qt::AlignHCenter);
    restore->setVisible(!m_launch.runtimeError);

    m_recoveryLabel = new QLabel(card);
    m_recoveryLabel->setObjectName(QStringLiteral("recoveryMessage"));
    m_recoveryLabel->setTextFormat(Qt::PlainText);
    m_recoveryLabel->setWordWrap(true);
    m_recoveryLabel->setAlignment(Qt::AlignHCenter);
    m_recoveryLabel->setMaximumWidth(400);
    m_recoveryLabel->setFont(diarySystemFont(13));
    m_recoveryLabel->setStyleSheet(detailStyle);
    m_recoveryLabel->hide();
    addCentredText(layout, m_recoveryLabel);
    layout->addStretch(1);

    connect(restore, &QPushButton::clicked, this, [this] {
        if (!m_restore || m_isRestoring)
            return;
        m_isRestoring = true;
        const QPointer<VuzIvoduRootView> self(this);
        m_restore([self](const QString &line) {
            if (!self)
                return;
            self->m_isRestoring = false;
            self->m_recoveryLabel->setText(line);
            self->m_recoveryLabel->show();
        });
    });
    return card;
}

void VuzIvoduRootView::handle(const DiaryCommandRouter::Event &event) {
    if (!m_router || !m_router->claim(routerConsumer, event))
        return;
    switch (event.command) {
    case DiaryCommand::showShortcuts:
        showShortcutsAlert();
        break;
    case DiaryCommand::newEntry:
        if (showsBook()) {
            Q_EMIT openDiaryRequested();
            openDiary();
        }
        break;
    default:
        break;
    }
}

QString VuzIvoduRootView::shortcutsText() {
    return QStringList{
        QStringLiteral("Return   Open the Diary"),
        QStringLiteral("Ctrl N   New Entry"),
        QStringLiteral("Ctrl S   Save Draft"),
        QStringLiteral("Shift Ctrl L   Seal This Page"),
        QStringLiteral("Ctrl F   Search"),
        QStringLiteral("Ctrl T   Go to Today"),
        QStringLiteral("Ctrl PgUp  Ctrl PgDn   Turn the Page"),
        QStringLiteral("Esc   Close the Diary"),
        QStringLiteral("F11   Enter Full Screen"),
        QStringLiteral("Ctrl ,   Settings"),
    }
        .join(QLatin1Char('\n'));
}

void VuzIvoduRootView::showShortcutsAlert() {
    if (m_presentShortcuts) {
        m_presentShortcuts(shortcutsText());
        return;
    }
    QMessageBox alert(window());
    alert.setText(tr("Keyboard Shortcuts"));
    alert.setInformativeText(shortcutsText());
    alert.setStandardButtons(QMessageBox::Ok);
    alert.exec();
}

void VuzIvoduRootView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_testModeMarker)
        m_testModeMarker->raise();
    m_lock->refreshOnAppear();
    Q_EMIT appeared();
}

void VuzIvoduRootView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_testModeMarker)
        m_testModeMarker->setGeometry(0, 0, 1, 1);
}

} // namespace velmora
