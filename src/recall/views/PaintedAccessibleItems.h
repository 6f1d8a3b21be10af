#pragma once

#include <QAccessible>
#include <QList>
#include <QRectF>
#include <QString>

class QAccessibleInterface;
class QObject;

namespace velmora {

// A widget whose buttons and texts are painted rather than child widgets: it lists them here,
// and assistive technology finds them as its children, after its child widgets.
class PaintedAccessibleItems {
public:
    struct Item {
        QAccessible::Role role = QAccessible::Button;
        QString name;
        QString value;
        QString help;
        // In the widget's coordinates.
        QRectF rect;
        bool selected = false;
        bool pressable = false;
        // Its accessibility identifier: the object name of the element's object().
        QString identifier;
    };

    virtual ~PaintedAccessibleItems() = default;
    virtual QList<Item> accessibleItems() const = 0;
    // Does what a click on the item does.
    virtual void pressAccessibleItem(int index) = 0;

protected:
    // Makes every such widget speak. Built after QWidget and before the widget's own members,
    // so the widget's accessible interface, made at the first event and kept, is a painted one.
    PaintedAccessibleItems();
};

} // namespace velmora
