// The cipher that keeps user names and passwords in documents unreadable at a glance: DES in ECB
// mode under a fixed key, stored as Base64. It hides credentials from casual readers; it is no
// protection against anyone who has this program.
#pragma once

#include "platform/system/Exception.h"

#include <QByteArray>
#include <QString>

// A stored credential that is not valid Base64 or not a whole number of cipher blocks.
class ECredentialCipherError : public Exception
{
public:
    using Exception::Exception;
};

// The 8-byte key: the first eight bytes of the SHA-256 digest of the pass phrase's UTF-8 bytes,
// with the DES parity bits set.
QByteArray DeriveCredentialKey(const QString &passPhrase);

// The text's UTF-8 bytes in 8-byte blocks; the last 0 to 7 bytes go into a final block padded
// with zeros whose eighth byte holds their count (a whole number of blocks, the empty text
// included, gets a final block of zeros). Standard Base64 without line breaks.
QString EncryptCredential(const QString &text);
// Raises ECredentialCipherError for text that cannot be the result of EncryptCredential.
QString DecryptCredential(const QString &cipherText);
