#include "recall/views/CalendarViewAccessible.h"

#include "recall/views/CalendarView.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace velmora {

namespace {

// One painted part of the grid, found again by its place among the grid's parts, so a month
// change gives the same child the new month's text.
class CalendarItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CalendarItemAccessible(CalendarView *view, int index)
        : m_view(view)
        , m_index(index) {}

    bool isValid() const override { return item().has_value(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override {
        return m_view ? QAccessible::queryAccessibleInterface(m_view) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        const auto part = item();
        if (!part)
            return {};
        switch (kind) {
        case QAccessible::Name:
            return part->name;
        case QAccessible::Value:
            return part->value;
        case QAccessible::Description:
        case QAccessible::Help:
            return part->help;
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override {
        const auto part = item();
        if (!part || !m_view)
            return {};
        const QRect local = part->rect.toAlignedRect();
        return QRect(m_view->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override {
        const auto part = item();
        return part ? part->role : QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        const auto part = item();
        state.invisible = !m_view || !m_view->isVisible();
        state.selected = part && part->selected;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface
                   ? static_cast<QAccessibleActionInterface *>(this)
                   : nullptr;
    }
    QStringList actionNames() const override {
        const auto part = item();
        return part && part->press ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString &name) override {
        const auto part = item();
        if (name == pressAction() && part && part->press && m_view)
            m_view->pressAccessibleItem(m_index);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    std::optional<CalendarView::AccessibleItem> item() const {
        if (!m_view)
            return std::nullopt;
        const auto items = m_view->accessibleItems();
        if (m_index < 0 || m_index >= items.size())
            return std::nullopt;
        return items.at(m_index);
    }

    QPointer<CalendarView> m_view;
    int m_index;
};

class CalendarViewAccessible : public QAccessibleWidget {
public:
    explicit CalendarViewAccessible(CalendarView *view)
        : QAccessibleWidget(view, QAccessible::Grouping) {}

    ~CalendarViewAccessible() override {
        for (const QAccessible::Id id : std::as_const(m_children))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(view()->accessibleItems().size()); }

    QAccessibleInterface *child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto found = m_children.constFind(index); found != m_children.cend())
            return QAccessible::accessibleInterface(*found);
        auto *item = new CalendarItemAccessible(view(), index);
        m_children.insert(index, QAccessible::registerAccessibleInterface(item));
        return item;
    }

    int indexOfChild(const QAccessibleInterface *child) const override {
        for (auto it = m_children.cbegin(); it != m_children.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key() < childCount() ? it.key() : -1;
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override {
        const QPointF at = view()->mapFromGlobal(QPoint(x, y));
        const auto items = view()->accessibleItems();
        for (int i = 0; i < items.size(); ++i)
            if (items.at(i).rect.contains(at))
                return child(i);
        return nullptr;
    }

private:
    CalendarView *view() const { return static_cast<CalendarView *>(widget()); }

    mutable QHash<int, QAccessible::Id> m_children;
};

} // namespace

QAccessibleInterface *calendarViewAccessibleFactory(const QString &className, QObject *object) {
    if (className != QLatin1String(CalendarView::staticMetaObject.className()))
        return nullptr;
    if (auto *view = qobject_cast<CalendarView *>(object))
        return new CalendarViewAccessible(view);
    return nullptr;
}

} // namespace velmora
