#include "pagescreen/PageTypeAhead.h"

#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/VuzIvoduPageView.h"
#include "recall/views/MacSearchCard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace velmora {

PageTypeAhead::PageTypeAhead(VuzIvoduPageView &page, QWidget *book, QWidget *editor,
                             QObject *parent)
    : QObject(parent)
    , m_page(page)
    , m_book(book)
    , m_editor(editor) {
    // Later, once the page has shown where it came to rest.
    connect(
        &page, &VuzIvoduPageView::settlingChanged, this,
        [this] {
            // Turning away from the day the keys waited on drops them.
            if (m_page.isSettling()) {
                if (m_waiting)
                    drop();
            } else {
                settle();
            }
        },
        Qt::QueuedConnection);
    const auto recheck = [this] {
        if (m_waiting)
            settle();
    };
    connect(&page.session(), &DiarySessionStore::authoringAccessChanged, this, recheck);
    connect(&page.session(), &DiarySessionStore::currentEntryChanged, this, recheck);
    connect(&page, &VuzIvoduPageView::showSealConfirmationChanged, this, recheck);
    connect(&page, &VuzIvoduPageView::showSearchChanged, this, [this, recheck](bool shown) {
        // A card closed before its field took them: what was typed went with it.
        if (!shown)
            m_searchKeys.clear();
        recheck();
    });
    connect(&page, &VuzIvoduPageView::showCalendarChanged, this, recheck);
    connect(&page, &VuzIvoduPageView::showLeavePromptChanged, this, recheck);
    connect(&page, &VuzIvoduPageView::persistenceErrorChanged, this, recheck);
}

void PageTypeAhead::watch(QWidget *widget) {
    widget->installEventFilter(this);
}

bool PageTypeAhead::isTyping(const QKeyEvent &event) {
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
        return true;
    default:
        break;
    }
    if (modifiers != Qt::NoModifier && modifiers != Qt::GroupSwitchModifier)
        return false;
    return !event.text().isEmpty() && !event.text().front().isNull() &&
           (event.text().front().isPrint() || event.text().front().isSpace());
}

bool PageTypeAhead::isPageOnItsWay() const {
    return m_page.isSettling() || (m_page.isShown() && m_book && !m_book->isVisible());
}

bool PageTypeAhead::eventFilter(QObject *watched, QEvent *event) {
    // The cover has swung away: the book is on screen, and its page may take what was typed.
    if (event->type() == QEvent::Show && watched == m_book) {
        QMetaObject::invokeMethod(this, &PageTypeAhead::typeIntoSearch, Qt::QueuedConnection);
        QMetaObject::invokeMethod(this, &PageTypeAhead::settle, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QObject::eventFilter(watched, event);
    const auto &key = static_cast<const QKeyEvent &>(*event);
    // After Find, what reaches the page is for the search field until the field has the keyboard
    // and what was held for it; the field's own keys wait behind those.
    if (m_page.showSearch() && !m_typing && isTyping(key) && isSearchOnItsWay()) {
        if (event->type() == QEvent::KeyPress) {
            if (QWidget *field = searchField(); field && field != m_watchedField) {
                m_watchedField = field;
                field->installEventFilter(this);
            }
            m_searchKeys.append(Key{key.key(), key.modifiers(), key.text(), key.isAutoRepeat()});
            QMetaObject::invokeMethod(this, &PageTypeAhead::typeIntoSearch, Qt::QueuedConnection);
        }
        return true;
    }
    // Keys that come while held ones are still to be typed follow them, not overtake them.
    const bool behindHeldKeys = !m_keys.isEmpty() && !m_waiting;
    // The page itself has the keyboard, as it has when it has just come on screen and before
    // its editor has taken the keyboard: what is typed there is for the editor.
    const bool atTheWritablePage = watched == m_book &&
                                   (!m_book->focusWidget() || m_book->focusWidget() == m_book) &&
                                   m_page.acceptsTyping() && m_editor && m_editor->isVisible();
    // Keys typed into a card are the card's; what it leaves goes nowhere.
    if ((!isPageOnItsWay() && !behindHeldKeys && !atTheWritablePage) || m_page.isPageCovered() ||
        !isTyping(key))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        m_keys.append(Key{key.key(), key.modifiers(), key.text(), key.isAutoRepeat()});
        if (!isPageOnItsWay())
            QMetaObject::invokeMethod(this, &PageTypeAhead::settle, Qt::QueuedConnection);
    }
    return true;
}

void PageTypeAhead::settle() {
    if (m_keys.isEmpty() || isPageOnItsWay()) {
        m_waiting = false;
        return;
    }
    if (m_page.acceptsTyping() && m_editor && m_editor->isVisible()) {
        m_waiting = false;
        const QList<Key> keys = std::exchange(m_keys, {});
        qCInfo(lcPageScreen) << "Typing" << keys.size()
                             << "keys held while the page was on its way";
        type(m_editor, keys);
        return;
    }
    // A blank earlier day takes writing once it is confirmed; a sealed or later day never does.
    if (m_page.pageContentKind() == PageContentKind::notice && m_page.pageNotice() &&
        m_page.pageNotice()->actionTitle && !m_page.isPageCovered()) {
        m_waiting = true;
        return;
    }
    // Under a card the keys wait for it to close.
    if (m_page.isPageCovered() && m_page.pageContentKind() == PageContentKind::editor) {
        m_waiting = true;
        return;
    }
    drop();
}

void PageTypeAhead::type(QWidget *target, const QList<Key> &keys) {
    const QPointer<QWidget> guarded(target);
    m_typing = true;
    for (const Key &key : keys) {
        if (!guarded)
            break;
        QKeyEvent press(QEvent::KeyPress, key.key, key.modifiers, key.text, key.autoRepeat);
        QCoreApplication::sendEvent(guarded, &press);
        QKeyEvent release(QEvent::KeyRelease, key.key, key.modifiers, key.text, key.autoRepeat);
        QCoreApplication::sendEvent(guarded, &release);
    }
    m_typing = false;
}

MacSearchCard *PageTypeAhead::searchCard() const {
    return m_searchCard ? m_searchCard() : nullptr;
}

QWidget *PageTypeAhead::searchField() const {
    const MacSearchCard *card = searchCard();
    return card ? card->field() : nullptr;
}

bool PageTypeAhead::isSearchOnItsWay() const {
    const MacSearchCard *card = searchCard();
    const QWidget *focused = m_book ? m_book->focusWidget() : nullptr;
    return !m_searchKeys.isEmpty() || !card || !card->isVisible() || !focused ||
           !card->isAncestorOf(focused);
}

// The book is on screen with the card: its field takes the keyboard, and what was held for it.
void PageTypeAhead::typeIntoSearch() {
    QWidget *field = searchField();
    if (m_searchKeys.isEmpty() || !field || !field->isVisible())
        return;
    field->setFocus(Qt::OtherFocusReason);
    const QList<Key> keys = std::exchange(m_searchKeys, {});
    qCInfo(lcPageScreen) << "Typing" << keys.size()
                         << "keys held while the search card was on its way";
    type(field, keys);
}

void PageTypeAhead::drop() {
    m_waiting = false;
    if (m_keys.isEmpty())
        return;
    qCInfo(lcPageScreen) << "Dropping" << m_keys.size()
                         << "keys typed during a turn: the page cannot be written";
    m_keys.clear();
    QApplication::beep();
}

} // namespace velmora
