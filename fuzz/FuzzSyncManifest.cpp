// Feeds arbitrary bytes to the sync manifest's decoder. A decoding error is the answer to bad
// bytes; a manifest it accepts must write out and read back the same.
#include "platform/JsonCoding.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    DiaryCloudSyncManifest manifest;
    try {
        manifest = DiaryCloudSyncManifest::fromJson(parseJson(bytes));
    } catch (const DiaryError &) {
        return 0;
    }
    if (DiaryCloudSyncManifest::fromJson(
            parseJson(writeJson(manifest.toJson(), {.escapeSlashes = true}))) != manifest)
        std::abort();
    return 0;
}
