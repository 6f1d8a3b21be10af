// Reads and decodes an import file as the import flow does, within an address-space budget:
// "import_memory_child <file> <bytes>". Prints "DECODED <entries>" or "FAILED <message>".
// Under AddressSanitizer the process holds terabytes of shadow reservations before main(); there
// the budget counts from what is mapped at the start, less what files back, which a plain build
// maps as well.
#include "backup/DiaryTransferCodec.h"
#include "backup/FastJson.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <new>
#include <sys/resource.h>
#include <utility>

using namespace velmora;

namespace {

bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Bytes of address space mapped now: all of it, and the part of it that files back (the
// program and its libraries, which a build without the sanitizer maps too).
std::pair<rlim_t, rlim_t> mappedBytes() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {0, 0};
    rlim_t all = 0;
    rlim_t files = 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QList<QByteArray> range = fields.constFirst().split('-');
        if (range.size() != 2)
            continue;
        const rlim_t size = range[1].toULongLong(nullptr, 16) - range[0].toULongLong(nullptr, 16);
        all += size;
        if (fields.size() >= 6 && fields[5].startsWith('/'))
            files += size;
    }
    return {all, files};
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    const rlim_t budget = rlim_t(QByteArray(argv[2]).toULongLong());
    const auto [mapped, files] = mappedBytes();
    const rlim_t cap = underAddressSanitizer() ? mapped + budget - files : budget;
    const rlimit limit{cap, cap};
    if (::setrlimit(RLIMIT_AS, &limit) != 0)
        return 3;
    try {
        const DiaryTransferDocument document = DiaryTransferCodec::decode(
            DiaryTransferCodec::readFile(QString::fromLocal8Bit(argv[1])));
        std::printf("DECODED %lld\n", qlonglong(document.entries.size()));
    } catch (const DiaryError &error) {
        std::printf("FAILED %s\n", qPrintable(error.message()));
    } catch (const std::bad_alloc &) {
        std::printf("FAILED %s\n", qPrintable(InsufficientMemoryError().message()));
    }
    return 0;
}
