// The real program in this process, quit as Ctrl+Q quits it, and then ended as main ends, a given
// number of milliseconds after a restore or an import of a large diary began on its open page.
// Prints "ENDED" once the program's objects are gone; the parent reads the store afterwards.
//
// With "export" or "export, stopped", the large diary is exported from the menu to
// <folder>/Exported.json instead, and the quit comes as soon as the export's temporary file is
// written: it lets that export finish, or with "stopped" stops it at once, the file's thread
// going on only once it is asked to stop (it then prints "STOPPED"). With "import, stopped" the
// same quit comes as the menu's import begins to read the file.
//
// replacement_quit_child <folder> <kind> <quit after ms> <pages> [typing] [signal]
// With "typing", a letter is typed on the open page every 20 ms from the start until the end;
// with "signal", the quit is a SIGTERM.

#include "app/VelmoraProgram.h"
#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"
#include "backup/DiaryTransferService.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace velmora;

namespace {

// The program's diary with `pages` pages before today, each a paragraph long.
DiarySnapshotDTO largeDiary(DiaryDependencyGraph &graph, int pages) {
    DiarySnapshotDTO diary = test::waitFor(graph.repository()->snapshot());
    const QDateTime now = graph.clock()->now();
    const QString paragraph =
        QStringLiteral("A long day of words, kept for years, café and “quotes”.\n").repeated(20);
    for (int page = pages; page >= 0; --page) {
        const QDate date = now.date().addDays(-page);
        DiaryEntryDTO entry;
        entry.id = QUuid::createUuid();
        entry.dayKey = DayKey::fromCivilDate(date.year(), date.month(), date.day());
        entry.content = page == 0 ? QStringLiteral("Today, as the backup keeps it.") : paragraph;
        entry.fontName = QStringLiteral("Georgia");
        entry.originTimeZone = QStringLiteral("UTC");
        entry.createdAt = now;
        entry.updatedAt = now;
        entry.revision = DiaryRevision{1};
        diary.entries.append(entry);
    }
    return diary;
}

// What became of the menu's file panel: answered with the file given, or why it was not.
struct PanelAnswer {
    bool answered = false;
    QString refusal;
};

// Answers the next file panel with `file` once the panel is ready for it: shown, with the keyboard
// in its name field, where its own setup puts it. Until then its setup may still change the name
// it shows, and once the field has the keyboard the panel ignores a file selected in code; so the
// name is given in that field, whole, as a person pastes a path. It is accepted only once the
// panel would choose that very file.
void answerTheNextPanel(const QString &file, const std::shared_ptr<PanelAnswer> &answer) {
    const auto nameField = [](QFileDialog *dialog) {
        return dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    };
    auto ready = std::make_shared<QMetaObject::Connection>();
    *ready =
        QObject::connect(qApp, &QApplication::focusChanged, qApp, [=](QWidget *, QWidget *now) {
            auto *dialog = now ? qobject_cast<QFileDialog *>(now->window()) : nullptr;
            if (!dialog || now != nameField(dialog))
                return;
            QObject::disconnect(*ready);
            // Once the focus change has been dealt with in full.
            QMetaObject::invokeMethod(
                dialog,
                [=] {
                    nameField(dialog)->setText(file);
                    const QStringList taken = dialog->selectedFiles();
                    if (taken != QStringList{file}) {
                        answer->refusal = QStringLiteral("The panel took \"%1\" for \"%2\".")
                                              .arg(taken.join(QStringLiteral("\", \"")), file);
                    } else {
                        static_cast<QDialog *>(dialog)->accept();
                        if (dialog->isVisible())
                            answer->refusal =
                                QStringLiteral("The panel stayed open on \"%1\".").arg(file);
                    }
                    if (answer->refusal.isEmpty())
                        answer->answered = true;
                    else
                        dialog->reject();
                },
                Qt::QueuedConnection);
        });
}

// Export… or Import… from the menu, its panel answered with `file`; `quit` from the transfer's
// file thread once the export's temporary file is written or the import's file is about to be
// read. When `stopped`, that thread waits there until the quit asks it to stop. Why the panel was
// not answered with `file`, if it was not.
QString transferFromTheMenu(VelmoraProgram &program, const QString &item, const QString &file,
                            bool stopped, std::function<void()> quit) {
    const auto hold = [&program, stopped, quit] {
        std::stop_token stop;
        QMetaObject::invokeMethod(
            &program,
            [&] {
                quit();
                stop = program.graph().dataOperations().workStop();
            },
            Qt::BlockingQueuedConnection);
        if (!stopped)
            return;
        while (!stop.stop_requested())
            QThread::msleep(1);
        std::puts("STOPPED");
        std::fflush(stdout);
    };
    program.setTransferSeams([hold](DiaryTransferFlowContext &context) {
        context.exportWriteStep = [hold](DiaryTransferWriteStep step, const QString &) {
            if (step == DiaryTransferWriteStep::written)
                hold();
        };
        context.beforeOpeningSource = hold;
    });
    // The panel is modal: it is answered from inside its loop, which the menu's item runs.
    const auto answer = std::make_shared<PanelAnswer>();
    answerTheNextPanel(file, answer);
    program.menus().action(item)->trigger();
    if (!answer->answered && answer->refusal.isEmpty())
        answer->refusal = QStringLiteral("The panel was closed before it was answered.");
    return answer->refusal;
}

} // namespace

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5)
        return 2;
    const bool typing = args.contains(QStringLiteral("typing"));
    const bool signal = args.contains(QStringLiteral("signal"));
    const QString folder = args[1];
    const QString kind = args[2];
    const int quitAfter = args[3].toInt();
    const int pages = args[4].toInt();
    {
        DiaryProcessEnvironment environment;
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 folder + QStringLiteral("/diary/store.sqlite"),
                                 QStringLiteral("--velmora-defaults-suite"),
                                 QStringLiteral("ReplacementQuit")};
        environment.applicationSupportDirectory = folder + QStringLiteral("/support");
        environment.temporaryDirectory = folder;
        VelmoraProgram program(VelmoraProgram::Options{environment, signal, false});
        if (program.start())
            return 3;
        DiaryDependencyGraph &graph = program.graph();
        const auto repository = graph.repository();
        DiarySessionStore &session = graph.diarySession();
        const bool exporting = kind.startsWith(u"export");
        const bool fromTheMenu = exporting || kind.startsWith(u"import");
        const auto quit = [&program, signal] {
            std::puts("QUITTING");
            std::fflush(stdout);
            if (signal)
                ::raise(SIGTERM);
            else
                program.delegate().applicationShouldTerminate();
        };

        // The large diary kept as a backup or an export, then today's page written anew; an
        // export takes the large diary itself.
        const DiarySnapshotDTO empty = test::waitFor(repository->snapshot());
        test::waitFor(repository->replaceAll(largeDiary(graph, pages)));
        const QString exportFile = folder + QStringLiteral("/diary.json");
        if (kind == u"restore")
            test::waitFor(graph.snapshotService().createSnapshot(graph.persistenceDirectory() +
                                                                 QStringLiteral("/Backups")));
        else if (!exporting)
            test::waitFor(DiaryTransferService(repository, graph.settingsStore(), graph.clock())
                              .exportDiary(exportFile));
        if (!exporting)
            test::waitFor(repository->replaceAll(empty));
        test::waitFor(session.selectToday());
        session.updateDraft(QStringLiteral("Typed before the replacement."));

        const QString quarantine =
            graph.persistenceDirectory() + QStringLiteral("/Recovery/Quarantine");
        std::optional<QCoro::Task<void>> replacing;
        DiaryTransferService transfer(repository, graph.settingsStore(), graph.clock(),
                                      DiaryOpenDayReloader(&session));
        if (kind == u"restore") {
            const auto packages = DiarySnapshotService::listSnapshots(graph.persistenceDirectory() +
                                                                      QStringLiteral("/Backups"));
            replacing = [](DiaryRestoreCoordinator &restore, QString package,
                           QString into) -> QCoro::Task<void> {
                co_await restore.restore(package, into);
            }(graph.restoreCoordinator(), packages.first().packageURL, quarantine);
        } else if (fromTheMenu) {
            // However slow the machine, the transfer finishes, or is stopped at once.
            program.delegate().setTerminationSyncLimits(
                kind.endsWith(u"stopped") ? std::chrono::seconds(0) : std::chrono::seconds(300),
                std::chrono::seconds(2));
            const QString refusal = transferFromTheMenu(
                program, exporting ? QStringLiteral("Export…") : QStringLiteral("Import…"),
                exporting ? folder + QStringLiteral("/Exported.json") : exportFile,
                kind.endsWith(u"stopped"), quit);
            if (!refusal.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(refusal));
                return 4;
            }
        } else {
            replacing = [](DiaryTransferService &service, QString file, bool replace,
                           QString into) -> QCoro::Task<void> {
                co_await service.importDocument(
                    DiaryTransferCodec::decode(DiaryTransferCodec::readFile(file)), replace, into);
            }(transfer, exportFile, kind == u"replace", quarantine);
        }
        QTimer keys;
        QString typed = session.currentText();
        QObject::connect(&keys, &QTimer::timeout, &program, [&session, &typed] {
            try {
                session.updateDraft(typed + QLatin1Char('k'));
                typed += QLatin1Char('k');
            } catch (const DiaryError &) {
                // Refused while the diary is being replaced, as the page refuses it.
            }
        });
        if (typing)
            keys.start(20);
        if (!fromTheMenu)
            QTimer::singleShot(quitAfter, &program, quit);
        QApplication::exec();
    }
    std::puts("ENDED");
    std::fflush(stdout);
    return 0;
}
