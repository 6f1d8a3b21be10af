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
    };

    virtual ~PaintedAccessibleItems() = default;
    virtual QList<Item> accessibleItems() const = 0;
    // Does what a click on the item does.
    virtual void pressAccessibleItem(int index) = 0;

    // Makes every such widget speak; called by their constructors, installs once.
    static void install();
};

} // namespace velmora
