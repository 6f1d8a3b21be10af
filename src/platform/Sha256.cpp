#include "platform/Sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace velmora {

QByteArray sha256Digest(const QByteArray &bytes) {
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), size_t(bytes.size()),
                   reinterpret_cast<unsigned char *>(digest.data()), &length, EVP_sha256(),
                   nullptr) != 1)
        throw std::runtime_error("SHA-256 is unavailable in libcrypto");
    digest.truncate(int(length));
    return digest;
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
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    for (const QByteArray &piece : pieces)
        ok = ok && EVP_DigestUpdate(context.get(), piece.constData(), size_t(piece.size())) == 1;
    ok = ok && EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char *>(digest.data()),
                                  &length) == 1;
    if (!ok)
        throw std::runtime_error("SHA-256 is unavailable in libcrypto");
    digest.truncate(int(length));
    return QString::fromLatin1(digest.toHex());
}

} // namespace velmora
