#pragma once

#include "book/VuzIvoduLeaf.h"
#include "book/theme/DiaryTheme.h"
#include "pagescreen/VuzIvoduPageView.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>

class QMessageBox;
class QShortcut;
class QStackedWidget;

namespace velmora {

class DiarySavedNote;
class MacPageArrows;
class MacPageTools;
class MacPageTurnView;
class PageLoadingLeaf;
class PageOverlayMotion;
class VuzIvoduPageArea;
class VuzIvoduEdgeStrip;
class MacPageNotice;
class PaperSealRitualView;
class MacReadingLeaf;
class VuzIvoduRecallCards;
class MacRuledTextView;
class MacInkLibrary;
class PageTypeAhead;
class LeafInkFeed;
class PageAlerts;
class PageNeighbourInk;

// The open book on screen: the binding and the page, the writable leaf with the ruled editor or
// a notice, the reading leaf of a sealed page, the saved note, the seal card and the two alerts.
// It paints the state of its controller and routes input to it.
class VuzIvoduPageWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int spreadWidth = 780;
    static constexpr int spreadHeight = 1024;
    static constexpr int bindingWidth = 12;
    static constexpr double headerTrailingClearance = 180;

    // Chooses where a copy of the page goes; an empty answer cancels. The save panel by default.
    using CopyPathChooser = std::function<QString(const QString &proposedName)>;

    VuzIvoduPageWidget(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                       DiaryCommandRouter &router, UserDefaultsSettingsStore &settings,
                       VuzIvoduPageTimings timings = {}, QWidget *parent = nullptr);
    ~VuzIvoduPageWidget() override;

    VuzIvoduPageView &controller() const { return *m_controller; }

    void setTheme(const DiaryTheme &theme);
    void setSystemReduceMotion(bool reduce);
    void setSyncScheduler(std::function<void(std::chrono::nanoseconds)> schedule);
    // Where the handwriting shown behind the leaves comes from; none shows no handwriting.
    void setInkLibrary(MacInkLibrary *library);
    void setCopyPathChooser(CopyPathChooser chooser);

    // For tests and screens: the parts as they stand.
    MacRuledTextView *editor() const { return m_editor; }
    MacPageNotice *notice() const { return m_notice; }
    VuzIvoduLeaf *writableLeaf() const { return m_writableLeaf; }
    MacReadingLeaf *readingLeaf() const { return m_readingLeaf; }
    DiarySavedNote *savedNote() const { return m_savedNote; }
    PaperSealRitualView *sealCard() const { return m_sealCard; }
    QMessageBox *persistenceAlert() const;
    QMessageBox *leaveAlert() const;
    MacPageTools *tools() const { return m_tools; }
    MacPageArrows *arrows() const { return m_arrows; }
    MacPageTurnView *turnView() const { return m_turnView; }
    const LeafInkFeed *editorInk() const { return m_editorInk; }
    const LeafInkFeed *readingInk() const { return m_readingInk; }
    // Whether the leaves a turn can reach next are known and their ink fetched.
    bool isNeighbourInkFetched() const;
    VuzIvoduPageArea *pageArea() const { return m_page; }
    PageLoadingLeaf *loadingLeaf() const { return m_loadingLeaf; }
    QWidget *motionMarker() const { return m_motionMarker; }
    PageOverlayMotion *savedNoteMotion() const { return m_savedNoteMotion; }
    PageOverlayMotion *sealCardMotion() const { return m_sealCardMotion; }
    // The picture of the leaf that was shown, fading over the new one.
    PageOverlayMotion *leafFade() const { return m_leafFade; }
    VuzIvoduRecallCards *recallCards() const { return m_recallCards; }
    const PageTypeAhead *typeAhead() const { return m_typeAhead; }

    // A picture of a leaf as the page would show it, at twice its size in pixels.
    QPixmap leafPicture(const PageDescriptor &descriptor);

    QSize sizeHint() const override { return {spreadWidth, spreadHeight}; }

public Q_SLOTS:
    // The Edit menu's commands while the page itself has the keyboard, as it has on a sealed
    // page: the words of a read leaf can be selected and copied, never changed.
    void copy();
    void selectAll();

Q_SIGNALS:
    // The book should close (the root view shows the cover again).
    void closeRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void layOutParts();
    void connectEditor();
    void connectLeafRefreshes(UserDefaultsSettingsStore &settings);
    void connectTurnsAndTools();
    void connectOverlays();
    void buildOverlays();
    void installWindowKeys();
    void refreshLeaf();
    void refreshEditorFont();
    void refreshEditorInk();
    void refreshSealCard();
    void takeKeysForSealCard();
    void refreshTurnLayers();
    void refreshChrome();
    VuzIvoduLeafContent writableLeafContent() const;
    std::optional<VuzIvoduLeafContent::Quote> quoteFor(const DayKey &day) const;
    QString writingPrompt() const;

    std::unique_ptr<VuzIvoduPageView> m_controller;
    DiaryTheme m_theme;
    // The handwriting behind the editor and behind the sealed reading leaf.
    LeafInkFeed *m_editorInk = nullptr;
    LeafInkFeed *m_readingInk = nullptr;
    PageNeighbourInk *m_neighbourInk = nullptr;
    PageAlerts *m_alerts = nullptr;
    VuzIvoduPageArea *m_page;
    VuzIvoduLeaf *m_writableLeaf;
    QStackedWidget *m_writing;
    MacRuledTextView *m_editor;
    // The editor had the keyboard when the page was held for a replacement of the diary.
    bool m_editorHeldWithFocus = false;
    MacPageNotice *m_notice;
    QWidget *m_empty;
    MacReadingLeaf *m_readingLeaf;
    PageLoadingLeaf *m_loadingLeaf;
    MacPageTurnView *m_turnView;
    VuzIvoduEdgeStrip *m_leadingStrip;
    VuzIvoduEdgeStrip *m_trailingStrip;
    MacPageTools *m_tools;
    MacPageArrows *m_arrows;
    QWidget *m_motionMarker;
    std::unique_ptr<MacReadingLeaf> m_pictureLeaf;
    // The lifted leaf of an edge drag, taken when the drag begins.
    QPixmap m_dragPicture;
    DiarySavedNote *m_savedNote = nullptr;
    QWidget *m_sealScrim = nullptr;
    PaperSealRitualView *m_sealCard = nullptr;
    PageOverlayMotion *m_savedNoteMotion = nullptr;
    PageOverlayMotion *m_sealScrimMotion = nullptr;
    PageOverlayMotion *m_sealCardMotion = nullptr;
    PageOverlayMotion *m_leafFade = nullptr;
    // An empty, hidden sibling that every layer of the page stays under (see buildOverlays).
    QWidget *m_searchFloor = nullptr;
    std::optional<std::pair<PageDescriptorID, DayKey>> m_shownLeaf;
    std::optional<DayKey> m_editorDay;
    PageTypeAhead *m_typeAhead = nullptr;
    // The page's shortcuts, owned by the window it is shown in.
    QList<QPointer<QShortcut>> m_windowKeys;
    QPointer<QWidget> m_windowKeysOwner;
    VuzIvoduRecallCards *m_recallCards = nullptr;
};

} // namespace velmora
