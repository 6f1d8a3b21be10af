#include "backup/DiaryTransferFlows.h"

#include "backup/DiaryTransferService.h"
#include "backup/FastJson.h"
#include "platform/Cancellation.h"
#include "platform/SerialExecutor.h"
#include "store/StoreFile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velmora {

namespace {

QString messageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const DiaryError &diaryError) {
        return diaryError.message();
    } catch (const std::bad_alloc &) {
        return InsufficientMemoryError().message();
    } catch (const std::exception &other) {
        return QString::fromLocal8Bit(other.what());
    }
}

// Work on a thread of the flow's own, held in the data-operation guard until that thread is
// joined, so that a quit waits for it and may stop it; tests of the flows alone have no guard.
struct FileWork {
    DiaryDataOperationGuard::Work claim;
    std::stop_token stop;
};

FileWork beginFileWork(const DiaryTransferFlowContext &context) {
    DiaryDataOperationGuard *operations = context.dataOperations;
    if (!operations)
        return {};
    return {operations->beginWork(), operations->workStop()};
}

// Once a quit has begun nothing new starts: an answer given since counts as Cancel.
bool quitHasBegun(const DiaryTransferFlowContext &context) {
    const DiaryDataOperationGuard *operations = context.dataOperations;
    return operations && operations->isQuitting();
}

} // namespace

QCoro::Task<void> presentTransferAlert(DiaryAlertPresenting &alerts, const char *title,
                                       QString message) {
    DiaryAlert alert;
    // Titles arrive as QT_TRANSLATE_NOOP literals of this context.
    alert.title = QCoreApplication::translate("DiaryTransferFlows", title);
    alert.informativeText = std::move(message);
    alert.style = QByteArrayView(title).contains("Failed") ? DiaryAlertStyle::critical
                                                           : DiaryAlertStyle::informational;
    alert.buttons = QStringList{QCoreApplication::translate("DiaryTransferFlows", "OK")};
    auto shown = alerts.present(std::move(alert));
    co_await shown;
}

QCoro::Task<DiaryImportChoice> askImportChoice(DiaryAlertPresenting &alerts, qint64 newEntries,
                                               qint64 identical, qint64 conflicts) {
    const QStringList lines{
        QCoreApplication::translate("DiaryTransferFlows", "New entries: %1").arg(newEntries),
        QCoreApplication::translate("DiaryTransferFlows", "Already identical: %1").arg(identical),
        QCoreApplication::translate("DiaryTransferFlows", "Conflicts preserved for recovery: %1")
            .arg(conflicts),
        QString(),
        QCoreApplication::translate(
            "DiaryTransferFlows",
            "Merge keeps the current diary and never overwrites a sealed entry. Replace creates a "
            "verified pre-import backup first."),
    };
    DiaryAlert alert;
    alert.title = QCoreApplication::translate("DiaryTransferFlows", "Import Diary Data?");
    alert.informativeText = lines.join(QLatin1Char('\n'));
    alert.style = DiaryAlertStyle::warning;
    alert.buttons = QStringList{QCoreApplication::translate("DiaryTransferFlows", "Merge"),
                                QCoreApplication::translate("DiaryTransferFlows", "Cancel"),
                                QCoreApplication::translate("DiaryTransferFlows", "Replace Diary")};
    auto shown = alerts.present(std::move(alert));
    const int chosen = co_await shown;
    if (chosen == 0)
        co_return DiaryImportChoice::merge;
    if (chosen == 2) {
        auto confirmation = confirmReplaceDiary(alerts);
        co_return co_await confirmation ? DiaryImportChoice::replace : DiaryImportChoice::cancel;
    }
    co_return DiaryImportChoice::cancel;
}

QCoro::Task<bool> confirmReplaceDiary(DiaryAlertPresenting &alerts) {
    DiaryAlert alert;
    alert.title = QCoreApplication::translate("DiaryTransferFlows", "Replace the Entire Diary?");
    alert.informativeText = QCoreApplication::translate(
        "DiaryTransferFlows",
        "This replaces every current entry after creating and validating a recovery backup. "
        "This action is intentionally separate from Merge.");
    alert.style = DiaryAlertStyle::critical;
    alert.buttons = QStringList{QCoreApplication::translate("DiaryTransferFlows", "Replace Diary"),
                                QCoreApplication::translate("DiaryTransferFlows", "Cancel")};
    auto shown = alerts.present(std::move(alert));
    co_return co_await shown == 0;
}

QCoro::Task<void> runExportFlow(QString destination, DiaryTransferFlowContext context,
                                std::function<void()> completion) {
    std::exception_ptr failure;
    // A quit stopped it: nothing is said.
    bool stopped = false;
    {
        // Held until the service has joined its file's thread, at the end of this block.
        const FileWork work = beginFileWork(context);
        DiaryTransferService service(context.repository, context.settings, context.clock);
        service.setWriteStepObserver(context.exportWriteStep);
        try {
            auto exported = service.exportDiary(destination, {}, work.stop);
            co_await exported;
        } catch (const CancellationError &) {
            stopped = true;
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (stopped) {
        if (completion)
            completion();
        co_return;
    }
    auto alert =
        failure ? presentTransferAlert(*context.alerts,
                                       QT_TRANSLATE_NOOP("DiaryTransferFlows", "Export Failed"),
                                       messageOf(failure))
                : presentTransferAlert(
                      *context.alerts, QT_TRANSLATE_NOOP("DiaryTransferFlows", "Export Successful"),
                      QCoreApplication::translate(
                          "DiaryTransferFlows",
                          "Your diary was exported to %1. Keep this unencrypted file private.")
                          .arg(shownExcerpt(QFileInfo(destination).fileName())));
    co_await alert;
    if (completion)
        completion();
}

QCoro::Task<void> runImportFlow(QString source, DiaryTransferFlowContext context,
                                QString backupDirectory, std::function<void()> completion) {
    std::exception_ptr failure;
    try {
        QStringList storeFiles =
            context.storeURL.isEmpty() ? QStringList() : storeFilePaths(context.storeURL);
        if (!context.lockFile.isEmpty())
            storeFiles << context.lockFile;
        DiaryTransferDocument document;
        {
            // Held until the reading thread is joined, at the end of this block; a stop comes
            // before the file is decoded.
            const FileWork work = beginFileWork(context);
            SerialExecutor files(QStringLiteral("DiaryImportFile"));
            auto read = files.run([source, storeFiles, before = context.beforeOpeningSource,
                                   stop = work.stop] {
                const QByteArray bytes = DiaryTransferCodec::readFile(source, storeFiles, before);
                if (stop.stop_requested())
                    throw CancellationError();
                return DiaryTransferCodec::decode(bytes);
            });
            document = co_await read;
        }
        DiaryImportPreview preview;
        {
            // Its file thread is gone before the question, which may wait past a quit.
            DiaryTransferService service(context.repository, context.settings, context.clock);
            auto previewing = service.preview(document);
            preview = co_await previewing;
        }
        auto asking = askImportChoice(*context.alerts, preview.newEntryCount,
                                      preview.identicalCount, preview.conflictCount);
        const DiaryImportChoice choice = co_await asking;
        if (choice != DiaryImportChoice::cancel && !quitHasBegun(context)) {
            DiaryImportPreview imported;
            {
                // Held until the service has joined its file thread, which normalises the
                // document and writes the safety backup, at the end of this block.
                const FileWork work = beginFileWork(context);
                DiaryTransferService service(context.repository, context.settings, context.clock,
                                             context.openDay);
                service.setDiaryReplaced(context.diaryReplaced);
                service.setOfferedFonts(context.offeredFonts);
                auto importing = service.importDocument(
                    document, choice == DiaryImportChoice::replace, backupDirectory);
                imported = co_await importing;
            }
            auto done = presentTransferAlert(
                *context.alerts, QT_TRANSLATE_NOOP("DiaryTransferFlows", "Import Complete"),
                QCoreApplication::translate(
                    "DiaryTransferFlows",
                    "Imported %1 new entries. Preserved %2 conflicts for recovery.")
                    .arg(imported.newEntryCount)
                    .arg(imported.conflictCount));
            co_await done;
        }
    } catch (const CancellationError &) {
        // A quit stopped it: nothing is said.
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        auto failed = presentTransferAlert(*context.alerts,
                                           QT_TRANSLATE_NOOP("DiaryTransferFlows", "Import Failed"),
                                           messageOf(failure));
        co_await failed;
    }
    if (completion)
        completion();
}

} // namespace velmora
