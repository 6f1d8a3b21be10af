#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QObject>
#include <QPointF>
#include <QTimer>

#include <functional>

namespace velmora {

// How the cover moves from one progress to another: a damped spring, or a short ease in and out
// when the desktop asks for reduced motion. Positions run from 0 (start) to 1 (target).
class DiaryCoverCurve {
public:
    static DiaryCoverCurve spring(double response = 1.1, double dampingFraction = 0.9);
    static DiaryCoverCurve easeInOut(double duration = 0.25);

    double value(double seconds) const;
    // The motion is done as far as anyone can tell, though a spring's tail still settles.
    double logicalCompletion() const { return m_logicalCompletion; }
    // The motion has stopped.
    double settled() const { return m_settled; }
    bool isSpring() const { return m_isSpring; }

private:
    bool m_isSpring = false;
    double m_duration = 0;
    double m_decay = 0;
    double m_frequency = 0;
    double m_logicalCompletion = 0;
    double m_settled = 0;
};

// The cover's look at a progress p (0 closed, 1 swung fully open).
struct CoverSwingLook {
    double angleDegrees; // about the leading edge; negative swings it open
    double opacity;
    QColor shadowColor;
    double shadowRadius;
    QPointF shadowOffset;
};
CoverSwingLook coverSwing(double progress);
// The open pages' opacity behind the cover.
double diaryReveal(double progress);

// The book stage's state: closed → opening → open → closing → closed. Headless: the view paints
// `progress()` and asks `coverTakesInput()`. Time comes from `now` (seconds), so that tests can
// script it; a frame timer advances it while a transition runs.
class DiaryCoverTransition : public QObject {
    Q_OBJECT

public:
    enum class Phase { closed, opening, open, closing };
    Q_ENUM(Phase)

    explicit DiaryCoverTransition(QObject *parent = nullptr, std::function<double()> now = {});

    Phase phase() const { return m_phase; }
    double progress() const { return m_progress; }
    bool showDiary() const { return m_showDiary; }
    bool isAnimating() const { return m_isAnimating; }
    // The book lies under the cover while it moves and once it is open.
    bool bookPresent() const { return m_showDiary || m_isAnimating || m_progress > 0; }
    bool coverPresent() const { return !m_showDiary || m_isAnimating || m_progress < 1; }
    bool coverTakesInput() const { return coverPresent() && !m_isAnimating; }
    // Drawing still changes (a spring's tail after the logical completion).
    bool isMoving() const { return m_timer.isActive(); }

    // The same script of time as `now`, for a stage that a whole program built.
    void setClock(std::function<double()> now) { m_now = std::move(now); }
    void setReduceMotion(bool reduce) { m_reduceMotion = reduce; }
    bool reduceMotion() const { return m_reduceMotion; }

    // Swings the cover open; nothing while it moves or the book is open.
    void openDiary();
    // The open book asks to be closed: the cover swings shut.
    void closeDiary();
    // Moves to the time `now()` answers; the frame timer calls it.
    void step();

Q_SIGNALS:
    void progressChanged(double progress);
    void phaseChanged(DiaryCoverTransition::Phase phase);

private:
    void start(double target);
    void complete();

    std::function<double()> m_now;
    QElapsedTimer m_clock;
    QTimer m_timer;
    DiaryCoverCurve m_curve = DiaryCoverCurve::spring();
    Phase m_phase = Phase::closed;
    double m_progress = 0;
    double m_from = 0;
    double m_to = 0;
    double m_startedAt = 0;
    bool m_showDiary = false;
    bool m_isAnimating = false;
    bool m_reduceMotion = false;
};

} // namespace velmora
