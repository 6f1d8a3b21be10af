// The program as main() starts it, with a way out for the start and memory benchmarks:
//   velmora-start-probe prepare STORE           writes the generated 20-year diary into STORE
//   velmora-start-probe first-paint ARGS...     ends right after the book's first painted frame
//   velmora-start-probe open-today ARGS...      opens the book on today's page, then searches,
//                                               opens the calendar and turns a page, printing
//                                               VmHWM (KiB) after each of the four
// ARGS are the program's own (a test-mode store and settings suite).
#include "../BenchAwait.h"
#include "../DiaryGenerator.h"
#include "app/DiaryBookStage.h"
#include "app/VelmoraProgram.h"
#include "book/MacClosedCover.h"
#include "domain/Clock.h"
#include "pages/DiaryPageSystemStore.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "pagescreen/VuzIvoduRecallCards.h"
#include "platform/UserDefaults.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace velmora;

namespace {

int prepare(const QString &storeURL) {
    const auto clock = std::make_shared<SystemClock>();
    UserDefaults defaults(QFileInfo(storeURL).dir().filePath(QStringLiteral("prepare.ini")));
    DiaryMigrationCoordinator(clock).prepareStore(storeURL, defaults, QTimeZone::systemTimeZone());
    CoreDataDiaryRepository repository(
        std::make_shared<DiaryPersistenceStack>(
            storeURL, DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
        clock);
    bench::await(repository.replaceAll(bench::generateDiary()));
    return 0;
}

// The high-water mark of this process's resident memory, in KiB.
qint64 peakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
    }
    return -1;
}

// The diary's lock, which a quit removes: the next probe starts as after a quit, not a crash.
QString heldLock;

// Leaves at once: the program's teardown is not part of what is measured.
[[noreturn]] void leave(int code) {
    if (!heldLock.isEmpty())
        QFile::remove(heldLock);
    std::fflush(stdout);
    std::_Exit(code);
}

// Sees the paint events of the book: the closed cover, or the open book behind it.
class PaintWatcher : public QObject {
public:
    PaintWatcher(VelmoraProgram &program, std::function<void()> painted)
        : m_program(program)
        , m_painted(std::move(painted)) {}

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && isBook(watched)) {
            // After the paint event the frame still has to reach the window.
            QTimer::singleShot(0, this, m_painted);
        }
        return false;
    }

private:
    bool isBook(QObject *watched) const {
        if (qobject_cast<MacClosedCover *>(watched))
            return true;
        QWidget *book = m_program.rootView().bookView();
        auto *widget = qobject_cast<QWidget *>(watched);
        return book && widget && (widget == book || book->isAncestorOf(widget));
    }

    VelmoraProgram &m_program;
    std::function<void()> m_painted;
};

// What the probe does once today's page is open, one step at a time: each step starts when the
// previous one is done, and the peak is printed after each.
class MemoryWalk {
public:
    explicit MemoryWalk(VelmoraProgram &program)
        : m_program(program) {}

    // Called on every poll once the book is open; true when the walk is over.
    bool advance() {
        auto *book = qobject_cast<VuzIvoduPageWidget *>(m_program.rootView().bookView());
        if (!book)
            return false;
        VuzIvoduPageView &page = book->controller();
        switch (m_step) {
        case Step::search:
            page.setShowSearch(true);
            if (MacSearchCard *card = book->recallCards()->searchCard()) {
                card->controller().setQuery(QStringLiteral("the"));
                m_step = Step::searching;
            }
            return false;
        case Step::searching:
            if (book->recallCards()->searchCard()->controller().results().isEmpty())
                return false;
            report();
            page.closeSearch();
            m_step = Step::searchClosed;
            return false;
        case Step::searchClosed:
            // One card after the other, as a person opens them.
            if (++m_polls < 50)
                return false;
            m_polls = 0;
            page.openCalendar();
            m_step = Step::calendar;
            return false;
        case Step::calendar:
            // The month's marks and the years on this day come in the card's first moments.
            if (!book->recallCards()->calendarCard() || ++m_polls < 50)
                return false;
            report();
            page.closeCalendar();
            m_polls = 0;
            m_step = Step::calendarClosed;
            return false;
        case Step::calendarClosed:
            if (++m_polls < 50)
                return false;
            m_day = m_program.graph().diarySession().selectedDay();
            page.turnToPreviousPage();
            m_step = Step::turn;
            return false;
        case Step::turn:
            if (m_program.graph().diarySession().selectedDay() == m_day ||
                m_program.graph().pageSystem().transition().phase != PageTransitionPhase::idle)
                return false;
            book->repaint();
            report();
            return true;
        }
        return false;
    }

private:
    enum class Step { search, searching, searchClosed, calendar, calendarClosed, turn };

    void report() {
        std::printf("%lld\n", peakResidentKiB());
        std::fflush(stdout);
    }

    VelmoraProgram &m_program;
    Step m_step = Step::search;
    DayKey m_day;
    int m_polls = 0;
};

bool todaysPageLoaded(VelmoraProgram &program) {
    QWidget *book = program.rootView().bookView();
    const DiarySessionStore &session = program.graph().diarySession();
    const auto leaf = program.graph().pageSystem().selectedDescriptor();
    return book && book->isVisible() && session.phase().kind != DiarySessionPhase::Kind::loading &&
           leaf && leaf->dayKey == session.selectedDay();
}

} // namespace

int main(int argc, char **argv) {
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode != "prepare" && mode != "first-paint" && mode != "open-today") {
        std::fprintf(stderr, "usage: %s prepare STORE | first-paint ARGS... | open-today ARGS...\n",
                     argv[0]);
        return 2;
    }
    if (mode == "prepare") {
        QCoreApplication application(argc, argv);
        return argc > 2 ? prepare(QString::fromLocal8Bit(argv[2])) : 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    VelmoraProgram program({DiaryProcessEnvironment::current(), true, true});
    PaintWatcher watcher(program, [] { leave(0); });
    MemoryWalk walk(program);
    bool open = false;
    QTimer poll;
    if (mode == "first-paint") {
        application.installEventFilter(&watcher);
    } else {
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&program, &walk, &open] {
            DiaryBookStage *stage = program.rootView().stage();
            if (!stage)
                return;
            if (open) {
                if (walk.advance())
                    leave(0);
            } else if (stage->transition().phase() == DiaryCoverTransition::Phase::closed) {
                program.rootView().openDiary();
            } else if (stage->transition().phase() == DiaryCoverTransition::Phase::open &&
                       todaysPageLoaded(program)) {
                // Today's page drawn once more, now, so its painting counts too.
                program.rootView().bookView()->repaint();
                std::printf("%lld\n", peakResidentKiB());
                std::fflush(stdout);
                open = true;
            }
        });
        poll.start();
    }
    if (const auto exitCode = program.start())
        return *exitCode;
    heldLock = QFileInfo(program.graph().storeURL()).canonicalPath() + QLatin1Char('/') +
               DiaryInstanceLock::fileName;
    // A probe that never sees its frame must not hang the benchmark.
    QTimer::singleShot(std::chrono::seconds(60), [] {
        std::fprintf(stderr, "the book was never painted\n");
        leave(1);
    });
    return QApplication::exec();
}
