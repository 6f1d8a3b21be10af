// Feeds arbitrary bytes to the profile decoder. None is the answer to bad bytes; a profile it
// accepts must write out and read back the same.
#include "sync/DiaryCloudSyncFolder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto profile = DiaryCloudSyncFolder::decodeProfile(bytes);
    if (profile && DiaryCloudSyncFolder::decodeProfile(
                       DiaryCloudSyncFolder::encodeProfile(*profile)) != profile)
        std::abort();
    return 0;
}
