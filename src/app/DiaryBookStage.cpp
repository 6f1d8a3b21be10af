#include "app/DiaryBookStage.h"

#include "book/DiarySoftShadow.h"
#include "book/MacBookShadow.h"
#include "book/MacClosedCover.h"
#include "book/MacFrostedBackdrop.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <QPainter>
#include <QPainterPath>

#include <optional>

namespace velmora {

// Paints the transition over the stage; takes no input, so clicks while the cover moves go to
// what lies beneath.
class DiaryBookStage::SwingLayer : public QWidget {
public:
    explicit SwingLayer(DiaryBookStage *stage)
        : QWidget(stage)
        , m_stage(stage) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const double progress = m_stage->m_transition.progress();
        const QRectF book = fittedBookRect(QRectF(rect()));
        // The book's own shadow comes in as the pages do.
        const double scale = book.width() / diaryBookSize.width();
        if (!m_bookShadow || m_shadowScale != scale) {
            m_bookShadow.emplace(QColor(0, 0, 0, 115), 28 * scale, QPointF(0, 10 * scale));
            m_shadowScale = scale;
        }
        painter.setOpacity(progress);
        m_bookShadow->paint(painter, bookShadowShape(book));
        painter.setOpacity(1);
        paintCoverSwing(painter, book, progress, m_stage->m_coverImage, m_stage->m_bookImage,
                        m_stage->m_coverShadow.image, m_stage->m_coverShadow.rect);
    }

private:
    DiaryBookStage *m_stage;
    std::optional<DiarySoftShadow> m_bookShadow;
    double m_shadowScale = 0;
};

DiaryBookStage::DiaryBookStage(std::shared_ptr<UserDefaultsSettingsStore> settings,
                               BookFactory bookFactory, QWidget *parent,
                               std::function<double()> now)
    : QWidget(parent)
    , m_settings(std::move(settings))
    , m_bookFactory(std::move(bookFactory))
    , m_transition(nullptr, std::move(now)) {
    m_backdrop = new MacFrostedBackdrop(this);
    m_cover = new MacClosedCover(QString(), false, this);
    m_swing = new SwingLayer(this);
    m_swing->hide();
    refreshCover();
    connect(m_cover, &MacClosedCover::openRequested, this, &DiaryBookStage::openDiary);
    connect(&m_transition, &DiaryCoverTransition::progressChanged, m_swing,
            qOverload<>(&QWidget::update));
    connect(&m_transition, &DiaryCoverTransition::phaseChanged, this, &DiaryBookStage::applyPhase);
    if (m_settings) {
        connect(m_settings.get(), &UserDefaultsSettingsStore::userNameChanged, this,
                &DiaryBookStage::refreshCover);
        connect(m_settings.get(), &UserDefaultsSettingsStore::objectWillChange, this, [this] {
            QMetaObject::invokeMethod(this, &DiaryBookStage::refreshCover, Qt::QueuedConnection);
        });
    }
    setFocusPolicy(Qt::StrongFocus);
}

void DiaryBookStage::refreshCover() {
    if (!m_settings)
        return;
    m_cover->setUserName(m_settings->userName());
    m_cover->setShowsPrivacyNote(!m_settings->defaults()->boolValue(hasLaunchedBeforeKey));
}

void DiaryBookStage::ensureBook() {
    if (m_book || !m_bookFactory)
        return;
    m_book = m_bookFactory(this);
    if (!m_book)
        return;
    m_book->setGeometry(rect());
    m_book->hide();
    m_book->stackUnder(m_cover);
    Q_EMIT bookViewCreated(m_book);
}

void DiaryBookStage::captureImages() {
    const QRectF book = fittedBookRect(QRectF(rect()));
    const qreal ratio = devicePixelRatioF();
    const QRect coverArea = m_cover->coverRect().toAlignedRect();
    m_coverImage = m_cover->grab(coverArea);
    m_bookImage = m_book ? m_book->grab() : QPixmap();
    if (m_coverShadow.image.isNull() || m_coverShadowSize != book.size() ||
        m_coverShadow.image.devicePixelRatio() != ratio) {
        m_coverShadow = makeCoverShadow(book, ratio);
        m_coverShadowSize = book.size();
    }
}

void DiaryBookStage::openDiary() {
    if (m_transition.isAnimating() || m_transition.showDiary())
        return;
    if (m_settings && !m_settings->defaults()->boolValue(hasLaunchedBeforeKey)) {
        Q_EMIT m_settings->objectWillChange();
        m_settings->defaults()->setBool(hasLaunchedBeforeKey, true);
    }
    ensureBook();
    captureImages();
    m_transition.openDiary();
}

void DiaryBookStage::closeDiary() {
    if (!m_transition.showDiary())
        return;
    refreshCover();
    captureImages();
    m_transition.closeDiary();
}

void DiaryBookStage::applyPhase() {
    using Phase = DiaryCoverTransition::Phase;
    const Phase phase = m_transition.phase();
    const bool moving = phase == Phase::opening || phase == Phase::closing;
    m_swing->setVisible(moving);
    if (moving)
        m_swing->raise();
    if (m_book)
        m_book->setVisible(phase == Phase::open);
    m_cover->setVisible(phase == Phase::closed);
    if (!moving) {
        // The pictures only serve the swing; the next one takes its own.
        m_coverImage = QPixmap();
        m_bookImage = QPixmap();
    }
    if (phase == Phase::open && m_book)
        m_book->setFocus();
    if (phase == Phase::closed)
        m_cover->setFocus();
}

void DiaryBookStage::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    for (QWidget *layer : std::initializer_list<QWidget *>{m_backdrop, m_cover, m_swing})
        layer->setGeometry(rect());
    if (m_book)
        m_book->setGeometry(rect());
}

} // namespace velmora
