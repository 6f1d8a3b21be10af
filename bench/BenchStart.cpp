// Whole-process figures of the program, each run a fresh process with empty home and XDG folders
// over the generated 20-year diary (a test-mode store): the time to the book's first painted frame
// beside a bare Qt Widgets window's, and the peak resident memory once today's page is open.
#include "support/PrivateSessionBus.h"
#include "support/PrivateXServer.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
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

// One probe run in a fresh process with empty home and XDG folders.
ProbeRun runProbe(const QString &program, const QStringList &arguments, Platform platform) {
    QTemporaryDir home;
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

// Each iteration runs the bare window and then the program, so both see the same machine; the
// iteration's time is the program's, and the counters give both medians and the median of the
// pairwise differences.
void BM_StartToFirstPaint(benchmark::State &state) {
    const auto platform = Platform(state.range(0));
    QString storeURL;
    if (!ready(state, platform, &storeURL))
        return;
    // One unmeasured run of each, so the first counted run does not pay for cold file caches.
    runProbe(bareProbe, {}, platform);
    runProbe(startProbe, programArguments(QStringLiteral("first-paint"), storeURL), platform);
    std::vector<double> bare, program, difference;
    for (auto _ : state) {
        const ProbeRun baseline = runProbe(bareProbe, {}, platform);
        const ProbeRun run = runProbe(
            startProbe, programArguments(QStringLiteral("first-paint"), storeURL), platform);
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
BENCHMARK(BM_StartToFirstPaint)
    ->ArgName("xcb")
    ->Arg(offscreen)
    ->Arg(xcb)
    ->Iterations(15)
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
