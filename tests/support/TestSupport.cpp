#include "support/TestSupport.h"

#include <cstdlib>

ScopedTempEnvDir::ScopedTempEnvDir(const char *variable)
    : m_Variable(variable), m_Previous(qgetenv(variable)),
      m_HadPrevious(qEnvironmentVariableIsSet(variable))
{
    qputenv(variable, m_Dir.path().toLocal8Bit());
}

ScopedTempEnvDir::~ScopedTempEnvDir()
{
    if (m_HadPrevious)
        qputenv(m_Variable.constData(), m_Previous);
    else
        qunsetenv(m_Variable.constData());
}
