#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

namespace velmora {

// The page area of the open book, which holds the leaf and everything laid over it. Assistive
// technology turns its pages through three named actions.
class VuzIvoduPageArea : public QWidget {
    Q_OBJECT

public:
    explicit VuzIvoduPageArea(QWidget *parent = nullptr);

    void setActions(std::function<void()> previous, std::function<void()> next,
                    std::function<void()> today);
    // "Previous Page", "Next Page" and "Today", in this order.
    static QStringList actionNames();
    // Runs the named action; false for a name it does not carry.
    bool trigger(const QString &action) const;

private:
    std::function<void()> m_previous;
    std::function<void()> m_next;
    std::function<void()> m_today;
};

} // namespace velmora
