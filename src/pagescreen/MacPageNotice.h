#pragma once

#include "book/theme/DiaryTheme.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;

namespace velmora {

class MacRuledTextView;

// What a blank page shows instead of the editor when its day may not be written (yet): the
// ruling of the page, and in its top-leading corner a title, a line of explanation and, when
// the user can do something about it, one action, all kept to the ruling's 40-point pitch.
class MacPageNotice : public QWidget {
    Q_OBJECT

public:
    static constexpr double linePitch = 40;
    static constexpr double maximumWidth = 400;

    explicit MacPageNotice(QWidget *parent = nullptr);

    // None as the action title shows no button.
    void setNotice(const QString &title, const QString &detail,
                   const std::optional<QString> &actionTitle);
    void setTheme(const DiaryTheme &theme);

    const QString &title() const { return m_title; }
    const QString &detail() const { return m_detail; }
    QPushButton *actionButton() const { return m_action; }

Q_SIGNALS:
    void actionTriggered();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int detailLineCount() const;
    void placeAction();

    MacRuledTextView *m_ruling;
    QPushButton *m_action;
    QString m_title;
    QString m_detail;
    DiaryTheme m_theme;
};

} // namespace velmora
