#pragma once

#include "domain/DiaryCommand.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace velmora {

// The book window's menu bar. Commands for the open book only go through the router; the window
// actions (showing the diary, the panels, preferences, full screen, quit) call the given
// functions.
class VelmoraMenuCommands : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> showDiary;
        std::function<void()> exportDiary;
        std::function<void()> importDiary;
        std::function<void()> openPreferences;
        std::function<void()> toggleFullScreen;
        std::function<void()> quit;
    };

    VelmoraMenuCommands(DiaryCommandRouter &router, Actions actions, QObject *parent = nullptr);

    // Fills the bar with File, Edit, View, Window and Help.
    void populate(QMenuBar &menuBar);

    // The menus' keys answer in this window too, even while the book window is hidden or waits
    // behind it: the settings window, the unlock's question.
    void reachFrom(QWidget &window);
    // Quit alone answers in this window too: an alert or a file panel that holds every other key
    // of the program must not swallow a quit asked for while it is up, as at the end of an import.
    void reachQuitFrom(QWidget &window);

    // The item with this (untranslated) text, once populated.
    QAction *action(const QString &sourceText) const { return m_items.value(sourceText); }

    static QString showDiaryTitle();

private:
    // sourceText is a QT_TRANSLATE_NOOP literal of this class's context.
    QAction *addItem(QMenu *menu, const char *sourceText, const QKeySequence &keys,
                     std::function<void()> trigger);
    void send(DiaryCommand command);

    QPointer<DiaryCommandRouter> m_router;
    Actions m_windowActions;
    QHash<QString, QAction *> m_items;
};

} // namespace velmora
