// Helpers shared by the test executables.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points an environment variable at a fresh temporary folder for the lifetime of the object and
// restores the previous value afterwards.
class ScopedTempEnvDir
{
public:
    explicit ScopedTempEnvDir(const char *variable);
    ~ScopedTempEnvDir();
    ScopedTempEnvDir(const ScopedTempEnvDir &) = delete;
    ScopedTempEnvDir &operator=(const ScopedTempEnvDir &) = delete;

    QString Path() const { return m_Dir.path(); }

private:
    QByteArray m_Variable;
    QByteArray m_Previous;
    bool m_HadPrevious;
    QTemporaryDir m_Dir;
};
