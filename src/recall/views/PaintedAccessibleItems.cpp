#include "recall/views/PaintedAccessibleItems.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace velmora {

namespace {

PaintedAccessibleItems *itemsOf(QWidget *widget) {
    return dynamic_cast<PaintedAccessibleItems *>(widget);
}

// None once the widget is being destroyed, when it is a painted widget no more.
QList<PaintedAccessibleItems::Item> itemsIn(QWidget *widget) {
    const PaintedAccessibleItems *items = itemsOf(widget);
    return items ? items->accessibleItems() : QList<PaintedAccessibleItems::Item>();
}

// One painted item, found again by its place in the widget's list, so a widget that changes
// (another month) gives the same child its new text.
class PaintedItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    PaintedItemAccessible(QWidget *widget, int index)
        : m_widget(widget)
        , m_index(index) {}

    bool isValid() const override { return item().has_value(); }
    // A stand-in object that carries the item's identifier as its name, as a widget does.
    QObject *object() const override {
        const auto found = item();
        m_mark.setObjectName(found ? found->identifier : QString());
        return &m_mark;
    }
    QWindow *window() const override {
        return m_widget ? m_widget->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override {
        return m_widget ? QAccessible::queryAccessibleInterface(m_widget) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        const auto found = item();
        if (!found)
            return {};
        switch (kind) {
        case QAccessible::Name:
            return found->name;
        case QAccessible::Value:
            return found->value;
        case QAccessible::Description:
        case QAccessible::Help:
            return found->help;
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override {
        const auto found = item();
        if (!found || !m_widget)
            return {};
        const QRect local = found->rect.toAlignedRect();
        return QRect(m_widget->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override {
        const auto found = item();
        return found ? found->role : QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        const auto found = item();
        state.invisible = !m_widget || !m_widget->isVisible();
        state.selected = found && found->selected;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface
                   ? static_cast<QAccessibleActionInterface *>(this)
                   : nullptr;
    }
    QStringList actionNames() const override {
        const auto found = item();
        return found && found->pressable ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString &name) override {
        const auto found = item();
        PaintedAccessibleItems *items = itemsOf(m_widget);
        if (name == pressAction() && found && found->pressable && items)
            items->pressAccessibleItem(m_index);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    std::optional<PaintedAccessibleItems::Item> item() const {
        const auto items = itemsIn(m_widget);
        if (m_index < 0 || m_index >= items.size())
            return std::nullopt;
        return items.at(m_index);
    }

    QPointer<QWidget> m_widget;
    int m_index;
    mutable QObject m_mark;
};

class PaintedWidgetAccessible : public QAccessibleWidget {
public:
    explicit PaintedWidgetAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Grouping) {}

    ~PaintedWidgetAccessible() override {
        for (const QAccessible::Id id : std::as_const(m_items))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return widgetCount() + int(items().size()); }

    QAccessibleInterface *child(int index) const override {
        if (index < widgetCount())
            return QAccessibleWidget::child(index);
        const int item = index - widgetCount();
        if (item >= items().size())
            return nullptr;
        if (const auto found = m_items.constFind(item); found != m_items.cend())
            return QAccessible::accessibleInterface(*found);
        auto *child = new PaintedItemAccessible(widget(), item);
        m_items.insert(item, QAccessible::registerAccessibleInterface(child));
        return child;
    }

    int indexOfChild(const QAccessibleInterface *child) const override {
        for (auto it = m_items.cbegin(); it != m_items.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key() < items().size() ? widgetCount() + it.key() : -1;
        return QAccessibleWidget::indexOfChild(child);
    }

    QAccessibleInterface *childAt(int x, int y) const override {
        if (QAccessibleInterface *inner = QAccessibleWidget::childAt(x, y))
            return inner;
        const QPointF at = widget()->mapFromGlobal(QPoint(x, y));
        const auto listed = items();
        for (int i = 0; i < listed.size(); ++i)
            if (listed.at(i).rect.contains(at))
                return child(widgetCount() + i);
        return nullptr;
    }

private:
    int widgetCount() const { return QAccessibleWidget::childCount(); }
    QList<PaintedAccessibleItems::Item> items() const { return itemsIn(widget()); }

    mutable QHash<int, QAccessible::Id> m_items;
};

QAccessibleInterface *paintedWidgetFactory(const QString &, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    return widget && itemsOf(widget) ? new PaintedWidgetAccessible(widget) : nullptr;
}

} // namespace

PaintedAccessibleItems::PaintedAccessibleItems() {
    static const bool installed = [] {
        QAccessible::installFactory(paintedWidgetFactory);
        return true;
    }();
    Q_UNUSED(installed)
}

} // namespace velmora
