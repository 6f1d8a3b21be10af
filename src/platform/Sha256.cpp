#include "platform/Sha256.h"

// The digest functions of libcrypto's own SHA-256, not the EVP interface: EVP looks the digest up
// among the library's providers, and the first lookup reads OpenSSL's configuration and starts
// its providers, which costs the program's start two megabytes and a millisecond. Both run the
// same machine code on the bytes.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <stdexcept>

namespace velmora {

namespace {

class Sha256 {
public:
    Sha256() {
        if (SHA256_Init(&m_context) != 1)
            throw std::runtime_error("SHA-256 is unavailable in libcrypto");
    }

    void add(const QByteArray &bytes) {
        if (SHA256_Update(&m_context, bytes.constData(), size_t(bytes.size())) != 1)
            throw std::runtime_error("SHA-256 is unavailable in libcrypto");
    }

    QByteArray digest() {
        QByteArray digest(SHA256_DIGEST_LENGTH, Qt::Uninitialized);
        if (SHA256_Final(reinterpret_cast<unsigned char *>(digest.data()), &m_context) != 1)
            throw std::runtime_error("SHA-256 is unavailable in libcrypto");
        return digest;
    }

private:
    SHA256_CTX m_context;
};

} // namespace

QByteArray sha256Digest(const QByteArray &bytes) {
    Sha256 hash;
    hash.add(bytes);
    return hash.digest();
}

QStringList sha256DigestHexBytes(const QByteArray &digest) {
    static constexpr char digits[] = "0123456789abcdef";
    QStringList hexBytes;
    hexBytes.reserve(digest.size());
    for (const char byte : digest) {
        const auto value = static_cast<unsigned char>(byte);
        const QChar pair[2] = {QLatin1Char(digits[value >> 4]), QLatin1Char(digits[value & 0xF])};
        hexBytes.append(QString(pair, 2));
    }
    return hexBytes;
}

QString sha256Hex(const QByteArray &bytes) {
    return QString::fromLatin1(sha256Digest(bytes).toHex());
}

QString sha256HexOfPieces(const QList<QByteArray> &pieces) {
    Sha256 hash;
    for (const QByteArray &piece : pieces)
        hash.add(piece);
    return QString::fromLatin1(hash.digest().toHex());
}

} // namespace velmora
