// Prepares a store and, when told, dies by SIGKILL at one named point of the migration, so the
// test can look at what a process killed there leaves behind.
#include "MigrationFixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <csignal>
#include <cstdio>

using namespace velmora;

namespace {

class KillingInjector final : public MigrationFaultInjecting {
public:
    explicit KillingInjector(std::optional<DiaryRepositoryFaultPoint> point)
        : m_point(point) {}
    void inject(DiaryRepositoryFaultPoint point) override {
        if (point == m_point)
            ::raise(SIGKILL);
    }

private:
    std::optional<DiaryRepositoryFaultPoint> m_point;
};

} // namespace

// Arguments: store path, defaults file, fault point name or "none".
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4)
        return 2;
    UserDefaults defaults(arguments[2]);
    DiaryMigrationCoordinator coordinator(
        std::make_shared<SystemClock>(),
        std::make_shared<KillingInjector>(fromRawValue<DiaryRepositoryFaultPoint>(arguments[3])));
    std::printf("go\n");
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    try {
        coordinator.prepareStore(arguments[1], defaults, QTimeZone("Europe/Paris"));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(timer.nsecsElapsed() / 1000));
    return 0;
}
