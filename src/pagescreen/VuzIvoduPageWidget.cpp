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
#include "pagescreen/PageAlerts.h"
#include "pagescreen/PageLoadingLeaf.h"
#include "pagescreen/PageNeighbourInk.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/PageTypeAhead.h"
#include "pagescreen/VuzIvoduEdgeStrip.h"
#include "pagescreen/VuzIvoduPageArea.h"
#include "pagescreen/VuzIvoduRecallCards.h"

#include <QApplication>
#include <QHideEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
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
    m_neighbourInk = new PageNeighbourInk(
        *m_controller, *m_editorInk, *m_readingInk, [this] { return m_editor->lineHeight(); },
        this);

    layOutParts();
    connectEditor();
    connectLeafRefreshes(settings);
    buildOverlays();
    m_recallCards = new VuzIvoduRecallCards(*m_controller, this, m_page, m_savedNote);
    connectTurnsAndTools();
    connectOverlays();

    m_typeAhead = new PageTypeAhead(*m_controller, this, m_editor, this);
    m_typeAhead->watch(m_editor);
    m_typeAhead->watch(this);
    m_typeAhead->setSearchCard([this] { return m_recallCards->searchCard(); });

    setTheme(m_theme);
    refreshEditorFont();
    refreshLeaf();
    refreshChrome();
}

void VuzIvoduPageWidget::layOutParts() {
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
}

void VuzIvoduPageWidget::connectEditor() {
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
    // Held while the diary is replaced underneath it: the keyboard goes back to the page once
    // the new diary is on it, and so does a request for it the read-only editor turned away.
    connect(&page, &VuzIvoduPageView::heldForReplacementChanged, this, [this, &page](bool held) {
        if (held)
            m_editorHeldWithFocus = m_editor->hasFocus();
        m_editor->setEditable(!held);
        if (held && m_editorHeldWithFocus)
            setFocus(Qt::OtherFocusReason);
        if (held)
            return;
        if (std::exchange(m_editorHeldWithFocus, false))
            m_editor->setFocus(Qt::OtherFocusReason);
        if (page.pageContentKind() == PageContentKind::editor)
            m_editor->setFocusRequest(page.focusRequest());
    });
}

// Everything the leaf shows follows the session, the page system, the settings and the page.
void VuzIvoduPageWidget::connectLeafRefreshes(UserDefaultsSettingsStore &settings) {
    VuzIvoduPageView &page = *m_controller;
    const auto refresh = [this] { refreshLeaf(); };
    connect(&page.session(), &DiarySessionStore::authoringAccessChanged, this, refresh);
    connect(&page.session(), &DiarySessionStore::selectedDayChanged, this, refresh);
    connect(&page.session(), &DiarySessionStore::currentEntryChanged, this, refresh);
    connect(&page.pageSystem(), &DiaryPageSystemStore::descriptorsChanged, this, refresh);
    connect(&page.pageSystem(), &DiaryPageSystemStore::selectedLeafIndexChanged, this, refresh);
    connect(&page, &VuzIvoduPageView::saveStateNoteChanged, this, refresh);
    connect(&page, &VuzIvoduPageView::civilDateChanged, this, refresh);
    connect(&settings, &UserDefaultsSettingsStore::readingScaleChanged, this, refresh);
    connect(&page, &VuzIvoduPageView::editorFontChanged, this, [this] {
        refreshEditorFont();
        refreshEditorInk();
        m_neighbourInk->fetch();
    });
    connect(&page, &VuzIvoduPageView::handwritingChanged, this, [this] {
        m_editorInk->reload();
        m_readingInk->reload();
        // Synced pages may have changed the neighbouring days too.
        m_neighbourInk->forgetArrivingLeaves();
        m_neighbourInk->fetch();
    });
}

void VuzIvoduPageWidget::connectTurnsAndTools() {
    VuzIvoduPageView &page = *m_controller;
    connect(&page.pageSystem(), &DiaryPageSystemStore::transitionChanged, this,
            &VuzIvoduPageWidget::refreshTurnLayers);
    connect(&page, &VuzIvoduPageView::edgeInteractionChanged, this,
            &VuzIvoduPageWidget::refreshTurnLayers);
    m_turnView->controller().setOnCompleted([this] { m_controller->finishPageTurn(); });
    connect(&page.session(), &DiarySessionStore::selectedDayChanged, this,
            [this] { refreshChrome(); });
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
}

void VuzIvoduPageWidget::connectOverlays() {
    VuzIvoduPageView &page = *m_controller;
    connect(&page, &VuzIvoduPageView::showSavedNoteChanged, this, [this](bool show) {
        m_savedNoteMotion->setShown(show, m_controller->savedNoteAnimation());
    });
    connect(&page, &VuzIvoduPageView::showSealConfirmationChanged, this,
            &VuzIvoduPageWidget::refreshSealCard);
    connect(&page, &VuzIvoduPageView::showSealAcknowledgementChanged, this,
            &VuzIvoduPageWidget::refreshSealCard);
    m_alerts = new PageAlerts(page, this);
    connect(&page, &VuzIvoduPageView::closeDiaryRequested, this,
            &VuzIvoduPageWidget::closeRequested);
    connect(&page, &VuzIvoduPageView::fullScreenToggleRequested, this, [this] {
        QWidget *shown = diaryStageWindow(this);
        shown->setWindowState(shown->windowState() ^ Qt::WindowFullScreen);
    });
}

VuzIvoduPageWidget::~VuzIvoduPageWidget() {
    // The window keeps its shortcuts; they go with the page they served.
    qDeleteAll(m_windowKeys);
    if (m_controller->isShown())
        m_controller->disappear();
}

// The page's keys answer wherever the keyboard is in its window (on the page, in a card), for as
// long as the page is on screen and no menu is open on it (the book's stage gives such a menu
// every key): Escape closes the topmost thing, and Ctrl+PgUp / Ctrl+PgDn turn the page unless a
// card or an alert covers it.
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

// Tab and Shift+Tab go round the controls of the card that has the keyboard and never reach the
// page under it: from a card with nothing to go round, or from the page itself, they go nowhere.
bool VuzIvoduPageWidget::focusNextPrevChild(bool next) {
    if (!m_controller->isPageCovered())
        return QWidget::focusNextPrevChild(next);
    QWidget *focused = focusWidget();
    QWidget *card = nullptr;
    for (QWidget *open : std::initializer_list<QWidget *>{m_sealCard, m_recallCards->searchCard(),
                                                          m_recallCards->calendarCard()})
        if (open && focused && open->isAncestorOf(focused))
            card = open;
    if (!card)
        return true;
    const auto step = [next](QWidget *from) {
        return next ? from->nextInFocusChain() : from->previousInFocusChain();
    };
    for (QWidget *candidate = step(focused); candidate != focused; candidate = step(candidate)) {
        if (candidate != card && card->isAncestorOf(candidate) && candidate->isVisible() &&
            candidate->isEnabled() && (candidate->focusPolicy() & Qt::TabFocus)) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            break;
        }
    }
    return true;
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

void VuzIvoduPageWidget::setCopyPathChooser(CopyPathChooser chooser) {
    m_alerts->setCopyPathChooser(std::move(chooser));
}

QMessageBox *VuzIvoduPageWidget::persistenceAlert() const {
    return m_alerts->persistenceAlert();
}

QMessageBox *VuzIvoduPageWidget::leaveAlert() const {
    return m_alerts->leaveAlert();
}

bool VuzIvoduPageWidget::isNeighbourInkFetched() const {
    return m_neighbourInk->isFetched();
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
                                  m_controller->settings().userName());
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
    const auto neighbours = qScopeGuard([this] { m_neighbourInk->fetch(); });
    // After the picture of the old leaf, which keeps its ink while it fades.
    refreshEditorInk();
    if (descriptor->kind == PageKind::sealed) {
        QDate date = civilDay(descriptor->dayKey);
        if (!date.isValid())
            date = writableLeafContent().date;
        m_readingInk->show(readingLeafInkRequest(*descriptor, page.settings().readingScale()));
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

void VuzIvoduPageWidget::copy() {
    if (m_readingLeaf->isVisible())
        m_readingLeaf->textView()->copy();
}

void VuzIvoduPageWidget::selectAll() {
    if (m_readingLeaf->isVisible())
        m_readingLeaf->textView()->selectAll();
}

void VuzIvoduPageWidget::refreshEditorFont() {
    const QFont font = resolveDiaryFont(m_controller->selectedFont(), m_controller->fontSize());
    m_editor->setFontAndLineHeight(font, VuzIvoduPageView::lineHeight(font.pointSizeF()));
}

void VuzIvoduPageWidget::refreshEditorInk() {
    m_editorInk->show(LeafInkRequest{m_controller->session().selectedDay(), 0,
                                     m_editor->lineHeight(), VuzIvoduPageView::writingWidth});
}

// --- Turns, toolbar and arrows ------------------------------------------------------------------

QPixmap VuzIvoduPageWidget::leafPicture(const PageDescriptor &descriptor) {
    const VuzIvoduPageView &page = *m_controller;
    QDate date = civilDay(descriptor.dayKey);
    if (!date.isValid())
        date = writableLeafContent().date;
    m_pictureLeaf->setLeaf(descriptor, date, page.settings().readingScale(),
                           headerTrailingClearance, quoteFor(descriptor.dayKey),
                           m_neighbourInk->knownInk(
                               readingLeafInkRequest(descriptor, page.settings().readingScale())));
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
    // the editor when the page can still be written, else to the page itself: a card gone from
    // the screen must not keep the keyboard.
    if (shown)
        takeKeysForSealCard();
    else if (cardHadFocus && page.pageContentKind() == PageContentKind::editor &&
             m_editor->isVisible())
        m_editor->setFocus(Qt::OtherFocusReason);
    else if (cardHadFocus)
        setFocus(Qt::OtherFocusReason);
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

} // namespace velmora
