#include "platform/system/SystemEventLog.h"

#include <syslog.h>

TSyslogEventSource::TSyslogEventSource(const QString &sourceName) : m_Ident(sourceName.toUtf8())
{
    openlog(m_Ident.constData(), LOG_PID, LOG_USER);
}

TSyslogEventSource::~TSyslogEventSource()
{
    closelog();
}

void TSyslogEventSource::Report(TSystemEventKind kind, std::uint16_t, std::uint32_t,
                                const QString &message)
{
    int priority = LOG_INFO;
    if (kind == TSystemEventKind::Error)
        priority = LOG_ERR;
    else if (kind == TSystemEventKind::Warning)
        priority = LOG_WARNING;
    syslog(priority, "%s", message.toUtf8().constData());
}
