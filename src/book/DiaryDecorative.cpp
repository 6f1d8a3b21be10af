#include "book/DiaryDecorative.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace velmora {

namespace {

constexpr char decorativeProperty[] = "velmoraDecorative";

class DecorativeAccessible : public QAccessibleWidget {
public:
    explicit DecorativeAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Graphic) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

QAccessibleInterface *decorativeFactory(const QString &, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget && isDecorative(widget))
        return new DecorativeAccessible(widget);
    return nullptr;
}

} // namespace

void makeDecorative(QWidget *widget, DiaryClicks clicks) {
    static const bool installed = [] {
        QAccessible::installFactory(decorativeFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(decorativeProperty, true);
    widget->setAttribute(Qt::WA_TransparentForMouseEvents, clicks == DiaryClicks::passThrough);
    widget->setFocusPolicy(Qt::NoFocus);
}

bool isDecorative(const QWidget *widget) {
    return widget->property(decorativeProperty).toBool();
}

} // namespace velmora
