#pragma once

#include <QAbstractButton>
#include <QDateTime>
#include <QFont>
#include <QRectF>
#include <QStringList>
#include <QWidget>

#include <functional>

class QVariantAnimation;

namespace velmora {

// The owner's initials for the cover: the first letter of each of the first three words of the
// trimmed name, upper-cased and joined by "·"; empty for a blank name.
QString diaryInitials(const QString &userName);

// What the closed cover shows; everything else on it is fixed.
struct MacClosedCoverContent {
    QString userName;
    bool showsPrivacyNote = false;
    QString year;

    QString displayName() const { return userName.trimmed(); }

    friend bool operator==(const MacClosedCoverContent &, const MacClosedCoverContent &) = default;
};

// Where each part of the cover lies, in the cover's design points (780 × 1024).
struct MacClosedCoverLayout {
    QRectF spine;
    QRectF board;
    QRectF topOrnament;
    QRectF welcome; // empty without a name
    QRectF title;   // the name, or "My Diary"
    QStringList titleLines;
    QFont titleFont;
    QRectF year;
    QRectF bottomOrnament;
    QRectF openButton;
    QRectF privacyNote; // empty when not shown
    QRectF monogram;    // empty without initials
};

MacClosedCoverLayout layOutClosedCover(const MacClosedCoverContent &content);

// The whole cover in its design rectangle (780 × 1024 at the painter's origin). The open button
// is painted by itself (paintClosedCoverOpenButton) so it can hover; hover runs from 0 to 1.
void paintClosedCover(QPainter &painter, const MacClosedCoverContent &content,
                      const MacClosedCoverLayout &layout);
void paintClosedCoverOpenButton(QPainter &painter, const QRectF &button, double hover);

class MacClosedCoverOpenButton;

// The closed book that fills the window before the diary is opened. It knows nothing of the
// session: it asks to be opened (openRequested) when the button is clicked, Return is pressed or
// the cover is double-clicked, and leaves what follows to its owner. It draws at any size,
// scaled to fit and centred.
class MacClosedCover : public QWidget {
    Q_OBJECT

public:
    static constexpr QSizeF designSize{780, 1024};

    MacClosedCover(const QString &userName, bool showsPrivacyNote, QWidget *parent = nullptr,
                   std::function<QDateTime()> now = &QDateTime::currentDateTime);

    void setUserName(const QString &userName);
    void setShowsPrivacyNote(bool shows);
    const QString &userName() const { return m_userName; }
    bool showsPrivacyNote() const { return m_showsPrivacyNote; }
    bool isHoveringOpen() const;

    QAbstractButton *openButton() const;
    // The cover's scale and its design rectangle inside the widget.
    double scale() const;
    QRectF coverRect() const;

    // Where each part lies in design points, as last laid out.
    const MacClosedCoverLayout &coverLayout() const { return m_layout; }

    QSize sizeHint() const override { return designSize.toSize(); }

    // Starts drawing the textures a cover of this size will paint, before it is made or shown.
    static void prepareTextures(QSizeF size, qreal devicePixelRatio);

Q_SIGNALS:
    void openRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    MacClosedCoverContent content() const;
    void relayout();

    QString m_userName;
    bool m_showsPrivacyNote;
    std::function<QDateTime()> m_now;
    MacClosedCoverOpenButton *m_button;
    MacClosedCoverContent m_content;
    MacClosedCoverLayout m_layout;
    QList<QWidget *> m_accessibleTexts;
};

} // namespace velmora
