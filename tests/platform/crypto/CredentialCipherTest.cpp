#include "platform/crypto/CredentialCipher.h"

#include <gtest/gtest.h>

TEST(CredentialCipher, TextsOfEveryLengthAroundTheBlockSizeReadBack)
{
    const QString texts[] = {QString(),
                             QStringLiteral("a"),
                             QStringLiteral("sieben!"),
                             QStringLiteral("achtzeic"),
                             QStringLiteral("neun Zeic"),
                             QStringLiteral("Passwort mit Überlänge und ß, 16+"),
                             QStringLiteral("日本語")};
    for (const QString &text : texts) {
        const QString cipher = EncryptCredential(text);
        const qsizetype bytes = text.toUtf8().size();
        // one block per started eight bytes, plus the final block when the text fills its last
        EXPECT_EQ(cipher.size(), ((bytes / 8 + 1) * 8 + 2) / 3 * 4) << text.toStdString();
        EXPECT_EQ(DecryptCredential(cipher), text) << text.toStdString();
    }
}

TEST(CredentialCipher, EmptyTextIsOneBlockOfTwelveCharacters)
{
    const QString cipher = EncryptCredential(QString());
    EXPECT_EQ(cipher.size(), 12);
    EXPECT_TRUE(cipher.endsWith(QLatin1Char('=')));
    EXPECT_TRUE(DecryptCredential(cipher).isEmpty());
}

// Stored documents depend on the key derivation: a change here makes every saved password
// unreadable. The expected values were computed independently (hashlib and an openssl DES-ECB).
TEST(CredentialCipher, KeyDerivationAndCipherAreStable)
{
    EXPECT_EQ(DeriveCredentialKey(QStringLiteral("MorvenQuillasDex")).toHex(),
              QByteArray("b6b62f6bece3bf1c"));
    EXPECT_EQ(EncryptCredential(QStringLiteral("admin")), QStringLiteral("2IVGcm4/qg0="));
}

TEST(CredentialCipher, BrokenCipherTextsAreRefusedWithAMessage)
{
    const QString broken[] = {
        QStringLiteral("abc"),              // not a multiple of four
        QStringLiteral("!!!!!!!!!!!!"),     // not Base64
        QStringLiteral("AAAA"),             // three bytes, no whole block
        QStringLiteral("AAAAAAAAAAA="),     // eight bytes that no encryption produced
        QStringLiteral("Ünicode====="),     // not Latin-1
        QStringLiteral("AAAAAAAAAAA=\n"),   // line break
        QStringLiteral("AAAAAAAAAAAAAAAA"), // twelve bytes
    };
    for (const QString &text : broken) {
        try {
            DecryptCredential(text);
            ADD_FAILURE() << "accepted " << text.toStdString();
        } catch (const ECredentialCipherError &error) {
            EXPECT_TRUE(error.Message().startsWith(QStringLiteral("Der verschlüsselte Text")));
        }
    }
}
