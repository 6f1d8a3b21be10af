#include "pagescreen/VuzIvoduPageArea.h"

#include <QAccessibleWidget>

namespace velmora {

namespace {

class PageAreaAccessible : public QAccessibleWidget {
public:
    explicit PageAreaAccessible(VuzIvoduPageArea *area)
        : QAccessibleWidget(area, QAccessible::Pane) {}

    QStringList actionNames() const override { return VuzIvoduPageArea::actionNames(); }
    void doAction(const QString &action) override {
        static_cast<const VuzIvoduPageArea *>(widget())->trigger(action);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
};

QAccessibleInterface *pageAreaFactory(const QString &, QObject *object) {
    if (auto *area = qobject_cast<VuzIvoduPageArea *>(object))
        return new PageAreaAccessible(area);
    return nullptr;
}

} // namespace

VuzIvoduPageArea::VuzIvoduPageArea(QWidget *parent)
    : QWidget(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(pageAreaFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void VuzIvoduPageArea::setActions(std::function<void()> previous, std::function<void()> next,
                                  std::function<void()> today) {
    m_previous = std::move(previous);
    m_next = std::move(next);
    m_today = std::move(today);
}

QStringList VuzIvoduPageArea::actionNames() {
    return {tr("Previous Page"), tr("Next Page"), tr("Today")};
}

bool VuzIvoduPageArea::trigger(const QString &action) const {
    const QStringList names = actionNames();
    const std::function<void()> *actions[] = {&m_previous, &m_next, &m_today};
    const qsizetype index = names.indexOf(action);
    if (index < 0 || !*actions[index])
        return false;
    (*actions[index])();
    return true;
}

} // namespace velmora
