#include <benchmark/benchmark.h>

#include <QApplication>
#include <QStandardPaths>

// The benchmarks run inside a Qt application (text layout and the editor need one) with test paths,
// so they never touch a real diary.
int main(int argc, char **argv) {
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
