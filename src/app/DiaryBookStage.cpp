#include "app/DiaryBookStage.h"

#include "book/DiarySoftShadow.h"
#include "book/DiaryStage.h"
#include "book/MacBookShadow.h"
#include "book/MacClosedCover.h"
#include "book/MacFrostedBackdrop.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <QAccessibleWidget>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QShowEvent>

#include <optional>

namespace velmora {

// Shows the open book at the stage's scale: the book lies in a scene of its design size, seen
// through a view that scales it to fit and centres it. Clicks, drags, keys and the caret pass
// through the same scale, and the book paints itself at the density it is shown at.
class DiaryBookStage::BookHost : public QGraphicsView {
public:
    explicit BookHost(QWidget *parent)
        : QGraphicsView(parent) {
        m_scene.setSceneRect(QRectF(QPointF(), diaryBookSize));
        m_scene.setItemIndexMethod(QGraphicsScene::NoIndex);
        setScene(&m_scene);
        setObjectName(QStringLiteral("diary-book-host"));
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setAlignment(Qt::AlignCenter);
        setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
        // The backdrop and the book's shadow show around the book.
        setBackgroundBrush(Qt::NoBrush);
        setAutoFillBackground(false);
        viewport()->setAutoFillBackground(false);
        setAttribute(Qt::WA_TranslucentBackground);
        viewport()->setAttribute(Qt::WA_TranslucentBackground);
        // A menu opened on the book (the editor's, a card field's) is an item of this scene, and
        // once it closes on a choice the scene leaves the keyboard with no item: what was typed
        // next was lost. The book takes it back, and gives it to the widget that had it.
        connect(&m_scene, &QGraphicsScene::focusItemChanged, this,
                [this](QGraphicsItem *now, QGraphicsItem *before) {
                    const auto *popup = qgraphicsitem_cast<QGraphicsProxyWidget *>(before);
                    if (!now && popup && popup != m_proxy && popup->widget() &&
                        popup->widget()->windowType() == Qt::Popup && m_proxy &&
                        m_proxy->isVisible() && hasFocus())
                        m_proxy->setFocus(Qt::PopupFocusReason);
                });
    }

    ~BookHost() override {
        // The book goes while the host can still answer for it.
        delete m_proxy;
    }

    QWidget *book() const { return m_proxy ? m_proxy->widget() : nullptr; }

    void embed(QWidget *book) {
        m_proxy = m_scene.addWidget(book);
        m_proxy->setPos(0, 0);
        m_proxy->setFocusPolicy(Qt::StrongFocus);
    }

    // Scales the book to the size the host is given (also while hidden, when no resize event
    // comes): the smaller of the two ratios, so that the whole book shows.
    void fit(QSize size) {
        // A hair under the exact ratio, so that rounding never makes the book larger than the view
        // and gives it something to scroll.
        const double scale = diaryBookScale(QSizeF(size)) * (1 - 1e-9);
        if (scale > 0 && transform() != QTransform::fromScale(scale, scale))
            setTransform(QTransform::fromScale(scale, scale));
    }

    // The book takes the keyboard: the host's scene gives it to the proxy, the proxy to the
    // book's focused widget.
    void focusBook() {
        if (!m_proxy)
            return;
        setFocus(Qt::OtherFocusReason);
        m_proxy->setFocus(Qt::OtherFocusReason);
    }

protected:
    // A menu opened on the book is an item of this scene, not a window of its own, so the
    // window's shortcuts and the menu bar's see its keys first, here and again as the scene hands
    // each key on to the menu, and turned or wrote on the page under it. While one is open,
    // every key is the menu's.
    bool event(QEvent *event) override {
        if (event->type() == QEvent::ShortcutOverride && claimKeysForOpenMenus()) {
            event->accept();
            return true;
        }
        return QGraphicsView::event(event);
    }
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->windowType() == Qt::Popup) {
            event->accept();
            return true;
        }
        return QGraphicsView::eventFilter(watched, event);
    }

    // The scene forgets which item had the keyboard when it is told twice that it lost it, as a
    // menu opened with Alt does (its menu takes the keyboard, then the menu bar): the keyboard
    // came back to the view and went no further, and what was typed next was lost. The book is
    // the one item here that takes it.
    void focusInEvent(QFocusEvent *event) override {
        QGraphicsView::focusInEvent(event);
        if (m_proxy && m_proxy->isVisible() && !m_scene.focusItem())
            m_proxy->setFocus(event->reason());
    }
    void resizeEvent(QResizeEvent *event) override {
        QGraphicsView::resizeEvent(event);
        fit(viewport()->size());
    }
    // The book fits the view: nothing scrolls, whatever a key or the wheel asks.
    void scrollContentsBy(int, int) override {}

private:
    // Whether a menu is open on the book; each open menu's keys then come here first.
    bool claimKeysForOpenMenus() {
        bool open = false;
        for (QGraphicsItem *item : m_scene.items())
            if (const auto *shown = qgraphicsitem_cast<QGraphicsProxyWidget *>(item);
                shown && shown != m_proxy && shown->isVisible() && shown->widget() &&
                shown->widget()->windowType() == Qt::Popup) {
                shown->widget()->installEventFilter(this);
                open = true;
            }
        return open;
    }

    QGraphicsScene m_scene;
    QGraphicsProxyWidget *m_proxy = nullptr;
};

namespace {

// The book's widgets live in the host's scene, outside the window's tree of widgets; to screen
// readers the book is the host's one child, and the host its parent.
class BookHostAccessible : public QAccessibleWidget {
public:
    explicit BookHostAccessible(QGraphicsView *host)
        : QAccessibleWidget(host, QAccessible::Grouping) {}

    int childCount() const override { return book() ? 1 : 0; }
    QAccessibleInterface *child(int index) const override {
        QWidget *shown = book();
        return index == 0 && shown ? QAccessible::queryAccessibleInterface(shown) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child && book() && child->object() == book() ? 0 : -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override {
        QAccessibleInterface *only = child(0);
        return only && only->rect().contains(x, y) ? only : nullptr;
    }

private:
    QWidget *book() const {
        const auto *view = static_cast<const QGraphicsView *>(widget());
        for (QGraphicsItem *item : view->items())
            if (auto *proxy = dynamic_cast<QGraphicsProxyWidget *>(item);
                proxy && proxy->widget() && proxy->widget()->isVisible())
                return proxy->widget();
        return nullptr;
    }
};

class EmbeddedBookAccessible : public QAccessibleWidget {
public:
    EmbeddedBookAccessible(QWidget *book, QGraphicsView *host)
        : QAccessibleWidget(book)
        , m_host(host) {}

    QAccessibleInterface *parent() const override {
        return m_host ? QAccessible::queryAccessibleInterface(m_host.data())
                      : QAccessibleWidget::parent();
    }

private:
    QPointer<QGraphicsView> m_host;
};

QGraphicsView *hostOf(const QWidget *book) {
    const QGraphicsProxyWidget *proxy = book->graphicsProxyWidget();
    if (!proxy || !proxy->scene() || proxy->scene()->views().isEmpty())
        return nullptr;
    QGraphicsView *view = proxy->scene()->views().constFirst();
    return view->objectName() == QStringLiteral("diary-book-host") ? view : nullptr;
}

QAccessibleInterface *bookHostFactory(const QString &, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (auto *view = qobject_cast<QGraphicsView *>(widget);
        view && view->objectName() == QStringLiteral("diary-book-host"))
        return new BookHostAccessible(view);
    if (QGraphicsView *host = widget->isWindow() ? hostOf(widget) : nullptr)
        return new EmbeddedBookAccessible(widget, host);
    return nullptr;
}

} // namespace

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
    static const bool accessible = [] {
        QAccessible::installFactory(bookHostFactory);
        return true;
    }();
    Q_UNUSED(accessible);
    m_backdrop = new MacFrostedBackdrop(this);
    m_bookShadow = new MacBookShadow(this);
    m_bookShadow->hide();
    m_host = new BookHost(this);
    m_host->hide();
    m_host->installEventFilter(this);
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

QRectF DiaryBookStage::bookRect() const {
    return fittedBookRect(QRectF(rect()));
}

double DiaryBookStage::bookScale() const {
    return diaryBookScale(QSizeF(size()));
}

void DiaryBookStage::refreshCover() {
    if (!m_settings)
        return;
    m_cover->setUserName(m_settings->userName());
    m_cover->setShowsPrivacyNote(!m_settings->hasLaunchedBefore());
}

void DiaryBookStage::ensureBook() {
    if (m_book || !m_bookFactory)
        return;
    QWidget *book = m_bookFactory(nullptr);
    if (!book)
        return;
    book->hide();
    m_book = book;
    m_host->embed(book);
    Q_EMIT bookViewCreated(m_book);
}

void DiaryBookStage::captureImages() {
    const QRectF book = bookRect();
    const qreal ratio = devicePixelRatioF();
    const QRect coverArea = m_cover->coverRect().toAlignedRect();
    m_coverImage = m_cover->grab(coverArea);
    // At the density the book is shown at, so that the swing draws it pixel for pixel.
    m_bookImage = m_book ? diaryStagePicture(m_book) : QPixmap();
    if (m_coverShadow.image.isNull() || m_coverShadowSize != book.size() ||
        m_coverShadow.image.devicePixelRatio() != ratio) {
        m_coverShadow = makeCoverShadow(book, ratio);
        m_coverShadowSize = book.size();
    }
}

void DiaryBookStage::openDiary() {
    if (m_transition.isAnimating() || m_transition.showDiary())
        return;
    if (m_settings && !m_settings->hasLaunchedBefore())
        m_settings->setHasLaunchedBefore(true);
    ensureBook();
    if (m_book)
        Q_EMIT bookWillAppear(m_book);
    captureImages();
    m_openingKeyHeld = true;
    m_transition.openDiary();
}

void DiaryBookStage::refreshBookImage() {
    if (!m_book || m_transition.phase() != DiaryCoverTransition::Phase::opening)
        return;
    // The old picture goes first: two whole pages at once would be the swing's largest moment.
    m_bookImage = QPixmap();
    m_bookImage = diaryStagePicture(m_book);
    m_swing->update();
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
    applyBookVisibility();
    m_cover->setVisible(phase == Phase::closed);
    if (!moving) {
        // The pictures only serve the swing; the next one takes its own.
        m_coverImage = QPixmap();
        m_bookImage = QPixmap();
    }
    if (phase == Phase::open && m_book) {
        m_host->focusBook();
        // The book may have given its writing surface the keyboard already, while the cover
        // swung; only a book with no focus of its own takes it itself.
        if (!m_book->focusWidget())
            m_book->setFocus();
    }
    if (phase == Phase::closed)
        m_cover->setFocus();
    // The cover that had the keyboard is gone and the book is not shown yet.
    if (phase == Phase::opening)
        setFocus(Qt::OtherFocusReason);
}

bool DiaryBookStage::isOpeningKeyRepeat(const QKeyEvent &event) {
    // Only repeats of Return go on with it: any other key, or Return let go or pressed afresh,
    // ends it.
    m_openingKeyHeld = m_openingKeyHeld && event.isAutoRepeat() &&
                       (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter);
    return m_openingKeyHeld;
}

// The open book's keys pass through its host.
bool DiaryBookStage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_host &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        if (isOpeningKeyRepeat(static_cast<const QKeyEvent &>(*event)))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool DiaryBookStage::handKeyToBook(QKeyEvent *event) {
    if (isOpeningKeyRepeat(*event))
        return true;
    if (m_transition.phase() != DiaryCoverTransition::Phase::opening || !m_book)
        return false;
    const std::unique_ptr<QKeyEvent> handed(event->clone());
    handed->accept();
    return QCoreApplication::sendEvent(m_book, handed.get()) && handed->isAccepted();
}

void DiaryBookStage::keyPressEvent(QKeyEvent *event) {
    if (!handKeyToBook(event))
        QWidget::keyPressEvent(event);
}

void DiaryBookStage::keyReleaseEvent(QKeyEvent *event) {
    if (!handKeyToBook(event))
        QWidget::keyReleaseEvent(event);
}

// The book is on screen while it is open and the stage is: hidden with the stage (the window
// closed, the lock card shown), as a child widget would be, since it lives outside the stage's
// children.
void DiaryBookStage::applyBookVisibility() {
    const bool open = m_transition.phase() == DiaryCoverTransition::Phase::open;
    m_host->setVisible(open && m_book);
    m_bookShadow->setVisible(open && m_book);
    if (m_book)
        m_book->setVisible(open && isVisible());
}

void DiaryBookStage::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    for (QWidget *layer :
         std::initializer_list<QWidget *>{m_backdrop, m_bookShadow, m_host, m_cover, m_swing})
        layer->setGeometry(rect());
    m_host->fit(size());
}

void DiaryBookStage::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        applyBookVisibility();
}

void DiaryBookStage::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        applyBookVisibility();
}

} // namespace velmora
