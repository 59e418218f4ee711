#include "document/IniFile.h"

#include "platform/system/Exception.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(IniFile, FindsSectionsAndKeysWithoutRegardToCase)
{
    const TIniFile ini(QStringLiteral("[VersionInfo]\r\n"
                                      "FileVersion = 13 \r\n"
                                      "\r\n"
                                      "[ADOConnection]\r\n"
                                      "ConnectionString=Provider=SQLite;Data Source=a.db\r\n"
                                      "Empty=\r\n"
                                      "[adoconnection]\r\n"
                                      "ConnectionString=second section is ignored\r\n"));
    EXPECT_TRUE(ini.SectionExists(QStringLiteral("versioninfo")));
    EXPECT_FALSE(ini.SectionExists(QStringLiteral("RemoteOPCServer")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("VERSIONINFO"), QStringLiteral("fileversion")),
              QStringLiteral("13"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("ADOConnection"), QStringLiteral("ConnectionString")),
              QStringLiteral("Provider=SQLite;Data Source=a.db"));
    EXPECT_TRUE(ini.ValueExists(QStringLiteral("ADOConnection"), QStringLiteral("Empty")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("ADOConnection"), QStringLiteral("Missing"),
                             QStringLiteral("default")),
              QStringLiteral("default"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Nowhere"), QStringLiteral("Key"), QStringLiteral("0")),
              QStringLiteral("0"));
}

TEST(IniFile, SectionLinesKeepTheirTextWhateverTheLineEnds)
{
    for (const char *lineEnd : {"\r\n", "\n", "\r"}) {
        const QString end = QString::fromLatin1(lineEnd);
        const TIniFile ini(QStringLiteral("[OPCTransmitter1]") + end + QStringLiteral("//comment") +
                           end + QStringLiteral("A1=Path\tID") + end + QStringLiteral("[Next]") +
                           end);
        EXPECT_EQ(ini.ReadSectionLines(QStringLiteral("opctransmitter1")),
                  QStringList({QStringLiteral("//comment"), QStringLiteral("A1=Path\tID")}));
    }
}

TEST(IniFile, SplitLineCutsAtTheFirstEqualsSign)
{
    QString key, value;
    ASSERT_TRUE(TIniFile::SplitLine(QStringLiteral(" Alias = A=B\tC "), key, value));
    EXPECT_EQ(key, QStringLiteral("Alias"));
    EXPECT_EQ(value, QStringLiteral("A=B\tC"));
    EXPECT_FALSE(TIniFile::SplitLine(QStringLiteral("no equals sign"), key, value));
}

TEST(DocumentText, Windows1252WhenPossibleElseUtf8WithByteOrderMark)
{
    const QString western = QStringLiteral("Überdruck in °C – 5 €\r\n");
    const QByteArray westernBytes = EncodeDocumentText(western);
    EXPECT_FALSE(westernBytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(westernBytes.size(), western.size());
    EXPECT_EQ(DecodeDocumentText(westernBytes), western);

    const QString other = QStringLiteral("Temperatur 温度\r\n");
    const QByteArray otherBytes = EncodeDocumentText(other);
    EXPECT_TRUE(otherBytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(DecodeDocumentText(otherBytes), other);
}

TEST(DocumentText, AtomicWriteReplacesTheFileOrReportsWhyNot)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("doc.tdw"));
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("second"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("doc.tdw")}));

    EXPECT_THROW(WriteFileAtomically(dir.filePath(QStringLiteral("missing/doc.tdw")), "x"),
                 Exception);
}
