#include "platform/system/Windows1252.h"

#include <array>

namespace {
// Code points of 0x80..0x9F; 0 marks the five unassigned codes, which decode as C1 controls.
constexpr std::array<char16_t, 32> HighTable = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int Encode(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    if (c < 0xA0 && HighTable[c - 0x80] == 0)
        return c; // unassigned codes pass through both ways
    for (int i = 0; i < 32; ++i)
        if (HighTable[i] == c)
            return 0x80 + i;
    return -1;
}
} // namespace

QByteArray EncodeWindows1252(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int code = Encode(text[i].unicode());
        out.append(code < 0 ? '?' : static_cast<char>(code));
        // A surrogate pair is one character and gets one '?', not two.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return out;
}

QString DecodeWindows1252(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 0x80 && u < 0xA0 && HighTable[u - 0x80] != 0)
            out.append(QChar(HighTable[u - 0x80]));
        else
            out.append(QChar(u));
    }
    return out;
}

bool CanEncodeWindows1252(const QString &text)
{
    for (QChar c : text)
        if (Encode(c.unicode()) < 0)
            return false;
    return true;
}
