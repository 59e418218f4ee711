#include "platform/crypto/CredentialCipher.h"

#include <nettle/des.h>
#include <nettle/sha2.h>

#include <QStringDecoder>

namespace {

const char PassPhrase[] = "MorvenQuillasDex";
constexpr int BlockSize = DES_BLOCK_SIZE;

const des_ctx &CipherContext()
{
    static const des_ctx context = [] {
        const QByteArray key = DeriveCredentialKey(QString::fromLatin1(PassPhrase));
        des_ctx ctx;
        // A weak key would be a fault of the derivation; the derived key is fixed and not weak.
        if (des_set_key(&ctx, reinterpret_cast<const uint8_t *>(key.constData())) == 0)
            RaiseInternalError(QStringLiteral("CredentialCipher"),
                               QStringLiteral("Der abgeleitete Schlüssel ist schwach."));
        return ctx;
    }();
    return context;
}

[[noreturn]] void RaiseInvalidCipherText()
{
    throw ECredentialCipherError(
        QStringLiteral("Der verschlüsselte Text ist ungültig: er ist kein gültiger Base64-Text "
                       "aus ganzen Blöcken zu 8 Bytes."));
}

} // namespace

QByteArray DeriveCredentialKey(const QString &passPhrase)
{
    const QByteArray text = passPhrase.toUtf8();
    sha256_ctx sha;
    sha256_init(&sha);
    sha256_update(&sha, static_cast<size_t>(text.size()),
                  reinterpret_cast<const uint8_t *>(text.constData()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&sha, sizeof digest, digest);
    QByteArray key(BlockSize, '\0');
    des_fix_parity(BlockSize, reinterpret_cast<uint8_t *>(key.data()), digest);
    return key;
}

QString EncryptCredential(const QString &text)
{
    QByteArray plain = text.toUtf8();
    const qsizetype rest = plain.size() % BlockSize;
    const QByteArray finalBlock = [&] {
        QByteArray block(BlockSize, '\0');
        std::copy(plain.cend() - rest, plain.cend(), block.begin());
        block[BlockSize - 1] = static_cast<char>(rest);
        return block;
    }();
    plain.chop(rest);
    plain += finalBlock;

    QByteArray cipher(plain.size(), '\0');
    des_encrypt(&CipherContext(), static_cast<size_t>(plain.size()),
                reinterpret_cast<uint8_t *>(cipher.data()),
                reinterpret_cast<const uint8_t *>(plain.constData()));
    return QString::fromLatin1(cipher.toBase64());
}

QString DecryptCredential(const QString &cipherText)
{
    const QByteArray encoded = cipherText.toLatin1();
    // Qt's decoder accepts missing fill characters; stored texts always carry them.
    if (cipherText.size() % 4 != 0 || encoded.size() != cipherText.size())
        RaiseInvalidCipherText();
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() % BlockSize != 0)
        RaiseInvalidCipherText();

    QByteArray plain(decoded.decoded.size(), '\0');
    des_decrypt(&CipherContext(), static_cast<size_t>(plain.size()),
                reinterpret_cast<uint8_t *>(plain.data()),
                reinterpret_cast<const uint8_t *>(decoded.decoded.constData()));
    const int count = static_cast<unsigned char>(plain.back());
    // Only a count below the block size with zero padding is what the encryption produces.
    if (count >= BlockSize)
        RaiseInvalidCipherText();
    const qsizetype finalStart = plain.size() - BlockSize;
    for (qsizetype i = finalStart + count; i < plain.size() - 1; ++i)
        if (plain[i] != '\0')
            RaiseInvalidCipherText();
    plain.truncate(finalStart + count);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(plain);
    if (utf8.hasError())
        RaiseInvalidCipherText();
    return text;
}
