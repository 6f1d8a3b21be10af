// Whole-process figures of the program, each run a fresh process over the generated 20-year diary
// (a test-mode store), with empty home and XDG folders unless said otherwise: the time to the
// book's first painted frame beside a bare Qt Widgets window's, also on a start after the first
// with the disk quiet and busy, and the peak resident memory once today's page is open.
#include "support/PrivateSessionBus.h"
#include "support/PrivateXServer.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const QString startProbe = QStringLiteral(VELMORA_START_PROBE);
const QString bareProbe = QStringLiteral(VELMORA_BARE_PROBE);

// The generated diary, written once by a process of its own.
class PreparedDiary {
public:
    QString storeURL() {
        if (!m_prepared) {
            m_prepared = true;
            QProcess prepare;
            prepare.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            prepare.start(startProbe, {QStringLiteral("prepare"), m_folder.filePath(store)});
            m_ok = prepare.waitForFinished(600000) &&
                   prepare.exitStatus() == QProcess::NormalExit && prepare.exitCode() == 0;
        }
        return m_ok ? m_folder.filePath(store) : QString();
    }

private:
    static inline const QString store = QStringLiteral("diary/store.sqlite");
    QTemporaryDir m_folder;
    bool m_prepared = false;
    bool m_ok = false;
};

velmora::test::PrivateXServer xServer;
// A session bus of the benchmark's own, as a desktop session has one.
velmora::test::PrivateSessionBus sessionBus;
PreparedDiary preparedDiary;

enum Platform { offscreen, xcb };

struct ProbeRun {
    bool ok = false;
    double milliseconds = 0;
    QByteArray output;
};

// One probe run in a fresh process with empty home and XDG folders, or with those of `keptHome`
// as earlier runs left them.
ProbeRun runProbe(const QString &program, const QStringList &arguments, Platform platform,
                  const QString &keptHome = {}) {
    QTemporaryDir fresh;
    const QDir home(keptHome.isEmpty() ? fresh.path() : keptHome);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                             "XDG_RUNTIME_DIR"}) {
        const QString folder = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QString::fromLatin1(name), folder);
    }
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus.address());
    if (platform == xcb) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), xServer.display());
    } else {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120000);
    ProbeRun run;
    run.milliseconds = double(clock.nsecsElapsed()) / 1e6;
    run.ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    run.output = process.readAllStandardOutput();
    // What the program logs is shown only when the run went wrong.
    if (!run.ok)
        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
    return run;
}

QStringList programArguments(const QString &mode, const QString &storeURL) {
    return {
        mode,     QStringLiteral("--velmora-test-mode"),      QStringLiteral("--velmora-store-url"),
        storeURL, QStringLiteral("--velmora-defaults-suite"), QStringLiteral("StartBench")};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool ready(benchmark::State &state, Platform platform, QString *storeURL) {
    if (platform == xcb && xServer.display().isEmpty()) {
        state.SkipWithError("Xvfb could not be started");
        return false;
    }
    *storeURL = preparedDiary.storeURL();
    if (storeURL->isEmpty()) {
        state.SkipWithError("the generated diary could not be written");
        return false;
    }
    return true;
}

// A disk busy with other writes, as a download or a copy leaves it: a large file written beside
// the diary's folder, its write-back begun as the system begins it once enough is dirty, and
// nothing waited for.
class BusyDisk {
public:
    explicit BusyDisk(const QString &storeURL)
        : m_path(QFileInfo(QFileInfo(storeURL).path()).path() + QStringLiteral("/busy-disk")) {}
    ~BusyDisk() { QFile::remove(m_path); }

    bool fill() {
        // A new file each time: one truncated in place would be written back as it is closed.
        QFile::remove(m_path);
        const int fd = ::open(QFile::encodeName(m_path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(1 << 20, 'x');
        bool written = true;
        for (int i = 0; i < 256 && written; ++i)
            written = ::write(fd, block.constData(), size_t(block.size())) == block.size();
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        return written;
    }

private:
    QString m_path;
};

// Each iteration runs the bare window and then the program, so both see the same machine; the
// iteration's time is the program's, and the counters give both medians and the median of the
// pairwise differences. With a busy disk, each of the two starts right after a large write.
void startToFirstPaint(benchmark::State &state, Platform platform, bool diskBusy,
                       const QString &keptHome = {}) {
    QString storeURL;
    if (!ready(state, platform, &storeURL))
        return;
    BusyDisk busyDisk(storeURL);
    const auto disk = [&] {
        if (!diskBusy || busyDisk.fill())
            return true;
        state.SkipWithError("the disk could not be kept busy");
        return false;
    };
    // One unmeasured run of each, so the first counted run does not pay for cold file caches.
    runProbe(bareProbe, {}, platform, keptHome);
    runProbe(startProbe, programArguments(QStringLiteral("first-paint"), storeURL), platform,
             keptHome);
    std::vector<double> bare, program, difference;
    for (auto _ : state) {
        if (!disk())
            return;
        const ProbeRun baseline = runProbe(bareProbe, {}, platform, keptHome);
        if (!disk())
            return;
        const ProbeRun run =
            runProbe(startProbe, programArguments(QStringLiteral("first-paint"), storeURL),
                     platform, keptHome);
        if (!baseline.ok || !run.ok) {
            state.SkipWithError("a probe did not paint its first frame");
            return;
        }
        state.SetIterationTime(run.milliseconds / 1000);
        bare.push_back(baseline.milliseconds);
        program.push_back(run.milliseconds);
        difference.push_back(run.milliseconds - baseline.milliseconds);
    }
    state.counters["program_ms"] = median(program);
    state.counters["bare_ms"] = median(bare);
    state.counters["over_bare_ms"] = median(difference);
}

void BM_StartToFirstPaint(benchmark::State &state) {
    startToFirstPaint(state, Platform(state.range(0)), false);
}
BENCHMARK(BM_StartToFirstPaint)
    ->ArgName("xcb")
    ->Arg(offscreen)
    ->Arg(xcb)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A start as every one after the first makes it, with the diary's settings left by the run before,
// with the disk quiet and busy with other writes.
void BM_StartToFirstPaintDiskBusy(benchmark::State &state) {
    QTemporaryDir home;
    startToFirstPaint(state, offscreen, state.range(0) != 0, home.path());
}
// A busy start writes 256 MiB first: fewer runs.
BENCHMARK(BM_StartToFirstPaintDiskBusy)
    ->ArgName("busy")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The high-water mark of the program's resident memory over the 20-year diary once today's page
// is open and painted, then after a search, the calendar and a page turn, beside the bare
// window's at its first frame.
void BM_PeakMemoryTodaysPage(benchmark::State &state) {
    QString storeURL;
    if (!ready(state, offscreen, &storeURL))
        return;
    static const char *const steps[] = {"open_MiB", "search_MiB", "calendar_MiB", "turn_MiB"};
    std::vector<double> bare;
    std::vector<std::vector<double>> program(std::size(steps));
    const auto peakOf = [](const QByteArray &line) {
        bool number = false;
        const double kib = line.trimmed().toDouble(&number);
        return number ? kib / 1024 : 0.0;
    };
    for (auto _ : state) {
        const ProbeRun baseline = runProbe(bareProbe, {QStringLiteral("--peak")}, offscreen);
        const ProbeRun run = runProbe(
            startProbe, programArguments(QStringLiteral("open-today"), storeURL), offscreen);
        const QList<QByteArray> lines = run.output.trimmed().split('\n');
        bare.push_back(baseline.ok ? peakOf(baseline.output) : 0.0);
        if (bare.back() <= 0 || !run.ok || lines.size() != qsizetype(std::size(steps))) {
            state.SkipWithError("a probe did not report its peak memory");
            return;
        }
        for (size_t i = 0; i < std::size(steps); ++i)
            program[i].push_back(peakOf(lines[qsizetype(i)]));
    }
    for (size_t i = 0; i < std::size(steps); ++i)
        state.counters[steps[i]] = median(program[i]);
    state.counters["bare_peak_MiB"] = median(bare);
}
BENCHMARK(BM_PeakMemoryTodaysPage)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
