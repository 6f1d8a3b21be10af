#include "app/VelmoraMenuCommands.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace velmora {

namespace {

// What has the keyboard. The book is shown through a view that holds the keyboard on its behalf;
// the view's scene knows which of the book's widgets it is for.
QWidget *keyboardHolder() {
    QWidget *holder = QApplication::focusWidget();
    while (auto *view = qobject_cast<QGraphicsView *>(holder)) {
        const auto *shown =
            view->scene() ? qgraphicsitem_cast<QGraphicsProxyWidget *>(view->scene()->focusItem())
                          : nullptr;
        if (!shown || !shown->widget())
            break;
        holder = shown->widget()->focusWidget() ? shown->widget()->focusWidget() : shown->widget();
    }
    return holder;
}

// The standard editing actions go to whatever has the keyboard, when it has such an action: a
// text field, or a page that lets its words be copied; anything else has nothing to do with them.
void sendToFocusedEditor(const char *slot) {
    QWidget *focus = keyboardHolder();
    if (focus && focus->metaObject()->indexOfMethod((QByteArray(slot) + "()").constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot);
}

} // namespace

VelmoraMenuCommands::VelmoraMenuCommands(DiaryCommandRouter &router, Actions actions,
                                         QObject *parent)
    : QObject(parent)
    , m_router(&router)
    , m_windowActions(std::move(actions)) {}

QString VelmoraMenuCommands::showDiaryTitle() {
    static const QString title = tr("Show Diary");
    return title;
}

void VelmoraMenuCommands::send(DiaryCommand command) {
    if (m_router)
        m_router->send(command);
}

QAction *VelmoraMenuCommands::addItem(QMenu *menu, const char *sourceText, const QKeySequence &keys,
                                      std::function<void()> trigger) {
    QAction *action =
        menu->addAction(QCoreApplication::translate("velmora::VelmoraMenuCommands", sourceText));
    action->setShortcut(keys);
    // The program's menus answer their keys in every window of the program, not only in the book
    // window that shows them.
    action->setShortcutContext(Qt::ApplicationShortcut);
    action->setObjectName(QString::fromUtf8(sourceText));
    connect(action, &QAction::triggered, this, [trigger = std::move(trigger)] {
        if (trigger)
            trigger();
    });
    m_items.insert(QString::fromUtf8(sourceText), action);
    return action;
}

void VelmoraMenuCommands::reachFrom(QWidget &window) {
    for (QAction *action : std::as_const(m_items))
        if (!action->shortcut().isEmpty())
            window.addAction(action);
}

void VelmoraMenuCommands::reachQuitFrom(QWidget &window) {
    if (QAction *quit = action(QStringLiteral("Quit")))
        window.addAction(quit);
}

void VelmoraMenuCommands::populate(QMenuBar &menuBar) {
    const Actions &act = m_windowActions;

    QMenu *file = menuBar.addMenu(tr("&File"));
    addItem(file, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "New Entry"),
            QKeySequence(Qt::CTRL | Qt::Key_N), [this] {
                // The window first, so the new page is on screen when the command arrives.
                if (m_windowActions.showDiary)
                    m_windowActions.showDiary();
                send(DiaryCommand::newEntry);
            });
    file->addSeparator();
    addItem(file, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Save"),
            QKeySequence(Qt::CTRL | Qt::Key_S), [this] { send(DiaryCommand::save); });
    addItem(file, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Seal This Page…"),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), [this] { send(DiaryCommand::seal); });
    file->addSeparator();
    addItem(file, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Export…"), QKeySequence(),
            act.exportDiary);
    addItem(file, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Import…"), QKeySequence(),
            act.importDiary);
    file->addSeparator();
    QAction *quit = addItem(file, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Quit"),
                            QKeySequence(Qt::CTRL | Qt::Key_Q), act.quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu *edit = menuBar.addMenu(tr("&Edit"));
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Undo"), QKeySequence::Undo,
            [] { sendToFocusedEditor("undo"); });
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Redo"), QKeySequence::Redo,
            [] { sendToFocusedEditor("redo"); });
    edit->addSeparator();
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Cut"), QKeySequence::Cut,
            [] { sendToFocusedEditor("cut"); });
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Copy"), QKeySequence::Copy,
            [] { sendToFocusedEditor("copy"); });
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Paste"), QKeySequence::Paste,
            [] { sendToFocusedEditor("paste"); });
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Select All"),
            QKeySequence::SelectAll, [] { sendToFocusedEditor("selectAll"); });
    edit->addSeparator();
    addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Find…"),
            QKeySequence(Qt::CTRL | Qt::Key_F), [this] { send(DiaryCommand::find); });
    edit->addSeparator();
    QAction *preferences =
        addItem(edit, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Preferences…"),
                QKeySequence(Qt::CTRL | Qt::Key_Comma), act.openPreferences);
    preferences->setMenuRole(QAction::PreferencesRole);

    QMenu *view = menuBar.addMenu(tr("&View"));
    addItem(view, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Go to Today"),
            QKeySequence(Qt::CTRL | Qt::Key_T), [this] { send(DiaryCommand::goToToday); });
    view->addSeparator();
    addItem(view, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Enter Full Screen"),
            QKeySequence(Qt::Key_F11), act.toggleFullScreen);

    QMenu *window = menuBar.addMenu(tr("&Window"));
    QAction *showDiary =
        addItem(window, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Show Diary"),
                QKeySequence(Qt::CTRL | Qt::Key_0), act.showDiary);
    showDiary->setText(showDiaryTitle());

    QMenu *help = menuBar.addMenu(tr("&Help"));
    addItem(help, QT_TRANSLATE_NOOP("velmora::VelmoraMenuCommands", "Keyboard Shortcuts"),
            QKeySequence(), [this] { send(DiaryCommand::showShortcuts); });
}

} // namespace velmora
