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

class MacClosedCover;
class MacFrostedBackdrop;
class UserDefaultsSettingsStore;

// The stage of the book: the closed cover over the open book, on the warm backdrop. Opening (the
// cover's button, Return, a double click, or openDiary()) swings the cover away; closeDiary()
// swings it shut. The open book is built by `bookFactory` when first needed.
class DiaryBookStage : public QWidget {
    Q_OBJECT

public:
    static inline const QString hasLaunchedBeforeKey = QStringLiteral("hasLaunchedBefore");
    using BookFactory = std::function<QWidget *(QWidget *parent)>;

    DiaryBookStage(std::shared_ptr<UserDefaultsSettingsStore> settings, BookFactory bookFactory,
                   QWidget *parent = nullptr, std::function<double()> now = {});

    DiaryCoverTransition &transition() { return m_transition; }
    MacClosedCover *cover() const { return m_cover; }
    QWidget *bookView() const { return m_book; }

    void setReduceMotion(bool reduce) { m_transition.setReduceMotion(reduce); }
    void openDiary();
    void closeDiary();
    // The cover's name and privacy note, read again from the settings.
    void refreshCover();

Q_SIGNALS:
    void bookViewCreated(QWidget *book);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void ensureBook();
    void captureImages();
    void applyPhase();

    class SwingLayer;

    std::shared_ptr<UserDefaultsSettingsStore> m_settings;
    BookFactory m_bookFactory;
    DiaryCoverTransition m_transition;
    MacFrostedBackdrop *m_backdrop = nullptr;
    QPointer<QWidget> m_book;
    MacClosedCover *m_cover = nullptr;
    SwingLayer *m_swing = nullptr;
    QPixmap m_coverImage;
    QPixmap m_bookImage;
    CoverShadowImage m_coverShadow;
    QSizeF m_coverShadowSize;
};

} // namespace velmora
