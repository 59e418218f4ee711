// The system's event log: syslog stands in for the Windows event log.
#pragma once

#include <QString>
#include <cstdint>

enum class TSystemEventKind { Error, Warning, Information };

// A registered event source. Reports go to syslog under the source's name; the result of a report
// is of no interest to callers, so it returns nothing.
class TSystemEventSource
{
public:
    virtual ~TSystemEventSource() = default;
    virtual void Report(TSystemEventKind kind, std::uint16_t category, std::uint32_t eventID,
                        const QString &message) = 0;
};

// A source that writes to syslog with openlog(name); only one syslog identity exists per process,
// so the most recently registered name wins.
class TSyslogEventSource : public TSystemEventSource
{
public:
    explicit TSyslogEventSource(const QString &sourceName);
    ~TSyslogEventSource() override;
    void Report(TSystemEventKind kind, std::uint16_t category, std::uint32_t eventID,
                const QString &message) override;

private:
    QByteArray m_Ident; // openlog keeps the pointer
};
