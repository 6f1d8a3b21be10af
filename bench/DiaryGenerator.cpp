#include "DiaryGenerator.h"

#include "platform/JsonCoding.h"
#include "platform/Sha256.h"

#include <QStringList>
#include <QTimeZone>

namespace velmora::bench {

namespace {

const QStringList &vocabulary() {
    static const QStringList words =
        QStringLiteral(
            "the a and of to in it was that I with for on my we but as at so had walked morning "
            "evening letter garden rain river window light coffee bread market friend mother "
            "father "
            "sister train station book page quiet long short afternoon wind snow summer winter "
            "spring autumn kitchen table chair street city village road sea shore hill mountain "
            "tired happy slowly thought remembered wrote read listened laughed cried slept dreamed "
            "café naïve élan façade crème brûlée déjà vu fiancée résumé piñata jalapeño señora "
            "über Zoë São Paulo Ångström smörgåsbord crêpe tête-à-tête Besançon Málaga Kraków "
            "Dvořák Gödel rôle coöperate mañana açaí soufflé entrée")
            .split(QLatin1Char(' '));
    return words;
}

} // namespace

QString generateProse(QRandomGenerator &random, int bytes) {
    const QStringList &words = vocabulary();
    QString text;
    text.reserve(bytes + 64);
    int sentenceLength = 0;
    bool capitalise = true;
    while (text.toUtf8().size() < bytes) {
        // Measuring UTF-8 on every word would be quadratic; check only every sentence.
        for (int i = 0; i < 12; ++i) {
            QString word = words.at(int(random.bounded(qsizetype(words.size()))));
            if (capitalise) {
                word[0] = word[0].toUpper();
                capitalise = false;
            }
            text += word;
            if (++sentenceLength > int(random.bounded(6, 18))) {
                text += random.bounded(8) == 0 ? QStringLiteral(".\n\n") : QStringLiteral(". ");
                sentenceLength = 0;
                capitalise = true;
            } else {
                text += QLatin1Char(' ');
            }
        }
    }
    return text;
}

DayKey generatedDay(int offset, const DiaryGeneratorOptions &options) {
    const QDate date = options.firstDay.addDays(offset);
    return DayKey::fromCivilDate(date.year(), date.month(), date.day());
}

DiarySnapshotDTO generateDiary(const DiaryGeneratorOptions &options) {
    QRandomGenerator random(options.seed);
    DiarySnapshotDTO diary;
    diary.metadata = {QUuid::createUuid(), 2, QStringLiteral("generated"),
                      QDateTime(options.firstDay, QTime(8, 0), QTimeZone::utc()), 0};
    diary.entries.reserve(options.days);
    const int rareEntry = options.days / 3;
    for (int i = 0; i < options.days; ++i) {
        const QDate date = options.firstDay.addDays(i);
        DiaryEntryDTO entry;
        entry.id = QUuid::createUuid();
        entry.dayKey = DayKey::fromCivilDate(date.year(), date.month(), date.day());
        entry.content = generateProse(
            random, int(random.bounded(options.minContentBytes, options.maxContentBytes + 1)));
        if (i == rareEntry)
            entry.content +=
                QStringLiteral(" A %1 in the museum.").arg(QLatin1String(rareDiaryWord));
        entry.fontName = QStringLiteral("Georgia");
        entry.bodyPointSize = 16;
        entry.originTimeZone = QStringLiteral("Europe/Paris");
        entry.createdAt = QDateTime(date, QTime(21, 0), QTimeZone::utc());
        entry.updatedAt = entry.createdAt.addSecs(int(random.bounded(60, 7200)));
        entry.revision = DiaryRevision{qint64(random.bounded(1, 40))};
        if (int(random.bounded(100)) < options.sealedPercent) {
            entry.status = DiaryEntryStatus::sealed;
            entry.sealedAt = entry.updatedAt;
        }
        diary.entries.append(entry);
    }
    for (int i = 0; i < options.recoveryRecords; ++i) {
        const DiaryEntryDTO &source =
            diary.entries.at(int(random.bounded(qsizetype(diary.entries.size()))));
        DiaryRecoveryDTO record;
        record.recoveryID = QUuid::createUuid();
        record.originalID = source.id;
        record.proposedDayKey = source.dayKey;
        record.preservedPayload = writeJson(source.toJson(JsonDateEncoding::iso8601));
        record.contentSHA256 = sha256Hex(record.preservedPayload);
        record.createdAt = source.updatedAt.addDays(1);
        diary.recoveryRecords.append(record);
    }
    return diary;
}

} // namespace velmora::bench
