#include "pagescreen/VuzIvoduPageWidget.h"

#include "book/DiaryDecorative.h"
#include "book/DiarySavedNote.h"
#include "book/DiaryStage.h"
#include "book/MacBookBinding.h"
#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "book/MacTextures.h"
#include "book/PaperSealRitualView.h"
#include "book/VuzIvoduLeaf.h"
#include "daily/DiaryDailyQuote.h"
#include "daily/DiaryWritingPrompt.h"
#include "pagescreen/LeafInkFeed.h"
#include "pagescreen/MacPageNotice.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/MacPageTurnView.h"
#include "pagescreen/PageLoadingLeaf.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/PageTypeAhead.h"
#include "pagescreen/VuzIvoduPageArea.h"
#include "pagescreen/VuzIvoduRecallCards.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHideEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVariantAnimation>

#include <algorithm>

namespace velmora {

namespace {

QDate civilDay(const DayKey &day) {
    return QDate::fromString(day.rawValue(), QStringLiteral("yyyy-MM-dd"));
}

QRect centred(QSize size, const QRect &within) {
    return QRect(within.center().x() - size.width() / 2, within.center().y() - size.height() / 2,
                 size.width(), size.height());
}

} // namespace

// A clear strip at a page edge that turns the drag on it into the page's edge drag: the travel
// since the press and, from the last movement's speed, where the pointer would come to rest. Both
// in the page's points, whatever the scale the book is shown at.
class VuzIvoduEdgeStrip : public QWidget {
public:
    VuzIvoduEdgeStrip(PageTurnDirection direction, VuzIvoduPageView &page, QWidget *parent)
        : QWidget(parent)
        , m_direction(direction)
        , m_page(page) {
        setCursor(Qt::OpenHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override {
        m_pressX = event->position().x();
        m_lastX = m_pressX;
        m_velocity = 0;
        m_dragging = false;
        m_clock.start();
    }

    void mouseMoveEvent(QMouseEvent *event) override {
        const double x = event->position().x();
        const double seconds = std::max(m_clock.restart(), qint64(1)) / 1000.0;
        m_velocity = (x - m_lastX) / seconds;
        m_lastX = x;
        const double translation = x - m_pressX;
        if (!m_dragging && std::abs(translation) < VuzIvoduPageView::edgeDragMinimumDistance)
            return;
        m_dragging = true;
        m_page.edgeDragChanged(translation, predicted(translation), m_direction);
    }

    void mouseReleaseEvent(QMouseEvent *event) override {
        if (!m_dragging)
            return;
        m_dragging = false;
        m_page.edgeDragEnded(predicted(event->position().x() - m_pressX));
    }

private:
    double predicted(double translation) const {
        return translation + m_velocity * VuzIvoduPageView::edgeDragDecelerationSeconds;
    }

    PageTurnDirection m_direction;
    VuzIvoduPageView &m_page;
    QElapsedTimer m_clock;
    double m_pressX = 0;
    double m_lastX = 0;
    double m_velocity = 0;
    bool m_dragging = false;
};

VuzIvoduPageWidget::VuzIvoduPageWidget(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                                       DiaryCommandRouter &router,
                                       UserDefaultsSettingsStore &settings,
                                       VuzIvoduPageTimings timings, QWidget *parent)
    : QWidget(parent)
    , m_controller(
          std::make_unique<VuzIvoduPageView>(session, pageSystem, settings, router, timings))
    , m_page(new VuzIvoduPageArea(this))
    , m_writableLeaf(new VuzIvoduLeaf(m_page))
    , m_writing(new QStackedWidget)
    , m_editor(new MacRuledTextView)
    , m_notice(new MacPageNotice)
    , m_empty(new QWidget)
    , m_readingLeaf(new MacReadingLeaf(m_page))
    , m_loadingLeaf(new PageLoadingLeaf(m_page))
    , m_turnView(new MacPageTurnView(
          [this](const PageDescriptor &descriptor) { return leafPicture(descriptor); }, m_page))
    , m_leadingStrip(new VuzIvoduEdgeStrip(PageTurnDirection::backward, *m_controller, m_page))
    , m_trailingStrip(new VuzIvoduEdgeStrip(PageTurnDirection::forward, *m_controller, m_page))
    , m_tools(new MacPageTools(m_page))
    , m_arrows(new MacPageArrows(m_page))
    , m_motionMarker(new QWidget(this))
    , m_pictureLeaf(std::make_unique<MacReadingLeaf>()) {
    m_editorInk = new LeafInkFeed([this](const QImage &ink) { m_editor->setInk(ink); }, this);
    // Later, not inside the refresh that asked: the leaf takes the ink in its next refresh.
    m_readingInk = new LeafInkFeed(
        [this](const QImage &) {
            QMetaObject::invokeMethod(
                this, [this] { refreshLeaf(); }, Qt::QueuedConnection);
        },
        this);
    setFixedSize(spreadWidth, spreadHeight);
    setObjectName(QStringLiteral("diary-page-screen"));
    m_page->setGeometry(bindingWidth, 0, spreadWidth - bindingWidth, spreadHeight);

    m_editor->setEditable(true);
    m_editor->setAccessibilityIdentifier(QStringLiteral("diary-editor"));
    m_editor->setAccessibleName(tr("Diary page"));
    m_writing->addWidget(m_editor);
    m_writing->addWidget(m_notice);
    m_writing->addWidget(m_empty);
    m_writableLeaf->setWriting(m_writing);
    m_readingLeaf->hide();
    m_loadingLeaf->setGeometry(m_page->rect());
    m_loadingLeaf->hide();
    m_pictureLeaf->setAttribute(Qt::WA_DontShowOnScreen);
    new MacBookBinding(this);

    const int pageWidth = spreadWidth - bindingWidth;
    m_turnView->setGeometry(m_page->rect());
    m_leadingStrip->setGeometry(0, 100, 34, spreadHeight - 100);
    m_trailingStrip->setGeometry(pageWidth - 34, 100, 34, spreadHeight - 100);
    m_tools->setGeometry(pageWidth - 232, 0, 232, 68);
    m_arrows->setGeometry(pageWidth - 82, spreadHeight - 57, 82, 57);
    m_motionMarker->setGeometry(0, 0, 1, 1);
    m_motionMarker->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (QWidget *hidden : std::initializer_list<QWidget *>{m_leadingStrip, m_trailingStrip})
        makeDecorative(hidden, DiaryClicks::stop);
    makeDecorative(m_turnView);

    VuzIvoduPageView &page = *m_controller;
    m_page->setActions([&page] { page.turnToPreviousPage(); }, [&page] { page.turnToNextPage(); },
                       [&page] { page.goToToday(); });
    // The edit road: whole texts in both directions, each side ignoring what it already shows.
    connect(m_editor, &MacRuledTextView::textEdited, &page,
            &VuzIvoduPageView::setEntryTextFromEditor);
    connect(&page, &VuzIvoduPageView::entryTextChanged, m_editor, &MacRuledTextView::setText);
    connect(&page, &VuzIvoduPageView::focusRequestChanged, m_editor,
            &MacRuledTextView::setFocusRequest);
    // The page's own requests (its first show, the delayed focus once a day is read) may come
    // while a card is open; closing the card asks again.
    m_editor->setFocusRequestCheck([&page] {
        return !page.showSearch() && !page.showCalendar() && !page.showSealConfirmation();
    });
    connect(m_notice, &MacPageNotice::actionTriggered, &page,
            &VuzIvoduPageView::confirmPastDateWriting);

    const auto refresh = [this] { refreshLeaf(); };
    connect(&session, &DiarySessionStore::authoringAccessChanged, this, refresh);
    connect(&session, &DiarySessionStore::selectedDayChanged, this, refresh);
    connect(&session, &DiarySessionStore::currentEntryChanged, this, refresh);
    connect(&pageSystem, &DiaryPageSystemStore::descriptorsChanged, this, refresh);
    connect(&pageSystem, &DiaryPageSystemStore::selectedLeafIndexChanged, this, refresh);
    connect(&page, &VuzIvoduPageView::saveStateNoteChanged, this, refresh);
    connect(&page, &VuzIvoduPageView::civilDateChanged, this, refresh);
    connect(&settings, &UserDefaultsSettingsStore::readingScaleChanged, this, refresh);
    connect(&page, &VuzIvoduPageView::editorFontChanged, this, [this] {
        refreshEditorFont();
        refreshEditorInk();
        fetchNeighbourInk();
    });
    connect(&page, &VuzIvoduPageView::handwritingChanged, this, [this] {
        m_editorInk->reload();
        m_readingInk->reload();
        // Synced pages may have changed the neighbouring days too.
        m_arrivingLeaves.clear();
        fetchNeighbourInk();
    });

    buildOverlays();
    m_recallCards = new VuzIvoduRecallCards(page, this, m_page, m_savedNote);
    connect(&pageSystem, &DiaryPageSystemStore::transitionChanged, this,
            &VuzIvoduPageWidget::refreshTurnLayers);
    connect(&page, &VuzIvoduPageView::edgeInteractionChanged, this,
            &VuzIvoduPageWidget::refreshTurnLayers);
    m_turnView->controller().setOnCompleted([this] { m_controller->finishPageTurn(); });
    connect(&session, &DiarySessionStore::selectedDayChanged, this, [this] { refreshChrome(); });
    connect(&page, &VuzIvoduPageView::civilDateChanged, this, [this] { refreshChrome(); });
    connect(m_tools, &MacPageTools::searchRequested, &page, &VuzIvoduPageView::toggleSearch);
    connect(m_tools, &MacPageTools::calendarRequested, this, [this] {
        if (QWidget *focused = focusWidget())
            focused->clearFocus();
        m_controller->openCalendar();
    });
    connect(m_tools, &MacPageTools::settingsRequested, &page, &VuzIvoduPageView::showSettings);
    connect(m_tools, &MacPageTools::closeRequested, &page, &VuzIvoduPageView::requestClose);
    connect(m_tools, &MacPageTools::todayRequested, &page, &VuzIvoduPageView::goToToday);
    connect(m_arrows, &MacPageArrows::previousRequested, &page,
            &VuzIvoduPageView::turnToPreviousPage);
    connect(m_arrows, &MacPageArrows::nextRequested, &page, &VuzIvoduPageView::turnToNextPage);
    connect(&page, &VuzIvoduPageView::showSavedNoteChanged, this, [this](bool show) {
        m_savedNoteMotion->setShown(show, m_controller->savedNoteAnimation());
    });
    connect(&page, &VuzIvoduPageView::showSealConfirmationChanged, this,
            &VuzIvoduPageWidget::refreshSealCard);
    connect(&page, &VuzIvoduPageView::showSealAcknowledgementChanged, this,
            &VuzIvoduPageWidget::refreshSealCard);
    connect(&page, &VuzIvoduPageView::persistenceErrorChanged, this,
            &VuzIvoduPageWidget::refreshPersistenceAlert);
    connect(&page, &VuzIvoduPageView::showLeavePromptChanged, this,
            &VuzIvoduPageWidget::refreshLeavePrompt);
    connect(&page, &VuzIvoduPageView::closeDiaryRequested, this,
            &VuzIvoduPageWidget::closeRequested);
    connect(&page, &VuzIvoduPageView::fullScreenToggleRequested, this, [this] {
        QWidget *shown = diaryStageWindow(this);
        shown->setWindowState(shown->windowState() ^ Qt::WindowFullScreen);
    });

    m_typeAhead = new PageTypeAhead(page, m_editor, this);
    m_typeAhead->watch(m_editor);
    m_typeAhead->watch(this);

    setTheme(m_theme);
    refreshEditorFont();
    refreshLeaf();
    refreshChrome();
}

VuzIvoduPageWidget::~VuzIvoduPageWidget() {
    // The window keeps its shortcuts; they go with the page they served.
    qDeleteAll(m_windowKeys);
    if (m_controller->isShown())
        m_controller->disappear();
}

// The page's keys answer wherever the keyboard is in its window (on the page, in a card, in the
// menus' absence), for as long as the page is on screen: Escape closes the topmost thing, and
// Ctrl+PgUp / Ctrl+PgDn turn the page unless a card or an alert covers it.
void VuzIvoduPageWidget::installWindowKeys() {
    QWidget *shownIn = diaryStageWindow(this);
    if (m_windowKeysOwner == shownIn && !m_windowKeys.isEmpty())
        return;
    qDeleteAll(m_windowKeys);
    m_windowKeys.clear();
    m_windowKeysOwner = shownIn;
    const auto key = [this, shownIn](const QKeySequence &keys, std::function<void()> action) {
        auto *shortcut = new QShortcut(keys, shownIn);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, this, std::move(action));
        m_windowKeys.append(shortcut);
    };
    VuzIvoduPageView &page = *m_controller;
    key(QKeySequence(Qt::Key_Escape), [&page] { page.handleEscape(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_PageDown), [&page] {
        if (!page.isPageCovered())
            page.turnToNextPage();
    });
    key(QKeySequence(Qt::CTRL | Qt::Key_PageUp), [&page] {
        if (!page.isPageCovered())
            page.turnToPreviousPage();
    });
}

QSize VuzIvoduPageWidget::sizeHint() const {
    return {spreadWidth, spreadHeight};
}

void VuzIvoduPageWidget::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    m_editor->setTheme(theme);
    m_notice->setTheme(theme);
    m_writableLeaf->setTheme(theme);
    m_readingLeaf->setTheme(theme);
    m_loadingLeaf->setTheme(theme);
    m_readingLeaf->textView()->setTheme(theme);
    m_pictureLeaf->setTheme(theme);
    m_pictureLeaf->textView()->setTheme(theme);
    m_tools->setTheme(theme);
    m_arrows->setTheme(theme);
    m_savedNote->setTheme(theme);
    m_sealCard->setTheme(theme);
    m_recallCards->setTheme(theme);
    update();
}

void VuzIvoduPageWidget::setSystemReduceMotion(bool reduce) {
    m_controller->setSystemReduceMotion(reduce);
    refreshChrome();
    // The writing surface follows the desktop's setting alone, not the launch flag.
    m_editor->setReducedMotion(reduce);
}

void VuzIvoduPageWidget::setSyncScheduler(std::function<void(std::chrono::nanoseconds)> schedule) {
    m_controller->setSyncScheduler(std::move(schedule));
}

void VuzIvoduPageWidget::setInkLibrary(MacInkLibrary *library) {
    m_editorInk->setLibrary(library);
    m_readingInk->setLibrary(library);
}

void VuzIvoduPageWidget::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    installWindowKeys();
    for (QShortcut *shortcut : std::as_const(m_windowKeys))
        shortcut->setEnabled(true);
    // Minimising and restoring the window is not the book opening again.
    if (!event->spontaneous())
        m_controller->appear();
}

void VuzIvoduPageWidget::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        for (QShortcut *shortcut : std::as_const(m_windowKeys))
            shortcut->setEnabled(false);
    if (!event->spontaneous())
        m_controller->disappear();
}

void VuzIvoduPageWidget::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(QRectF(bindingWidth, 0, spreadWidth - bindingWidth, spreadHeight),
                     m_theme.paper());
}

// --- The leaf ---------------------------------------------------------------------------------

std::optional<VuzIvoduLeafContent::Quote> VuzIvoduPageWidget::quoteFor(const DayKey &day) const {
    const DiaryDailyQuote quote = DiaryDailyQuote::quote(day);
    return VuzIvoduLeafContent::Quote{quote.text, quote.author};
}

QString VuzIvoduPageWidget::writingPrompt() const {
    const DiarySessionStore &session = m_controller->session();
    const QDateTime now = session.clock()->now();
    const int hour = session.calendar().timeZone().isValid()
                         ? now.toTimeZone(session.calendar().timeZone()).time().hour()
                         : now.time().hour();
    return velmora::writingPrompt(session.selectedDay(), m_controller->todayKey(), hour,
                                  m_controller->settings()
                                      .defaults()
                                      ->stringValue(UserDefaultsSettingsStore::userNameKey)
                                      .value_or(QString()));
}

VuzIvoduLeafContent VuzIvoduPageWidget::writableLeafContent() const {
    const DiarySessionStore &session = m_controller->session();
    VuzIvoduLeafContent content;
    content.date = civilDay(session.selectedDay());
    if (!content.date.isValid())
        content.date = session.calendar().civilDate(session.clock()->now());
    content.footerNote = m_controller->saveStateNote();
    content.quote = quoteFor(session.selectedDay());
    content.headerTrailingClearance = headerTrailingClearance;
    return content;
}

void VuzIvoduPageWidget::refreshLeaf() {
    const VuzIvoduPageView &page = *m_controller;
    // The editor going away (a sealed leaf, a notice) leaves the keyboard with the page, not with
    // whatever the toolkit finds next: a key typed on must not press "Write for this date".
    const bool editorHadFocus = m_editor->hasFocus();
    const auto keyboard = qScopeGuard([this, editorHadFocus] {
        if (editorHadFocus && !m_editor->isVisible())
            setFocus(Qt::OtherFocusReason);
    });
    const auto descriptor = page.pageSystem().selectedDescriptor();
    m_loadingLeaf->setVisible(!descriptor);
    if (!descriptor) {
        m_writableLeaf->hide();
        m_readingLeaf->hide();
        m_shownLeaf.reset();
        return;
    }
    // Another leaf replaces the one shown. The day changes first, then the leaves: the picture
    // taken at the first sign of the change is the old leaf whole, and it fades over the new one.
    const auto leaf = std::pair(descriptor->id, page.session().selectedDay());
    if (m_shownLeaf && *m_shownLeaf != leaf && !page.isPhysicalTurnRunning() &&
        page.leafChangeAnimation().isAnimated()) {
        QWidget *shown =
            m_readingLeaf->isHidden() ? static_cast<QWidget *>(m_writableLeaf) : m_readingLeaf;
        m_leafFade->fadeOut(diaryStagePicture(shown), page.leafChangeAnimation());
    }
    // Another day's page: its text, when it comes, is a new page's, written on from its end.
    if (m_editorDay != leaf.second) {
        m_editorDay = leaf.second;
        m_editor->startNewPage();
    }
    m_shownLeaf = leaf;
    // After the shown leaf's own requests.
    const auto neighbours = qScopeGuard([this] { fetchNeighbourInk(); });
    // After the picture of the old leaf, which keeps its ink while it fades.
    refreshEditorInk();
    if (descriptor->kind == PageKind::sealed) {
        QDate date = civilDay(descriptor->dayKey);
        if (!date.isValid())
            date = writableLeafContent().date;
        m_readingInk->show(leafInkRequest(*descriptor));
        m_readingLeaf->setLeaf(*descriptor, date, page.settings().readingScale(),
                               headerTrailingClearance, quoteFor(descriptor->dayKey),
                               m_readingInk->ink());
        m_readingLeaf->show();
        m_writableLeaf->hide();
        return;
    }
    m_readingInk->show(std::nullopt);
    m_writableLeaf->setContent(writableLeafContent());
    switch (page.pageContentKind()) {
    case PageContentKind::editor:
        m_editor->setPlaceholder(writingPrompt());
        m_writing->setCurrentWidget(m_editor);
        break;
    case PageContentKind::notice:
        if (const auto notice = page.pageNotice())
            m_notice->setNotice(notice->title, notice->detail, notice->actionTitle);
        m_writing->setCurrentWidget(m_notice);
        break;
    case PageContentKind::nothing:
        m_writing->setCurrentWidget(m_empty);
        break;
    }
    m_writableLeaf->show();
    m_readingLeaf->hide();
}

void VuzIvoduPageWidget::refreshEditorFont() {
    const QFont font = resolveDiaryFont(m_controller->selectedFont(), m_controller->fontSize());
    m_editor->setFontAndLineHeight(font, VuzIvoduPageView::lineHeight(font.pointSizeF()));
}

void VuzIvoduPageWidget::refreshEditorInk() {
    m_editorInk->show(LeafInkRequest{m_controller->session().selectedDay(), 0,
                                     m_editor->lineHeight(), VuzIvoduPageView::writingWidth});
}

// A leaf drawn for a turn shows the handwriting already fetched for the page or ahead of it; the
// turn cannot wait for the disk.
QImage VuzIvoduPageWidget::knownInk(const LeafInkRequest &request) const {
    for (const LeafInkFeed *feed : {m_editorInk, m_readingInk})
        if (const QImage ink = feed->knownInk(request); !ink.isNull())
            return ink;
    return QImage();
}

// A leaf's ink at the size its reading leaf and its turn picture draw it.
LeafInkRequest VuzIvoduPageWidget::leafInkRequest(const PageDescriptor &descriptor) const {
    const QFont font =
        resolveDiaryFont(resolvedFontName(descriptor.fontName),
                         descriptor.bodyPointSize * m_controller->settings().readingScale());
    return LeafInkRequest{descriptor.dayKey, descriptor.leafIndex,
                          VuzIvoduPageView::lineHeight(font.pointSizeF()),
                          VuzIvoduPageView::writingWidth};
}

// The leaves a turn can reach next, as the turn's picture and as the editor show them. Which leaf
// of a neighbouring day a turn lands on is known once that day is read and laid out, off the GUI
// thread; until then nothing is fetched for its picture rather than a leaf the turn may not show.
void VuzIvoduPageWidget::fetchNeighbourInk() {
    const DayKey shown = m_controller->session().selectedDay();
    // Midway through a change of day the leaves are still the old day's; the new ones follow.
    const auto current = m_controller->pageSystem().selectedDescriptor();
    if (!current || current->dayKey != shown)
        return;
    const LeafLayoutMetrics &metrics = m_controller->pageSystem().metrics();
    QList<LeafInkRequest> pictures;
    QList<LeafInkRequest> editors;
    QList<ArrivingLeaf> arriving;
    for (const auto direction : {PageTurnDirection::forward, PageTurnDirection::backward}) {
        const auto target = m_controller->adjacentDescriptor(direction);
        if (!target)
            continue;
        if (target->dayKey == shown) {
            pictures.append(leafInkRequest(*target));
            continue;
        }
        editors.append(LeafInkRequest{target->dayKey, 0, m_editor->lineHeight(),
                                      VuzIvoduPageView::writingWidth});
        const auto known = std::find_if(
            m_arrivingLeaves.cbegin(), m_arrivingLeaves.cend(), [&](const ArrivingLeaf &leaf) {
                return leaf.day == target->dayKey && leaf.direction == direction &&
                       leaf.metrics == metrics;
            });
        if (known == m_arrivingLeaves.cend()) {
            const quint64 search = ++m_arrivingSearches;
            arriving.append(
                ArrivingLeaf{target->dayKey, direction, metrics, std::nullopt, search, false});
            auto finding = findArrivingLeaf(target->dayKey, direction, search);
            Q_UNUSED(finding)
        } else {
            arriving.append(*known);
            // Only a sealed leaf is drawn with the reading leaf's ink.
            if (known->leaf && known->leaf->kind == PageKind::sealed)
                pictures.append(leafInkRequest(*known->leaf));
        }
    }
    m_arrivingLeaves = arriving;
    m_readingInk->fetchAhead(pictures);
    m_editorInk->fetchAhead(editors);
}

QCoro::Task<void> VuzIvoduPageWidget::findArrivingLeaf(DayKey day, PageTurnDirection direction,
                                                       quint64 search) {
    const QPointer<VuzIvoduPageWidget> self(this);
    std::optional<PageDescriptor> leaf;
    try {
        auto finding = m_controller->pageSystem().arrivingLeaf(day, direction);
        leaf = co_await finding;
    } catch (const std::exception &failure) {
        qCInfo(lcPageScreen) << "The leaf a turn into" << day.rawValue()
                             << "lands on is not known:" << failure.what();
    }
    if (!self)
        co_return;
    // Dropped when the page has moved on from this neighbour meanwhile.
    const auto wanted =
        std::find_if(m_arrivingLeaves.begin(), m_arrivingLeaves.end(),
                     [&](const ArrivingLeaf &known) { return known.search == search; });
    if (wanted == m_arrivingLeaves.end())
        co_return;
    wanted->leaf = leaf;
    wanted->searched = true;
    fetchNeighbourInk();
}

bool VuzIvoduPageWidget::isNeighbourInkFetched() const {
    return std::all_of(m_arrivingLeaves.cbegin(), m_arrivingLeaves.cend(),
                       [](const ArrivingLeaf &known) { return known.searched; }) &&
           m_editorInk->isAheadFetched() && m_readingInk->isAheadFetched();
}

// --- Turns, toolbar and arrows ------------------------------------------------------------------

QPixmap VuzIvoduPageWidget::leafPicture(const PageDescriptor &descriptor) {
    const VuzIvoduPageView &page = *m_controller;
    QDate date = civilDay(descriptor.dayKey);
    if (!date.isValid())
        date = writableLeafContent().date;
    m_pictureLeaf->setLeaf(descriptor, date, page.settings().readingScale(),
                           headerTrailingClearance, quoteFor(descriptor.dayKey),
                           knownInk(leafInkRequest(descriptor)));
    // At the density the leaf itself is shown at (the screen's and the stage's scale): the turn
    // draws it pixel for pixel.
    return diaryPicture(m_pictureLeaf.get(), diaryStagePixelRatio(this));
}

void VuzIvoduPageWidget::refreshTurnLayers() {
    VuzIvoduPageView &page = *m_controller;
    const PageTransitionState &transition = page.pageSystem().transition();
    m_turnView->controller().update(transition);
    const bool turning = page.isPhysicalTurnRunning();
    const bool dragging = page.showsUnderLeaf();
    if (dragging) {
        const PageTransitionState &drag = page.edgeInteraction().state;
        if (m_dragPicture.isNull()) {
            QWidget *current =
                m_readingLeaf->isVisible() ? static_cast<QWidget *>(m_readingLeaf) : m_writableLeaf;
            m_dragPicture = diaryStagePicture(current);
        }
        m_turnView->showEdgeDrag(m_dragPicture, drag.target ? leafPicture(*drag.target) : QPixmap(),
                                 drag.direction.value_or(PageTurnDirection::forward),
                                 drag.progress);
    } else {
        m_dragPicture = QPixmap();
        if (!turning)
            m_turnView->endEdgeDrag();
    }
    m_turnView->setVisible(turning || dragging);
    for (QWidget *layer :
         std::initializer_list<QWidget *>{m_turnView, m_tools, m_arrows, m_sealScrimMotion,
                                          m_sealScrim, m_sealCardMotion, m_sealCard})
        layer->stackUnder(m_searchFloor);
    // A drag can start only on a page at rest.
    const bool atRest = transition.phase == PageTransitionPhase::idle;
    m_leadingStrip->setAttribute(Qt::WA_TransparentForMouseEvents, !atRest);
    m_trailingStrip->setAttribute(Qt::WA_TransparentForMouseEvents, !atRest);
}

void VuzIvoduPageWidget::refreshChrome() {
    const VuzIvoduPageView &page = *m_controller;
    // While the book is hidden (read while the cover swings over it) nobody sees the ribbon
    // slide, and the swing's picture of the book must show where it ends.
    m_tools->setAwayFromToday(page.session().selectedDay() != page.todayKey(),
                              isVisible() ? page.ribbonAnimation() : VuzIvoduPageAnimation{});
    const bool plain = page.motionMode() == PageTransitionMode::crossFade;
    m_motionMarker->setObjectName(plain ? QStringLiteral("diary-motion-crossfade")
                                        : QStringLiteral("diary-motion-physical"));
    m_motionMarker->setAccessibleName(m_motionMarker->objectName());
}

// --- Overlays -----------------------------------------------------------------------------------

void VuzIvoduPageWidget::buildOverlays() {
    VuzIvoduPageView &page = *m_controller;
    m_savedNote = new DiarySavedNote(m_theme, this);
    m_savedNote->resize(m_savedNote->sizeHint());
    m_savedNote->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_savedNote->setGeometry(centred(m_savedNote->size(), rect()));
    m_savedNote->hide();

    m_sealScrim = new QWidget(m_page);
    m_sealScrim->setGeometry(m_page->rect());
    m_sealScrim->setAttribute(Qt::WA_StyledBackground);
    m_sealScrim->setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, 25);"));
    m_sealScrim->hide();
    makeDecorative(m_sealScrim, DiaryClicks::stop);
    m_sealCard = new PaperSealRitualView(PaperSealRitualView::Mode::confirmation, m_theme, m_page);
    m_sealCard->resize(m_sealCard->sizeHint());
    connect(m_sealCard, &PaperSealRitualView::cancelRequested, &page,
            &VuzIvoduPageView::hideSealConfirmation);
    connect(m_sealCard, &PaperSealRitualView::confirmRequested, &page,
            &VuzIvoduPageView::confirmSeal);
    m_sealCard->setGeometry(centred(m_sealCard->size(), m_page->rect()));
    m_sealCard->hide();

    m_savedNoteMotion = new PageOverlayMotion(m_savedNote, this);
    m_savedNoteMotion->setHiddenScale(0.94);
    m_sealScrimMotion = new PageOverlayMotion(m_sealScrim, m_page);
    m_sealCardMotion = new PageOverlayMotion(m_sealCard, m_page);
    connect(m_sealCardMotion->animation(), &QVariantAnimation::finished, this, [this] {
        const VuzIvoduPageView &page = *m_controller;
        if (page.showSealConfirmation() || page.showSealAcknowledgement())
            takeKeysForSealCard();
    });
    m_leafFade = new PageOverlayMotion(nullptr, m_page);
    m_leafFade->setGeometry(m_page->rect());
    m_leafFade->stackUnder(m_turnView);
    // The page lifts its layers up to here and no higher: the search card and its fades open
    // above, and stay there whatever the page lifts after them.
    m_searchFloor = new QWidget(m_page);
    m_searchFloor->setObjectName(QStringLiteral("diary-search-floor"));
    m_searchFloor->hide();
}

void VuzIvoduPageWidget::refreshSealCard() {
    const VuzIvoduPageView &page = *m_controller;
    const bool confirmation = page.showSealConfirmation();
    const bool shown = confirmation || page.showSealAcknowledgement();
    const VuzIvoduPageAnimation &animation = page.sealCardAnimation();
    const QWidget *focused = focusWidget();
    const bool cardHadFocus =
        focused && (focused == this || focused == m_sealCard || m_sealCard->isAncestorOf(focused));
    m_sealScrim->stackUnder(m_searchFloor);
    m_sealCard->stackUnder(m_searchFloor);
    // A card on its way out keeps the form it had.
    if (shown) {
        const auto mode = confirmation ? PaperSealRitualView::Mode::confirmation
                                       : PaperSealRitualView::Mode::acknowledgement;
        if (mode != m_sealCard->mode() && !m_sealCard->isHidden())
            m_sealCardMotion->setShown(false, {});
        m_sealCard->setMode(mode);
        m_sealCard->adjustSize();
        m_sealCard->setGeometry(centred(m_sealCard->size(), m_page->rect()));
        m_sealCardMotion->setHiddenScale(confirmation ? 0.97 : 0.96);
    }
    m_sealScrimMotion->setShown(confirmation, animation);
    m_sealCardMotion->setShown(shown, animation);
    // The card is modal to the page: it takes the keyboard while it shows, and gives it back to
    // the editor when the page can still be written.
    if (shown)
        takeKeysForSealCard();
    else if (cardHadFocus && page.pageContentKind() == PageContentKind::editor &&
             m_editor->isVisible())
        m_editor->setFocus(Qt::OtherFocusReason);
}

// While the card arrives only its picture shows: the page holds the keyboard (and lets every key
// go) until the card itself is there to take it. A search card open above it keeps the keyboard.
void VuzIvoduPageWidget::takeKeysForSealCard() {
    const QWidget *focused = focusWidget();
    const bool onPage =
        !focused || focused == this || focused == m_sealCard || m_sealCard->isAncestorOf(focused) ||
        m_writableLeaf->isAncestorOf(focused) || m_readingLeaf->isAncestorOf(focused);
    if (!onPage)
        return;
    if (m_sealCard->isVisible())
        m_sealCard->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void VuzIvoduPageWidget::refreshPersistenceAlert() {
    VuzIvoduPageView &page = *m_controller;
    if (!page.isPersistenceErrorPresented()) {
        if (m_persistenceAlert && m_persistenceAlert->isVisible())
            m_persistenceAlert->close();
        return;
    }
    if (m_persistenceAlert) {
        // A new failure while the alert is up replaces its message.
        m_persistenceAlert->setInformativeText(page.persistenceAlertMessage());
        return;
    }
    auto *alert =
        new QMessageBox(QMessageBox::Warning, tr("Writing Not Saved"), tr("Writing Not Saved"),
                        QMessageBox::NoButton, diaryStageWindow(this));
    alert->setObjectName(QStringLiteral("diary-persistence-alert"));
    alert->setInformativeText(page.persistenceAlertMessage());
    QPushButton *retry = alert->addButton(tr("Retry"), QMessageBox::AcceptRole);
    QPushButton *copy = alert->addButton(tr("Save a Copy…"), QMessageBox::ActionRole);
    QPushButton *keep = alert->addButton(tr("Keep Writing"), QMessageBox::RejectRole);
    alert->setDefaultButton(retry);
    alert->setEscapeButton(keep);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, retry, copy](QAbstractButton *button) {
        // Any button dismisses the alert; the text stays on the page and the edit stays pending.
        if (button == retry) {
            m_controller->retry();
        } else {
            m_controller->dismissPersistenceError();
            if (button == copy)
                chooseAndSaveCopy();
        }
    });
    connect(alert, &QDialog::rejected, m_controller.get(),
            &VuzIvoduPageView::dismissPersistenceError);
    m_persistenceAlert = alert;
    alert->open();
}

void VuzIvoduPageWidget::refreshLeavePrompt() {
    VuzIvoduPageView &page = *m_controller;
    if (!page.showLeavePrompt()) {
        if (m_leaveAlert && m_leaveAlert->isVisible())
            m_leaveAlert->close();
        return;
    }
    if (m_leaveAlert)
        return;
    auto *alert =
        new QMessageBox(QMessageBox::Question, tr("Leave this page?"), tr("Leave this page?"),
                        QMessageBox::NoButton, diaryStageWindow(this));
    alert->setObjectName(QStringLiteral("diary-leave-alert"));
    alert->setInformativeText(tr("Lock it, or come back and write."));
    QPushButton *comeBack = alert->addButton(tr("I'll come back"), QMessageBox::AcceptRole);
    QPushButton *lock = alert->addButton(tr("Lock this page"), QMessageBox::ActionRole);
    QPushButton *keep = alert->addButton(tr("Keep Writing"), QMessageBox::RejectRole);
    alert->setDefaultButton(comeBack);
    alert->setEscapeButton(keep);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, comeBack, lock](QAbstractButton *b) {
        if (b == comeBack)
            m_controller->leaveAndComeBack();
        else if (b == lock)
            m_controller->lockPageAndLeave();
        else
            m_controller->dismissLeavePrompt();
    });
    connect(alert, &QDialog::rejected, m_controller.get(), &VuzIvoduPageView::dismissLeavePrompt);
    m_leaveAlert = alert;
    alert->open();
}

void VuzIvoduPageWidget::chooseAndSaveCopy() {
    const QString proposed = m_controller->proposedCopyName();
    QString path;
    if (m_chooseCopyPath) {
        path = m_chooseCopyPath(proposed);
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        path =
            QFileDialog::getSaveFileName(this, tr("Save a Copy of This Page"),
                                         QDir(folder).filePath(proposed), tr("Plain Text (*.txt)"));
    }
    if (path.isEmpty())
        return;
    qCInfo(lcPageScreen) << "Saving a copy of the page";
    // The write runs off the GUI thread; its outcome reaches the alert through the controller.
    auto write = m_controller->saveCopy(path);
    Q_UNUSED(write)
}

} // namespace velmora
