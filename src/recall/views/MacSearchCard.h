#pragma once

#include "book/theme/DiaryTheme.h"
#include "platform/GregorianCalendar.h"
#include "recall/views/MacSearchCardController.h"
#include "recall/views/PaintedAccessibleItems.h"

#include <QAbstractListModel>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListView;

namespace velmora {

// The rows of the search card: one found day each, newest first.
class MacSearchResultModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { dayKeyRole = Qt::UserRole + 1, isHandwrittenRole, dateLineRole };

    MacSearchResultModel(const MacSearchCardController &controller, GregorianCalendar calendar,
                         QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // The day's long date, or its raw key when it forms no date.
    static QString dateLine(const DayKey &day, const GregorianCalendar &calendar);
    // A found text as its row shows it: wrapped at word boundaries into at most `maxLines` lines
    // of `width`, the last one ending in an ellipsis when text remains.
    static QStringList snippetLines(const QString &text, const QFont &font, double width,
                                    int maxLines = 2);

private:
    const MacSearchCardController &m_controller;
    GregorianCalendar m_calendar;
};

// The find overlay: a dimmed backdrop and a paper card with the search field and, once there is
// something to look for, the days found or "Nothing found".
class MacSearchCard : public QWidget, public PaintedAccessibleItems {
    Q_OBJECT

public:
    MacSearchCard(MacSearchCardController::Find find, GregorianCalendar calendar,
                  QWidget *parent = nullptr);

    void setTheme(const DiaryTheme &theme);

    MacSearchCardController &controller() { return *m_controller; }
    QLineEdit *field() const { return m_field; }
    QListView *list() const { return m_list; }
    QRectF cardRect() const;
    QRectF closeButtonRect() const;

    // After the field and the list: the close button.
    QList<Item> accessibleItems() const override;
    void pressAccessibleItem(int index) override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Takes every press, so that its release comes here too: the book is shown through a
    // graphics scene, which hands a release only to the widget that accepted the press.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();
    void applyTheme();

    MacSearchCardController *m_controller;
    MacSearchResultModel *m_model;
    QLineEdit *m_field;
    QListView *m_list;
    QLabel *m_nothingFound;
    DiaryTheme m_theme;
};

} // namespace velmora
