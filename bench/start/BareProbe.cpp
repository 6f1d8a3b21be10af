// The baseline of the start and memory benchmarks: a bare Qt Widgets window that ends right after
// its first painted frame, as the program's start probe ends after the book's. With --peak it
// prints its peak resident memory (KiB) first.
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

bool printPeak = false;

void printPeakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            std::printf("%s\n", line.mid(6).trimmed().split(' ').constFirst().constData());
    }
}

class Window : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override {
        // After the paint event the frame still has to reach the window.
        QTimer::singleShot(0, [] {
            if (printPeak)
                printPeakResidentKiB();
            std::fflush(stdout);
            std::_Exit(0);
        });
    }
};

} // namespace

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    printPeak = QApplication::arguments().contains(QStringLiteral("--peak"));
    Window window;
    window.resize(1000, 760);
    window.show();
    return QApplication::exec();
}
