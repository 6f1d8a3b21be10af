#pragma once

#include <QKeyEvent>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

namespace velmora {

class MacSearchCard;
class VuzIvoduPageView;

// Keys typed while the page is on its way (the cover still swinging open over it, opening on its
// first day, turning, jumping) would land in the editor of the page that is going, or nowhere at
// all. They are held instead and typed into the page the book comes to rest on, in order, once
// it takes writing; a page that never will (sealed, or not to be written) drops them with the
// desktop's beep, as does turning away from a blank day before its writing was confirmed.
// Keys typed after Find while the search card is on its way (the book not on screen yet, or the
// card not yet given the keyboard) are held the same way for its search field.
class PageTypeAhead : public QObject {
    Q_OBJECT

public:
    // `book` is the whole open book: until it is on screen, the page is still on its way.
    PageTypeAhead(VuzIvoduPageView &page, QWidget *book, QWidget *editor,
                  QObject *parent = nullptr);

    // Keys sent to this widget (the editor, the page) are held while the page settles.
    void watch(QWidget *widget);
    // The open search card, if any.
    void setSearchCard(std::function<MacSearchCard *()> card) { m_searchCard = std::move(card); }

    int heldKeys() const { return int(m_keys.size()); }

    // Whether a key edits text: what a turn must not let reach the page that is going.
    static bool isTyping(const QKeyEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Key {
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        bool autoRepeat;
    };

    // Turning, loading, or not on screen yet.
    bool isPageOnItsWay() const;
    void settle();
    void drop();
    // The search card is up, but has not taken the keyboard and what was held for it yet.
    bool isSearchOnItsWay() const;
    MacSearchCard *searchCard() const;
    QWidget *searchField() const;
    void typeIntoSearch();
    void type(QWidget *target, const QList<Key> &keys);

    VuzIvoduPageView &m_page;
    QPointer<QWidget> m_book;
    QPointer<QWidget> m_editor;
    QList<Key> m_keys;
    QList<Key> m_searchKeys;
    std::function<MacSearchCard *()> m_searchCard;
    QPointer<QWidget> m_watchedField;
    // Held keys are being typed: what their target leaves is not held again.
    bool m_typing = false;
    // Held keys wait on a blank day until its writing is confirmed, or the book leaves it.
    bool m_waiting = false;
};

} // namespace velmora
