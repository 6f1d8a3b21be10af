#pragma once

#include <QDir>
#include <QFile>
#include <QThread>
#include <QThreadPool>

#include <sched.h>
#include <sys/types.h>

#include <algorithm>
#include <vector>

namespace velmora::bench {

// Binds every thread of the process, and each thread started meanwhile, to `cores` processors,
// and the global pool to as many threads, as on a laptop with that many cores; undone when it
// ends. On a shared machine the processors taken are those that were idlest over a moment, so
// the figures say what the frame costs rather than whom it met. sched_setaffinity binds one
// thread, so each is bound by its id.
class ProcessOnCores {
public:
    explicit ProcessOnCores(int cores)
        : m_poolThreads(QThreadPool::globalInstance()->maxThreadCount()) {
        CPU_ZERO(&m_allowed);
        sched_getaffinity(0, sizeof m_allowed, &m_allowed);
        const std::vector<Times> before = times();
        QThread::msleep(200);
        const std::vector<Times> after = times();
        std::vector<std::pair<double, int>> idleness;
        for (std::size_t cpu = 0; cpu < std::min(before.size(), after.size()); ++cpu) {
            const double total = double(after[cpu].total - before[cpu].total);
            if (CPU_ISSET(int(cpu), &m_allowed))
                idleness.emplace_back(
                    total > 0 ? double(after[cpu].idle - before[cpu].idle) / total : 1, int(cpu));
        }
        std::stable_sort(idleness.begin(), idleness.end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
        cpu_set_t chosen;
        CPU_ZERO(&chosen);
        int taken = 0;
        for (const auto &[idle, cpu] : idleness)
            if (taken < cores) {
                CPU_SET(cpu, &chosen);
                ++taken;
            }
        bindAll(chosen);
        QThreadPool::globalInstance()->setMaxThreadCount(std::max(1, taken));
    }
    ~ProcessOnCores() {
        bindAll(m_allowed);
        QThreadPool::globalInstance()->setMaxThreadCount(m_poolThreads);
    }
    ProcessOnCores(const ProcessOnCores &) = delete;
    ProcessOnCores &operator=(const ProcessOnCores &) = delete;

private:
    struct Times {
        qint64 idle = 0;
        qint64 total = 0;
    };

    // Each processor's idle and total time so far, from /proc/stat.
    static std::vector<Times> times() {
        std::vector<Times> result;
        QFile stat(QStringLiteral("/proc/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return result;
        const QList<QByteArray> lines = stat.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 6 || !fields[0].startsWith("cpu") || fields[0] == "cpu")
                continue;
            const std::size_t cpu = fields[0].mid(3).toULongLong();
            if (result.size() <= cpu)
                result.resize(cpu + 1);
            for (qsizetype i = 1; i < fields.size(); ++i)
                result[cpu].total += fields[i].toLongLong();
            // idle and iowait
            result[cpu].idle = fields[4].toLongLong() + fields[5].toLongLong();
        }
        return result;
    }

    static void bindAll(const cpu_set_t &set) {
        const QStringList threads =
            QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &thread : threads)
            sched_setaffinity(pid_t(thread.toInt()), sizeof set, &set);
    }

    cpu_set_t m_allowed;
    int m_poolThreads;
};

} // namespace velmora::bench
