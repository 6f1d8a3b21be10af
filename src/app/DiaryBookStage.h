#pragma once

#include "book/DiaryCoverTransition.h"
#include "book/MacCoverSwing.h"

#include <QPixmap>
#include <QPointer>
#include <QPolygonF>
#include <QTransform>
#include <QWidget>

#include <functional>
#include <memory>

namespace velmora {

class MacBookShadow;
class MacClosedCover;
class MacFrostedBackdrop;
class UserDefaultsSettingsStore;

// The stage of the book: the closed cover over the open book, on the warm backdrop. Opening (the
// cover's button, Return, a double click, or openDiary()) swings the cover away; closeDiary()
// swings it shut. Keys typed while the cover swings open go to the book, which is built and
// reading its first page by then, though not yet shown. The open book is built by `bookFactory`
// (with no parent: the stage takes it) when first needed. The book is designed at 780 × 1024
// points; the stage shows it scaled to fit, centred, and input reaches it through the same scale.
class DiaryBookStage : public QWidget {
    Q_OBJECT

public:
    using BookFactory = std::function<QWidget *(QWidget *parent)>;

    DiaryBookStage(std::shared_ptr<UserDefaultsSettingsStore> settings, BookFactory bookFactory,
                   QWidget *parent = nullptr, std::function<double()> now = {});

    DiaryCoverTransition &transition() { return m_transition; }
    MacClosedCover *cover() const { return m_cover; }
    QWidget *bookView() const { return m_book; }
    // Where the open book lies on the stage, and its scale.
    QRectF bookRect() const;
    double bookScale() const;

    void setReduceMotion(bool reduce) { m_transition.setReduceMotion(reduce); }
    void openDiary();
    void closeDiary();
    // What the book shows changed while the cover swings open: the swing shows it from now on.
    void refreshBookImage();
    // The cover's name and privacy note, read again from the settings.
    void refreshCover();

Q_SIGNALS:
    void bookViewCreated(QWidget *book);
    // The cover starts to swing open over the book, which is still hidden: the book reads what
    // it shows now, so that it is there when the pages fade in.
    void bookWillAppear(QWidget *book);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void ensureBook();
    void captureImages();
    void applyPhase();
    void applyBookVisibility();
    // While the cover swings open the book is not on screen yet, and the stage holds the
    // keyboard: what is typed meanwhile is the book's.
    bool handKeyToBook(QKeyEvent *event);
    // A repeat of the Return that opened the book, still held down.
    bool isOpeningKeyRepeat(const QKeyEvent &event);
    bool eventFilter(QObject *watched, QEvent *event) override;

    class SwingLayer;
    class BookHost;

    std::shared_ptr<UserDefaultsSettingsStore> m_settings;
    BookFactory m_bookFactory;
    DiaryCoverTransition m_transition;
    MacFrostedBackdrop *m_backdrop = nullptr;
    MacBookShadow *m_bookShadow = nullptr;
    BookHost *m_host = nullptr;
    QPointer<QWidget> m_book;
    MacClosedCover *m_cover = nullptr;
    SwingLayer *m_swing = nullptr;
    QPixmap m_coverImage;
    QPixmap m_bookImage;
    CoverShadowImage m_coverShadow;
    QSizeF m_coverShadowSize;
    // From the opening while nothing but repeats of Return come.
    bool m_openingKeyHeld = false;
};

} // namespace velmora
