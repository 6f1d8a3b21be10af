// Feeds arbitrary bytes to the page-file decoder, as the tablet or a torn write may leave them.
// Refusing with the page error is the expected answer; a page it accepts must write out and read
// back as the same entry, within the limits every export keeps. Anything else is a finding.
#include "sync/DiaryCloudSyncFolder.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    static const DayKey day = *DayKey::fromRawValue(QStringLiteral("2024-03-05"));
    DiaryEntryDTO entry;
    try {
        entry = DiaryCloudSyncFolder::decodePage(bytes, day);
    } catch (const DiaryCloudSyncFolder::FolderError &) {
        return 0;
    }
    if (entry.dayKey != day || !(entry.bodyPointSize >= 12 && entry.bodyPointSize <= 24) ||
        entry.fontName.trimmed().isEmpty() || entry.updatedAt < entry.createdAt)
        std::abort();
    if (DiaryCloudSyncFolder::decodePage(DiaryCloudSyncFolder::encodePage(entry), day) != entry)
        std::abort();
    return 0;
}
