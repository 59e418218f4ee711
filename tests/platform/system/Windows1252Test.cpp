#include "platform/system/Windows1252.h"

#include <gtest/gtest.h>

namespace {

TEST(Windows1252Test, EveryByteSurvivesTheRoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = DecodeWindows1252(all);
    EXPECT_EQ(text.size(), 256);
    EXPECT_TRUE(CanEncodeWindows1252(text));
    EXPECT_EQ(EncodeWindows1252(text), all);
}

TEST(Windows1252Test, MapsTheCharactersThatDifferFromLatin1)
{
    struct Case
    {
        char16_t character;
        unsigned char byte;
    };
    const Case cases[] = {
        {u'€', 0x80}, {u'‚', 0x82}, {u'„', 0x84}, {u'…', 0x85}, {u'Š', 0x8A}, {u'Œ', 0x8C},
        {u'Ž', 0x8E}, {u'‘', 0x91}, {u'’', 0x92}, {u'–', 0x96}, {u'—', 0x97}, {u'™', 0x99},
        {u'ž', 0x9E}, {u'Ÿ', 0x9F}, {u'Ä', 0xC4}, {u'ß', 0xDF}, {u'ü', 0xFC}, {u'ÿ', 0xFF},
    };
    for (const Case &c : cases) {
        const QString text(QChar(c.character));
        EXPECT_EQ(EncodeWindows1252(text), QByteArray(1, static_cast<char>(c.byte))) << c.byte;
        EXPECT_EQ(DecodeWindows1252(QByteArray(1, static_cast<char>(c.byte))), text) << c.byte;
    }
}

TEST(Windows1252Test, UnencodableCharactersBecomeOneQuestionMarkEach)
{
    struct Case
    {
        QString text;
        QByteArray encoded;
    };
    const Case cases[] = {
        {QStringLiteral("Füllstand 5 m³"), QByteArray("F\xFCllstand 5 m\xB3")},
        {QStringLiteral("Druck 中 bar"), QByteArray("Druck ? bar")},
        // U+0080 is a C1 control, not the euro sign that byte 0x80 stands for.
        {QString(QChar(0x80)) + u'€', QByteArray("?\x80")},
        {QStringLiteral("Ω≠"), QByteArray("??")},
        // A character outside the BMP is one character, not two.
        {QStringLiteral("Alarm 🔥!"), QByteArray("Alarm ?!")},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EncodeWindows1252(c.text), c.encoded) << c.text.toStdString();
        EXPECT_EQ(CanEncodeWindows1252(c.text), !c.encoded.contains('?')) << c.text.toStdString();
    }
}

} // namespace
