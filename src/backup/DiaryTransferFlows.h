#pragma once

#include "backup/DiaryDataOperationGuard.h"
#include "backup/DiaryOpenDayReloader.h"
#include "backup/DiaryTransferCodec.h"
#include "domain/Clock.h"
#include "domain/DiaryRepository.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace velmora {

enum class DiaryAlertStyle { informational, warning, critical };

// One modal alert: the title is its message text, the buttons stand in order and the first is
// the default.
struct DiaryAlert {
    QString title;
    QString informativeText;
    DiaryAlertStyle style = DiaryAlertStyle::informational;
    QStringList buttons;

    friend bool operator==(const DiaryAlert &, const DiaryAlert &) = default;
};

// Shows alerts for the export and import flows; the desktop shell shows them as
// application-modal message boxes, tests script the answers.
class DiaryAlertPresenting {
public:
    virtual ~DiaryAlertPresenting() = default;
    // The index of the button chosen, or -1 when the alert was closed another way.
    virtual QCoro::Task<int> present(DiaryAlert alert) = 0;
};

enum class DiaryImportChoice { merge, replace, cancel };

// What the flows work with: the graph's repository, settings store and clock, the alerts, the
// open page to reload after an import, and who to tell when an import replaced the diary.
struct DiaryTransferFlowContext {
    std::shared_ptr<DiaryRepository> repository;
    std::shared_ptr<UserDefaultsSettingsStore> settings;
    std::shared_ptr<const Clock> clock;
    std::shared_ptr<DiaryAlertPresenting> alerts;
    DiaryOpenDayReloader openDay;
    std::function<void()> diaryReplaced = {};
    // The writing fonts the settings window offers, the only ones an import sets.
    QStringList offeredFonts = {};
    // The store's file, which an import never reads, whatever file the user picked.
    QString storeURL = {};
    // The diary's lock file, which an import never opens either: closing a descriptor of it
    // would drop a POSIX lock the program holds on it.
    QString lockFile = {};
    // Runs on the reading thread just before the picked path is opened; tests replace the file.
    std::function<void()> beforeOpeningSource = {};
    // Where an export holds its file's thread, and an import its reading and file threads, for a
    // quit to wait for them and stop them, and where an import learns that a quit has begun;
    // none in tests of the flows alone.
    QPointer<DiaryDataOperationGuard> dataOperations = {};
    // Told on the export's file thread at each step of its write; tests act there.
    DiaryTransferCodec::WriteStepObserver exportWriteStep = {};
};

// "OK" only; critical when the title speaks of a failure.
QCoro::Task<void> presentTransferAlert(DiaryAlertPresenting &alerts, const char *title,
                                       QString message);
// "Merge" (default), "Cancel", "Replace Diary"; a replace is confirmed a second time.
QCoro::Task<DiaryImportChoice> askImportChoice(DiaryAlertPresenting &alerts, qint64 newEntries,
                                               qint64 identical, qint64 conflicts);
QCoro::Task<bool> confirmReplaceDiary(DiaryAlertPresenting &alerts);

// Exports to the file the user chose and reports the outcome. Never throws; `completion` runs
// once, after the last alert. The file's thread is gone before any alert; an export a quit
// stopped says nothing.
QCoro::Task<void> runExportFlow(QString destination, DiaryTransferFlowContext context,
                                std::function<void()> completion = {});
// Reads the chosen file, asks merge or replace, imports with a safety backup in
// `backupDirectory` and reports the outcome. Never throws; `completion` runs once, after the
// last alert, whether the import succeeded, failed or was cancelled. No file thread outlives
// the work it was made for, so none is left at any alert. A read a quit stopped says nothing,
// and an answer given once a quit has begun counts as Cancel.
QCoro::Task<void> runImportFlow(QString source, DiaryTransferFlowContext context,
                                QString backupDirectory, std::function<void()> completion = {});

} // namespace velmora
