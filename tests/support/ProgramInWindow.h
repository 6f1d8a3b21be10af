#pragma once

#include "app/DiaryBookWindow.h"
#include "app/VelmoraProgram.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "settings/MacSettingsView.h"

#include <QApplication>
#include <QGraphicsProxyWidget>
#include <QGraphicsView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace velmora::test {

// The real program in this process, with its diary in a folder of its own, seen through its real
// window: keys and clicks go to the window and find their way as a person's do. Header-only:
// only the tests that walk the program link it.
class ProgramInWindow {
public:
    ProgramInWindow() = default;
    ProgramInWindow(const ProgramInWindow &) = delete;
    ProgramInWindow &operator=(const ProgramInWindow &) = delete;

    // Made once the folders the arguments name are there.
    void create(const QString &settingsSuite, const QStringList &moreArguments = {}) {
        DiaryProcessEnvironment environment;
        environment.arguments = QStringList{QStringLiteral("velmora"),
                                            QStringLiteral("--velmora-test-mode"),
                                            QStringLiteral("--velmora-store-url"),
                                            folder(QStringLiteral("diary/store.sqlite")),
                                            QStringLiteral("--velmora-defaults-suite"),
                                            settingsSuite} +
                                moreArguments;
        environment.applicationSupportDirectory = folder(QStringLiteral("support"));
        environment.temporaryDirectory = m_folder.path();
        program =
            std::make_unique<VelmoraProgram>(VelmoraProgram::Options{environment, false, false});
    }

    QString folder(const QString &name) const { return m_folder.filePath(name); }

    // The window shown at `size`, whatever the screen proposed, and active.
    bool show(QSize size) {
        DiaryBookWindow &shown = program->window();
        shown.setMinimumSize(0, 0);
        shown.resize(size);
        if (!QTest::qWaitForWindowExposed(&shown, int(eventually.count())))
            return false;
        shown.activateWindow();
        return QTest::qWaitForWindowActive(&shown, int(eventually.count()));
    }

    QWindow *window() const { return program->window().windowHandle(); }
    VuzIvoduPageWidget *book() const {
        return qobject_cast<VuzIvoduPageWidget *>(program->rootView().bookView());
    }
    DiarySessionStore &session() const { return program->graph().diarySession(); }

    // The page rests on its day, its turn drawn.
    bool settled() const {
        const auto leaf = program->graph().pageSystem().selectedDescriptor();
        return book() && book()->isVisible() &&
               session().phase().kind != DiarySessionPhase::Kind::loading && leaf &&
               leaf->dayKey == session().selectedDay() &&
               program->graph().pageSystem().transition().phase == PageTransitionPhase::idle;
    }

    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window(), Qt::Key(key), modifiers);
    }
    // Letter by letter; a line break is Return.
    void type(const QString &text) {
        for (const QChar letter : text) {
            if (letter == QLatin1Char('\n'))
                key(Qt::Key_Return);
            else
                QTest::keyClick(window(), letter.toLatin1());
        }
    }

    // Where a point of a widget of the book lies in the window: its place in the book, through
    // the scene that holds the book and the view that shows it scaled.
    QPoint at(const QWidget *widget, QPointF point) const {
        const QWidget *top = widget->window();
        const QGraphicsProxyWidget *proxy = top->graphicsProxyWidget();
        const QGraphicsView *view = proxy->scene()->views().constFirst();
        const QPointF inBook = widget->mapTo(top, point);
        const QPoint inView = view->mapFromScene(proxy->mapToScene(inBook));
        return view->viewport()->mapTo(&program->window(), inView);
    }
    QRect inWindow(const QWidget *widget) const {
        return QRect(at(widget, QPointF(0, 0)),
                     at(widget, QPointF(widget->width(), widget->height())) - QPoint(1, 1));
    }
    void click(const QWidget *widget) {
        QTest::mouseClick(window(), Qt::LeftButton, {}, inWindow(widget).center());
    }
    void click(const QWidget *widget, QPointF point) {
        QTest::mouseClick(window(), Qt::LeftButton, {}, at(widget, point));
    }

private:
    // First: the program below lives in it, and goes before it.
    QTemporaryDir m_folder;

public:
    std::unique_ptr<VelmoraProgram> program;
};

// The settings window, where it is shown.
inline MacSettingsView *shownSettings() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *settings = qobject_cast<MacSettingsView *>(window);
            settings && settings->isVisible())
            return settings;
    return nullptr;
}

} // namespace velmora::test
