// Documents are INI-style text files: sections and keys found without regard to case, a key's
// value after the first "=", blanks around keys and values not significant. Text is Windows-1252
// with CR LF, or UTF-8 behind a byte-order mark when Windows-1252 cannot hold it.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

// UTF-8 with a byte-order mark when a character has no Windows-1252 code, else Windows-1252.
QByteArray EncodeDocumentText(const QString &text);
// UTF-8 when the bytes start with its byte-order mark, else Windows-1252.
QString DecodeDocumentText(const QByteArray &bytes);

// Writes bytes to path through a temporary file beside it that replaces the old file only when
// everything was written, so a failure leaves the previous file as it was. Raises Exception with
// a German message on failure.
void WriteFileAtomically(const QString &path, const QByteArray &bytes);

class TIniFile
{
public:
    // Lines may end in CR LF, LF or CR.
    explicit TIniFile(const QString &text);
    // Raises Exception with a German message when the file cannot be read.
    static TIniFile FromFile(const QString &path);

    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &key) const;
    // The trimmed value of the first line of the section whose trimmed key matches.
    QString ReadString(const QString &section, const QString &key,
                       const QString &defaultValue = QString()) const;
    // The lines below the section header up to the next header, as they stand (without line
    // ends). When a section occurs more than once, the first occurrence counts.
    const QStringList &ReadSectionLines(const QString &section) const;

    // The names of all sections, in lower case.
    QStringList SectionNames() const { return m_Sections.keys(); }

    // Splits a line at its first "=" into trimmed key and value; false when there is none.
    static bool SplitLine(const QString &line, QString &key, QString &value);

private:
    QHash<QString, QStringList> m_Sections; // by lower-case name
};
