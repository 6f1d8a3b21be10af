#include "book/VuzIvoduLeafAccessible.h"

#include "book/VuzIvoduLeaf.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QWindow>

#include <optional>

namespace velmora {

namespace {

using Kind = VuzIvoduLeafElement::Kind;

constexpr char kindProperty[] = "velmoraLeafElement";

VuzIvoduLeaf *leafOf(const QObject *mark) {
    return mark ? qobject_cast<VuzIvoduLeaf *>(mark->parent()) : nullptr;
}

QObject *markFor(const VuzIvoduLeaf *leaf, Kind kind) {
    for (QObject *child : leaf->children())
        if (!child->isWidgetType() && child->property(kindProperty) == int(kind))
            return child;
    return nullptr;
}

std::optional<VuzIvoduLeafElement> elementOf(const QObject *mark) {
    const VuzIvoduLeaf *leaf = leafOf(mark);
    if (!leaf)
        return std::nullopt;
    const auto kind = Kind(mark->property(kindProperty).toInt());
    for (const VuzIvoduLeafElement &element : leafFrameElements(leaf->rect(), leaf->content()))
        if (element.kind == kind)
            return element;
    return std::nullopt;
}

// One painted text: a static text whose object carries the identifier as its name.
class LeafElementAccessible : public QAccessibleObject {
public:
    explicit LeafElementAccessible(QObject *mark)
        : QAccessibleObject(mark) {}

    QWindow *window() const override {
        const VuzIvoduLeaf *leaf = leafOf(object());
        return leaf ? leaf->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override {
        return QAccessible::queryAccessibleInterface(leafOf(object()));
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::StaticText; }

    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = !elementOf(object());
        return state;
    }

    QString text(QAccessible::Text kind) const override {
        if (kind != QAccessible::Name)
            return {};
        const auto element = elementOf(object());
        return element ? element->name : QString();
    }

    QRect rect() const override {
        const VuzIvoduLeaf *leaf = leafOf(object());
        const auto element = elementOf(object());
        if (!leaf || !element)
            return {};
        const QRect local = element->rect.toAlignedRect();
        return QRect(leaf->mapToGlobal(local.topLeft()), local.size());
    }
};

// The leaf: its header's texts, then the writing area's widgets, then its footer's texts.
class LeafAccessible : public QAccessibleWidget {
public:
    explicit LeafAccessible(VuzIvoduLeaf *leaf)
        : QAccessibleWidget(leaf, QAccessible::Pane) {}

    int childCount() const override { return int(children().size()); }

    QAccessibleInterface *child(int index) const override {
        const auto all = children();
        return index >= 0 && index < all.size() ? all.at(index) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override {
        return int(children().indexOf(const_cast<QAccessibleInterface *>(child)));
    }

private:
    QList<QAccessibleInterface *> children() const {
        const auto *leaf = static_cast<const VuzIvoduLeaf *>(widget());
        QList<QAccessibleInterface *> header;
        QList<QAccessibleInterface *> footer;
        for (const VuzIvoduLeafElement &element :
             leafFrameElements(leaf->rect(), leaf->content())) {
            const bool inHeader = element.kind == Kind::weekday || element.kind == Kind::date ||
                                  element.kind == Kind::sealed;
            if (QObject *mark = markFor(leaf, element.kind))
                (inHeader ? header : footer).append(QAccessible::queryAccessibleInterface(mark));
        }
        for (int i = 0; i < QAccessibleWidget::childCount(); ++i)
            header.append(QAccessibleWidget::child(i));
        return header + footer;
    }
};

QAccessibleInterface *leafFactory(const QString &, QObject *object) {
    if (object->property(kindProperty).isValid() && leafOf(object))
        return new LeafElementAccessible(object);
    if (auto *leaf = qobject_cast<VuzIvoduLeaf *>(object))
        return new LeafAccessible(leaf);
    return nullptr;
}

} // namespace

void installLeafAccessibility(VuzIvoduLeaf *leaf) {
    static const bool installed = [] {
        QAccessible::installFactory(leafFactory);
        return true;
    }();
    Q_UNUSED(installed);
    for (const Kind kind :
         {Kind::weekday, Kind::date, Kind::sealed, Kind::quote, Kind::pageCount, Kind::saveState}) {
        auto *mark = new QObject(leaf);
        mark->setObjectName(VuzIvoduLeafElement::identifier(kind));
        mark->setProperty(kindProperty, int(kind));
    }
}

} // namespace velmora
