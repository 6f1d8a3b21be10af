// Feeds arbitrary bytes to the record decoders, the day-key parser and the launch-argument
// parser. Decoding may fail with a DiaryError; anything else (a crash, another exception, a
// sanitizer report) is a finding.
#include "domain/AppRuntimeConfiguration.h"
#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/JsonCoding.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

using namespace velmora;

namespace {

template <typename Decode> void tryDecode(Decode decode) {
    try {
        decode();
    } catch (const DiaryError &) {
    }
}

void fuzzRecords(const QJsonValue &value) {
    for (auto dates :
         {JsonDateEncoding::millisecondsSince1970, JsonDateEncoding::iso8601,
          JsonDateEncoding::secondsSince1970, JsonDateEncoding::secondsSinceReferenceDate}) {
        tryDecode([&] {
            const auto entry = DiaryEntryDTO::fromJson(value, dates);
            DiaryEntryDTO::fromJson(parseJson(writeJson(entry.toJson(dates))), dates);
        });
        tryDecode([&] { DiaryDraftDTO::fromJson(value, dates); });
        tryDecode([&] { DiarySaveResult::fromJson(value, dates); });
        tryDecode([&] { DiaryMetadataDTO::fromJson(value, dates); });
        tryDecode([&] { DiaryRecoveryDTO::fromJson(value, dates); });
        tryDecode([&] {
            const auto snapshot = DiarySnapshotDTO::fromJson(value, dates);
            writeJson(snapshot.toJson(dates), {.escapeSlashes = true});
        });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);

    DayKey::fromRawValue(text);
    tryDecode([&] { fuzzRecords(parseJson(bytes)); });

    QStringList arguments = text.split(QChar(0));
    arguments.prepend(QStringLiteral("velmora"));
    tryDecode([&] {
        AppRuntimeConfiguration::make(arguments, QStringLiteral("/tmp/fuzz-support"),
                                      QStringLiteral("/tmp/fuzz-tmp"));
    });
    return 0;
}
