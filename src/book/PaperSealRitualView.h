#pragma once

#include "book/DiarySoftShadow.h"
#include "book/theme/DiaryTheme.h"

#include <QAbstractButton>
#include <QWidget>

class QLabel;
class QVariantAnimation;

namespace velmora {

class DiaryGlyphView;

// The card's two buttons: a plain text one, or white text on a leather capsule.
class DiarySealCardButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Style { plain, prominent };

    DiarySealCardButton(const QString &text, Style style, const DiaryTheme &theme,
                        QWidget *parent = nullptr);

    void setTheme(const DiaryTheme &theme);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Style m_style;
    DiaryTheme m_theme;
};

// The paper card that asks whether to seal a page and, once sealed, briefly confirms it. It holds
// no state of the session: whoever shows it sets the mode and acts on the two requests. It is
// modal to the page: given the keyboard, it keeps every key from the page beneath (Tab still
// reaches its buttons).
class PaperSealRitualView : public QWidget {
    Q_OBJECT

public:
    enum class Mode { confirmation, acknowledgement };
    Q_ENUM(Mode)

    explicit PaperSealRitualView(Mode mode = Mode::confirmation, const DiaryTheme &theme = {},
                                 QWidget *parent = nullptr);

    Mode mode() const { return m_mode; }
    // Switching to the acknowledgement fills the seal, which breathes once.
    void setMode(Mode mode);
    void setTheme(const DiaryTheme &theme);
    const DiaryTheme &theme() const { return m_theme; }

    // Where the card lies inside the widget, which keeps room around it for its shadow.
    QRectF cardRect() const;
    // The breath's length, so tests and reduced motion can shorten it.
    void setBreathDuration(int milliseconds);

Q_SIGNALS:
    // "Keep Writing".
    void cancelRequested();
    // "Seal Page".
    void confirmRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void applyMode();
    void applyTheme();

    Mode m_mode;
    DiaryTheme m_theme;
    DiarySoftShadow m_shadow;
    DiaryGlyphView *m_seal;
    QLabel *m_title;
    QLabel *m_message;
    QLabel *m_acknowledgement;
    QWidget *m_buttons;
    DiarySealCardButton *m_cancel;
    DiarySealCardButton *m_confirm;
    QVariantAnimation *m_breath;
};

} // namespace velmora
