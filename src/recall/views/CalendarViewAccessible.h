#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace velmora {

// Hands assistive technology the month grid as its parts: the arrows, the title or year menu,
// and one button per day that reads the day's date and whether it holds writing.
QAccessibleInterface *calendarViewAccessibleFactory(const QString &className, QObject *object);

} // namespace velmora
