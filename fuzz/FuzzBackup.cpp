// Feeds arbitrary bytes to the backup package's manifest check and decoder and to the records
// line decoder. Refusals are DiaryErrors; anything else (a crash, another exception, a
// sanitizer report) is a finding.
#include "backup/DiarySnapshotManifest.h"
#include "backup/DiarySnapshotService.h"
#include "platform/JsonCoding.h"

#include <cstddef>
#include <cstdint>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    DiarySnapshotService::manifestKeysAreUnambiguous(bytes);
    try {
        const DiarySnapshotManifest manifest = DiarySnapshotManifest::fromJson(parseJson(bytes));
        DiarySnapshotManifest::fromJson(parseJson(manifest.encoded()));
    } catch (const DiaryError &) {
    }
    // Each line of the input as a records line, the way a package is read.
    qint64 lineNumber = 0;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        try {
            const DiarySnapshotRecord record =
                DiarySnapshotService::decodeRecordLine(line, ++lineNumber);
            DiarySnapshotService::encodeRecordLines({record});
        } catch (const DiaryError &) {
        }
    }
    return 0;
}
