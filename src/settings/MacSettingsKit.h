#pragma once

#include "book/theme/DiaryTheme.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QWidget>

class QLabel;
class QPainter;
class QVBoxLayout;

namespace velmora {

// The settings window takes the book's scheme. The shell sets it before the window is made and
// makes the window again when it changes, since the window's rows take their colours as they
// are made.
const DiaryTheme &settingsTheme();
void setSettingsColorScheme(DiaryColorScheme scheme);

// Fonts of the settings window at the design's sizes, which are this window's pixels.
QFont settingsFont(const QString &name, double size);
QFont settingsGeorgiaFont(double size, bool italic = false);
QFont settingsSystemFont(double size, QFont::Weight weight = QFont::Normal);
QFont settingsMonospacedFont(double size);

// A titled group: the title as a small capitalised heading, then the children 12 apart.
class MacSettingsSection : public QWidget {
    Q_OBJECT

public:
    explicit MacSettingsSection(const QString &title, QWidget *parent = nullptr);

    void addContent(QWidget *child);
    QString heading() const;

private:
    QLabel *m_heading;
    QVBoxLayout *m_content;
};

// A label at the leading edge and its control at the trailing edge.
class MacSettingsRow : public QWidget {
    Q_OBJECT

public:
    MacSettingsRow(const QString &label, QWidget *control, QWidget *parent = nullptr);

    QWidget *control() const { return m_control; }

private:
    QWidget *m_control;
};

// A plain, outlined field whose every keystroke reaches textChanged untouched.
class MacSettingsTextField : public QLineEdit {
    Q_OBJECT

public:
    explicit MacSettingsTextField(const QString &placeholder, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Two short rules around a dot, 79 wide.
class MacOrnamentalDivider : public QWidget {
    Q_OBJECT

public:
    explicit MacOrnamentalDivider(QWidget *parent = nullptr);

    static void paint(QPainter &painter, const QRectF &rect, const DiaryTheme &theme);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A full-width hairline with 2 above and below.
class MacSettingsDivider : public QWidget {
    Q_OBJECT

public:
    explicit MacSettingsDivider(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The small buttons of the sections: leather text on no fill, or white text on leather.
struct MacSettingsButtonStyle {
    bool isPrimary = false;

    QSize sizeForLabel(const QString &label) const;
    void paint(QPainter &painter, const QRectF &rect, const QString &label, bool isPressed,
               const DiaryTheme &theme) const;
};

class MacSettingsButton : public QAbstractButton {
    Q_OBJECT

public:
    MacSettingsButton(const QString &label, MacSettingsButtonStyle style,
                      QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    MacSettingsButtonStyle m_style;
};

// A switch tinted with the leather colour.
class MacSettingsSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit MacSettingsSwitch(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A filled circle 6 across, in the colour given.
class MacSettingsStatusDot : public QWidget {
    Q_OBJECT

public:
    explicit MacSettingsStatusDot(QWidget *parent = nullptr);

    const QColor &color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

// A small indeterminate progress indicator; it turns only while shown.
class MacSettingsSpinner : public QWidget {
    Q_OBJECT

public:
    explicit MacSettingsSpinner(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    int m_timer = 0;
    int m_step = 0;
};

QLabel *makeSettingsLabel(const QString &text, const QFont &font, const QColor &color,
                          QWidget *parent = nullptr);
// The small system-font caption under a toggle's title, in half-strength ink; it wraps.
QLabel *makeSettingsCaption(const QString &text);
// A toggle with its title and caption at the leading edge.
QWidget *makeSettingsToggleRow(const QString &title, QLabel *caption, QAbstractButton *toggle);

} // namespace velmora
