#include "platform/Sha256.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

// The digest, fetched once: fetching it for every checksum costs more than a card's checksum.
const EVP_MD *sha256()
{
    static const EVP_MD *const digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return digest;
}

QString hexOf(EVP_MD_CTX *context)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1)
        return QString();
    return QString::fromLatin1(QByteArray::fromRawData(reinterpret_cast<const char *>(digest), length).toHex());
}

} // namespace

QString Sha256Hex(QByteArrayView bytes)
{
    thread_local const Context context(EVP_MD_CTX_new());
    if (!context || !sha256() || EVP_DigestInit_ex(context.get(), sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), size_t(bytes.size())) != 1)
        return QString();
    return hexOf(context.get());
}

QString FileSha256Hex(const QString &path)
{
    QFile file(path);
    const Context context(EVP_MD_CTX_new());
    if (!context || !sha256() || !file.open(QIODevice::ReadOnly) ||
        EVP_DigestInit_ex(context.get(), sha256(), nullptr) != 1)
        return QString();
    QByteArray piece(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(piece.data(), piece.size());
        if (n < 0)
            return QString();
        if (n == 0)
            break;
        if (EVP_DigestUpdate(context.get(), piece.constData(), size_t(n)) != 1)
            return QString();
    }
    return hexOf(context.get());
}
