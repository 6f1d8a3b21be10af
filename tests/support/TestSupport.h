#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QSize>
#include <QTimer>
#include <QtTest/QTest>

#include <chrono>
#include <exception>
#include <fcntl.h>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace velmora::test {

// Isolates every test from the user's real diary and settings. A screen size gives the offscreen
// platform one screen of that size instead of its own 800×600, for what is laid out against the
// screen, as menus are.
void prepareTestEnvironment(QSize offscreenScreen = {});

// Pins the process time zone (TZ) for the lifetime of the guard.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const QByteArray &ianaId);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

// Pins the default QLocale for the lifetime of the guard.
class ScopedLocale {
public:
    explicit ScopedLocale(const QString &name);
    ~ScopedLocale();
    ScopedLocale(const ScopedLocale &) = delete;
    ScopedLocale &operator=(const ScopedLocale &) = delete;

private:
    QString m_previous;
};

namespace detail {

template <typename T> struct WaitState {
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    std::exception_ptr error;
    bool done = false;
    QEventLoop *loop = nullptr;
};

template <typename T> QCoro::Task<void> capture(QCoro::Task<T> task, WaitState<T> *state) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            state->result = true;
        } else {
            state->result.emplace(co_await std::move(task));
        }
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
    if (state->loop)
        state->loop->quit();
}

} // namespace detail

// Runs the event loop until the task finishes, then returns its value or rethrows its exception.
// A task that never finishes fails the whole test run rather than hanging it.
template <typename T>
T waitFor(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    detail::WaitState<T> state;
    QEventLoop loop;
    state.loop = &loop;
    auto runner = detail::capture<T>(std::move(task), &state);
    if (!state.done) {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &loop,
                         [] { qFatal("waitFor: the task did not finish in time"); });
        watchdog.start(timeout);
        loop.exec();
    }
    if (state.error)
        std::rethrow_exception(state.error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state.result);
}

// The error of type E that the body throws, or nothing when it throws none.
template <typename E, typename Body> std::optional<E> thrownBy(Body body) {
    try {
        body();
    } catch (const E &error) {
        return error;
    }
    return std::nullopt;
}

// Every file below the folder, hidden ones and links (not followed) included, with its bytes.
QMap<QString, QByteArray> filesBelow(const QString &folder);

inline void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Why a message that quotes a value from outside would not read as one line of its own words,
// else nothing: too long, or a control character, a line or paragraph separator, or a direction
// embedding, override or isolate other than the pairs that isolate a quoted value.
QString unevenShownText(const QString &message, qsizetype limit = 1000);

// How long a wait for what must come allows by default: on a loaded machine (a whole suite, or
// several copies of a test, beside a busy loop per core) a window system or a worker can take many
// seconds for what takes milliseconds alone. Only a failing test waits this long.
constexpr std::chrono::milliseconds eventually = std::chrono::seconds(60);

// Spins the event loop until the predicate holds; false when it never did within the timeout.
template <typename Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout = eventually) {
    return QTest::qWaitFor(predicate, int(timeout.count()));
}

// Puts at `path` what a table's row names: "a file" holding `bytes`, "a link" to a file holding
// them beside it, "a pipe", "a folder", or a link to the absolute path named ("/dev/zero").
inline void standAt(const QString &path, const QString &what, const QByteArray &bytes = {}) {
    const QByteArray native = QFile::encodeName(path);
    const QString elsewhere = path + QStringLiteral(".elsewhere");
    if (what == u"a file") {
        writeBytes(path, bytes);
    } else if (what == u"a link") {
        writeBytes(elsewhere, bytes);
        QVERIFY(QFile::link(elsewhere, path));
    } else if (what.startsWith(u'/')) {
        QVERIFY(QFile::link(what, path));
    } else if (what == u"a pipe") {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    } else if (what == u"a folder") {
        QCOMPARE(::mkdir(native.constData(), 0700), 0);
    }
}

// Lets a reader waiting to open the named pipe at `path` go on (its read then ends at once): the
// pipe opened for writing without waiting, and closed. Whether a reader was waiting there.
inline bool letGoOfAWaitingReader(const QString &path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    const bool pipe = ::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
    ::close(fd);
    return pipe;
}

// Runs `read` while something that is no file may stand at `path`; true when it ended by itself.
// A reader still waiting on a pipe there when the usual wait is over is let go, so that the test
// fails instead of hanging.
template <typename Read> bool endsWithoutWaiting(const QString &path, Read read) {
    std::promise<void> ended;
    auto watch = std::async(std::launch::async, [&path, done = ended.get_future()] {
        return done.wait_for(eventually) == std::future_status::timeout &&
               letGoOfAWaitingReader(path);
    });
    read();
    ended.set_value();
    return !watch.get();
}

} // namespace velmora::test

// Like QTEST_GUILESS_MAIN / QTEST_MAIN, with the test environment prepared first.
#define VELMORA_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char **argv) {                                                              \
        velmora::test::prepareTestEnvironment();                                                   \
        QCoreApplication app(argc, argv);                                                          \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
