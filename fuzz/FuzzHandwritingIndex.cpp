// Feeds arbitrary bytes to the handwriting index file's decoder. Bytes that are no index file
// are answered with none (the index is rebuilt); anything else is a finding.
#include "recall/DiaryHandwritingIndex.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Every refusal is logged; keep the fuzzer's output readable.
    QLoggingCategory::setFilterRules(QStringLiteral("velmora.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    DiaryHandwritingIndex::decodeIndexFile(bytes);
    return 0;
}
