#include "document/IniFile.h"

#include "platform/system/Exception.h"
#include "platform/system/Windows1252.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");

QString SectionKey(const QString &section)
{
    return section.trimmed().toLower();
}

} // namespace

QByteArray EncodeDocumentText(const QString &text)
{
    if (CanEncodeWindows1252(text))
        return EncodeWindows1252(text);
    return Utf8Bom + text.toUtf8();
}

QString DecodeDocumentText(const QByteArray &bytes)
{
    if (bytes.startsWith(Utf8Bom))
        return QString::fromUtf8(bytes.constData() + Utf8Bom.size(), bytes.size() - Utf8Bom.size());
    return DecodeWindows1252(bytes);
}

void WriteFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Exception(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                            .arg(QFileInfo(path).fileName(), file.errorString()));
}

TIniFile::TIniFile(const QString &text)
{
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    QStringList *current = nullptr;
    bool currentIsFirst = false;
    for (const QString &line : text.split(lineEnd)) {
        const QString trimmed = line.trimmed();
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        if (trimmed.startsWith(QLatin1Char('[')) && close > 0) {
            const QString name = SectionKey(trimmed.mid(1, close - 1));
            currentIsFirst = !m_Sections.contains(name);
            current = &m_Sections[name];
            continue;
        }
        if (current && currentIsFirst)
            current->append(line);
    }
}

TIniFile TIniFile::FromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2")
                            .arg(QFileInfo(path).fileName(), file.errorString()));
    return TIniFile(DecodeDocumentText(file.readAll()));
}

bool TIniFile::SectionExists(const QString &section) const
{
    return m_Sections.contains(SectionKey(section));
}

bool TIniFile::SplitLine(const QString &line, QString &key, QString &value)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return false;
    key = line.left(equals).trimmed();
    value = line.mid(equals + 1).trimmed();
    return true;
}

bool TIniFile::ValueExists(const QString &section, const QString &key) const
{
    QString lineKey, value;
    for (const QString &line : ReadSectionLines(section))
        if (SplitLine(line, lineKey, value) &&
            lineKey.compare(key.trimmed(), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString TIniFile::ReadString(const QString &section, const QString &key,
                             const QString &defaultValue) const
{
    QString lineKey, value;
    for (const QString &line : ReadSectionLines(section))
        if (SplitLine(line, lineKey, value) &&
            lineKey.compare(key.trimmed(), Qt::CaseInsensitive) == 0)
            return value;
    return defaultValue;
}

const QStringList &TIniFile::ReadSectionLines(const QString &section) const
{
    static const QStringList none;
    const auto it = m_Sections.constFind(SectionKey(section));
    return it == m_Sections.cend() ? none : *it;
}
