// Feeds arbitrary bytes to the export file decoder (versions 3, "1" and "2") and to the legacy
// converter directly. Refusals are DiaryErrors; anything else is a finding.
#include "backup/DiaryTransferCodec.h"

#include <cstddef>
#include <cstdint>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        // A document that was accepted encodes, and reads back.
        DiaryTransferCodec::decode(DiaryTransferCodec::encode(DiaryTransferCodec::decode(bytes)));
    } catch (const DiaryError &) {
    }
    for (const bool isVersion2 : {false, true}) {
        try {
            DiaryTransferCodec::decodeLegacy(bytes, isVersion2);
        } catch (const DiaryError &) {
        }
    }
    return 0;
}
