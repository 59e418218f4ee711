#include "app/MainPresentation.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/xTDWDocument.h"
#include "opc/xOPC.h"
#include "platform/com/Guid.h"
#include "platform/opcda/OpcDa.h"
#include "settings/xCommon.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <mutex>

namespace {

const QString Dash = QStringLiteral("-");
const QString NoConnection = QStringLiteral("(Keine Verbindung)");
constexpr double MsPerDay = 86400000.0;

QString StateText(quint32 state)
{
    try {
        return QStringLiteral("OPC-Status: '%1'").arg(OPCServerStateText(state));
    } catch (const Exception &) {
        return QStringLiteral("OPC-Status: '%1'").arg(state);
    }
}

QString FormatFileTime(const FILETIME &time)
{
    return FileTimeToQDateTime(time).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool HasServer(const TOPCClientBridge *bridge)
{
    if (!bridge)
        return false;
    const TRemoteServerInfo &server = bridge->OPCDAClient().ServerInfo;
    return !server.ID.isEmpty() || !server.GUID.isNull();
}

// Two digits into out at pos; the tree refresh formats thousands of time stamps, so no QDateTime.
void PutDigits(QChar *out, int value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
}

QString TimeOfDayText(TDateTime value)
{
    const double fraction = value - std::floor(value);
    qint64 ms = std::llround(fraction * MsPerDay);
    if (ms >= qint64(MsPerDay))
        ms = qint64(MsPerDay) - 1;
    QString text(12, Qt::Uninitialized);
    QChar *out = text.data();
    PutDigits(out, int(ms / 3600000), 2);
    out[2] = u':';
    PutDigits(out + 3, int(ms / 60000 % 60), 2);
    out[5] = u':';
    PutDigits(out + 6, int(ms / 1000 % 60), 2);
    out[8] = u',';
    PutDigits(out + 9, int(ms % 1000), 3);
    return text;
}

// Case-insensitive attribute lookup without copying; null when absent.
const QString *Attribute(const TDataCacheItem &item, QStringView name)
{
    for (const TDataCacheAttribute &attribute : item.Attributes())
        if (attribute.Name.size() == name.size() &&
            attribute.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &attribute.Value;
    return nullptr;
}

const QString &AttributeOr(const TDataCacheItem &item, QStringView name, const QString &fallback)
{
    const QString *value = Attribute(item, name);
    return value ? *value : fallback;
}

} // namespace

TStatusText SourceServerStatus(const TServerStatusFacts &facts)
{
    const QColor red = StatusColor::Red;
    if (facts.State == asStopped)
        return {QStringLiteral("'Gestoppt'"), red};
    if (!facts.Connected)
        return {StateText(OPC_STATUS_FAILED), red};
    if (facts.State == asPaused)
        return {QStringLiteral("'Angehalten'"), red};
    if (facts.ErrorFlags & oe_ServerUnreachable)
        return {QStringLiteral("Fehler in Verbindung"), red};
    if (facts.ErrorFlags & oe_GroupError)
        return {QStringLiteral("Fehlerhafte Gruppe(n)"), red};
    if (facts.ErrorFlags & (oe_InvalidPath | oe_UnknownElement | oe_AddItemError))
        return {QStringLiteral("Fehler in OPC-Element(en)"), red};
    switch (facts.ServerState) {
    case OPC_STATUS_RUNNING: return {QStringLiteral("OK"), StatusColor::Green};
    case OPC_STATUS_NOCONFIG: return {StateText(facts.ServerState), StatusColor::Olive};
    case OPC_STATUS_SUSPENDED: return {StateText(facts.ServerState), StatusColor::Maroon};
    case OPC_STATUS_TEST: return {StateText(facts.ServerState), StatusColor::Navy};
    default: return {StateText(facts.ServerState), red};
    }
}

TStatusText DataBaseStatus(const TDataBaseStatusFacts &facts)
{
    const QColor red = StatusColor::Red;
    if (facts.State == asPaused)
        return {QStringLiteral("'Angehalten'"), red};
    if (facts.State == asStopped)
        return {QStringLiteral("'Gestoppt'"), red};
    if (facts.ErrorFlags & 0x04)
        return {QStringLiteral("Fehler in Datenbank"), red};
    if (facts.ErrorFlags & 0x39)
        return {QStringLiteral("Fehler in Tabelle(n)"), red};
    if (facts.ErrorFlags & 0xC3)
        return {QStringLiteral("Fehler in Feld(ern)"), red};
    if (facts.Connected)
        return {QStringLiteral("OK"), StatusColor::Green};
    return {QStringLiteral("Nicht verbunden"), red};
}

QString FormatPanelDateTime(TDateTime value)
{
    return DateTimeToQDateTime(value).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString FormatMilliseconds(double ms)
{
    QString text = QLocale().toString(ms, 'f', 3);
    const QString point = QLocale().decimalPoint();
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(point))
        text.chop(point.size());
    return text + QStringLiteral(" ms");
}

TSourceServerPanel DescribeSourceServer(const TOPCClientBridge *bridge, TAcquisitionState state,
                                        TDateTime lastCallbackTime,
                                        const std::function<double()> &counterMs)
{
    TSourceServerPanel panel;
    panel.UpdateIntervalVisible = bridge && bridge->TransmitterCount() > 0;
    if (!HasServer(bridge)) {
        panel.Status = {QStringLiteral("'Kein OPC-Server ausgewählt'"), StatusColor::Red};
        panel.Name = panel.ID = panel.Computer = panel.ExecutionTime = panel.Version =
            panel.VendorInfo = panel.ActiveSince = panel.ServerTime = panel.LastUpdate =
                panel.UpdateInterval = Dash;
        return panel;
    }
    TOPCDAClient &client = bridge->OPCDAClient();
    const TRemoteServerInfo &server = client.ServerInfo;
    panel.Name = server.Name;
    panel.ID = server.ID.isEmpty() ? GUIDToString(server.GUID) : server.ID;
    panel.Computer = server.ComputerName.isEmpty() ? QStringLiteral("\\\\") + AppInfo().ComputerName
                                                   : server.ComputerName;
    panel.ExecutionTime = panel.LastUpdate = Dash;

    TServerStatusFacts facts;
    facts.State = state;
    facts.ErrorFlags = bridge->ErrorFlags();
    facts.Connected = client.Connected();
    if (facts.Connected) {
        try {
            const double start = counterMs();
            client.GetStatus();
            panel.ExecutionTime = FormatMilliseconds(counterMs() - start);
            facts.ServerState = client.ServerState;
        } catch (const std::exception &) {
            // A server that cannot answer is shown like a lost one; the timer reconnects.
            facts.Connected = false;
        }
    }
    panel.Status = SourceServerStatus(facts);
    if (facts.Connected) {
        panel.Version = QStringLiteral("%1.%2.%3")
                            .arg(client.MajorVersion)
                            .arg(client.MinorVersion)
                            .arg(client.BuildNumber);
        panel.VendorInfo = client.VendorInfo;
        panel.ActiveSince = FormatFileTime(client.StartTime);
        panel.ServerTime = FormatFileTime(client.CurrentTime);
        panel.LastUpdate = lastCallbackTime != 0 ? FormatPanelDateTime(lastCallbackTime) : Dash;
        if (state == asRunning && panel.UpdateIntervalVisible)
            panel.UpdateInterval =
                QStringLiteral("%1 Sekunden (<a href=\"actEditOPCUpdateRate\">Ändern...</a>)")
                    .arg(QLocale().toString(bridge->Transmitters(0)->UpdateRate / 1000.0, 'f', 2));
        else
            panel.UpdateInterval = Dash;
    } else {
        panel.Version = panel.VendorInfo = panel.ActiveSince = panel.ServerTime = NoConnection;
        panel.FieldColor = StatusColor::Grey;
        panel.UpdateInterval = Dash;
        panel.UpdateIntervalVisible = false;
    }
    return panel;
}

TDataBasePanel DescribeDataBase(const TADOBridge *bridge, TAcquisitionState state,
                                TDateTime nextForcedWrite, float lastWriteDuration, TDateTime now)
{
    TDataBasePanel panel;
    if (!bridge) {
        panel.Status = {QStringLiteral("'Keine Datenbank ausgewählt'"), StatusColor::Red};
        panel.ForcedWrite = panel.Connection = panel.ConnectedSince = panel.LastWrite =
            panel.ExecutionTime = Dash;
        return panel;
    }
    if (state == asRunning) {
        const double seconds = std::max(0.0, (nextForcedWrite - now) * 86400.0);
        panel.ForcedWrite =
            QStringLiteral("%1 Sekunden (<a href=\"actEditDBForceWriteIntervall\">Ändern...</a>)")
                .arg(QLocale().toString(seconds, 'f', 0));
    } else {
        panel.ForcedWrite = Dash;
    }
    panel.Status = DataBaseStatus({state, bridge->ErrorFlags(), bridge->Connected});
    panel.Connection = bridge->DataBaseController().ConnectionString();
    panel.ConnectedSince =
        bridge->ConnectTime.Local > 0 ? FormatPanelDateTime(bridge->ConnectTime.Local) : Dash;
    panel.LastWrite =
        bridge->LastWriteTime.Local > 0 ? FormatPanelDateTime(bridge->LastWriteTime.Local) : Dash;
    panel.ExecutionTime = lastWriteDuration >= 0 ? FormatMilliseconds(lastWriteDuration) : Dash;
    return panel;
}

bool ShowsRunTimePage(const TTDWDocument &document)
{
    return document.DataBaseBridge() || HasServer(document.OPCBridge());
}

QStringList CurrentValueColumnTitles()
{
    return {QStringLiteral("Signal"),       QStringLiteral("Beschreibung"),
            QStringLiteral("Lesestatus"),   QStringLiteral("Zeitstempel"),
            QStringLiteral("Wert"),         QStringLiteral("Einheit"),
            QStringLiteral("Signalstatus"), QStringLiteral("Schreibstatus"),
            QStringLiteral("Tabellenfeld"), QStringLiteral("Wertetabelle"),
            QStringLiteral("Statustabelle")};
}

namespace {

void AssignIfDifferent(QString &text, QStringView value)
{
    if (text != value)
        text = value.toString();
}

QString FormatValue(const TVariant &value)
{
    if (value.IsNull())
        return QStringLiteral("(NULL)");
    try {
        return value.ToString();
    } catch (const Exception &e) {
        return e.Message();
    }
}

} // namespace

const QString &CurrentValueText(TCurrentValueRow &row)
{
    if (row.ValueTextPending) {
        row.Texts[4] = FormatValue(row.ShownValue);
        row.ValueTextPending = false;
    }
    return row.Texts[4];
}

int FillCurrentValueRows(const TDataCache &cache, std::vector<TCurrentValueRow> &rows,
                         bool deferValueTexts)
{
    static const QString question = QStringLiteral("?");
    static const QString ok = QStringLiteral("OK");
    static const QString crlf = QStringLiteral("\r\n");
    // Few distinct qualities occur; their texts are made once per refresh.
    std::array<QString, 256> qualityTexts;
    std::scoped_lock lock(cache);
    int count = 0;
    QString name;
    for (int i = 0; i < cache.Count(); ++i) {
        const TDataCacheItem &item = *cache.Items(i);
        const QString *tables = Attribute(item, u"ValueTables");
        if (!tables)
            continue;
        // Texts shared by every row of the entry.
        const QString &description = AttributeOr(item, u"Description", question);
        const QString &readState = AttributeOr(item, u"OPCState", question);
        const QString &unit = AttributeOr(item, u"ValueUnit", question);
        const bool readOk = readState == ok;
        // The entry's first row from the last refresh may still hold the formatted value.
        const TCurrentValueRow *previous =
            count < int(rows.size()) && rows[std::size_t(count)].Item == &item
                ? &rows[std::size_t(count)]
                : nullptr;
        QString time, value, signalState;
        if (previous && previous->ShownTimeStamp == item.TimeStamp())
            time = previous->Texts[3];
        else
            time = TimeOfDayText(item.TimeStamp().Local);
        bool valuePending = false;
        if (previous && previous->ShownValue == item.Value() &&
            previous->ShownValue.Type() == item.Value().Type()) {
            value = previous->Texts[4];
            valuePending = previous->ValueTextPending;
        } else if (deferValueTexts) {
            valuePending = true;
        } else {
            value = FormatValue(item.Value());
        }
        const quint16 quality = item.Quality();
        QString &qualityText = qualityTexts[quality & 0xFF];
        if (qualityText.isNull()) {
            qualityText = OPCQualityText(quality);
            if (quality & 0x3C)
                qualityText += QStringLiteral(" (") + OPCSubStatusText(quality) + u')';
        }
        signalState = qualityText;

        for (const QStringView table : QStringView(*tables).split(crlf, Qt::SkipEmptyParts)) {
            name.clear();
            name.append(table).append(QLatin1String(".TargetTableFields"));
            const QString *columns = Attribute(item, name);
            if (!columns)
                break;
            name.clear();
            name.append(table).append(QLatin1String(".StatusTable"));
            const QString &statusTable = AttributeOr(item, name, question);
            for (const QStringView column : QStringView(*columns).split(crlf, Qt::SkipEmptyParts)) {
                if (count == int(rows.size()))
                    rows.emplace_back();
                TCurrentValueRow &row = rows[std::size_t(count++)];
                name.clear();
                name.append(table).append(u'.').append(column).append(QLatin1String(".DBState"));
                const QString *writeState = Attribute(item, name);
                row.Item = &item;
                auto &texts = row.Texts;
                texts[0] = item.ID();
                texts[1] = description;
                texts[2] = readState;
                texts[3] = time;
                texts[4] = value;
                texts[5] = unit;
                texts[6] = signalState;
                texts[7] = writeState ? *writeState : question;
                AssignIfDifferent(texts[8], column);
                AssignIfDifferent(texts[9], table);
                texts[10] = statusTable;
                row.Alert = !readOk || (writeState && *writeState != ok);
                row.ShownValue = item.Value();
                row.ShownTimeStamp = item.TimeStamp();
                row.ValueTextPending = valuePending;
            }
        }
    }
    return count;
}

TEventImage EventImageOf(TEventType type)
{
    switch (type) {
    case etError:
    case etSilentError: return TEventImage::Error;
    case etWarning:
    case etSilentWarning: return TEventImage::Warning;
    case etInformation: return TEventImage::Information;
    case etDebug: return TEventImage::Debug;
    default: return TEventImage::None;
    }
}

QString EventImageName(TEventImage image)
{
    switch (image) {
    case TEventImage::Error: return QStringLiteral("Fehler");
    case TEventImage::Warning: return QStringLiteral("Warnung");
    case TEventImage::Information: return QStringLiteral("Information");
    case TEventImage::Debug: return QStringLiteral("Debug");
    case TEventImage::None: break;
    }
    return QString();
}

QString EventTimeText(TDateTime timeStamp)
{
    return DateTimeToQDateTime(timeStamp).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss,zzz"));
}

QString EventSenderText(const TEventLogEntry &entry, quint32 uiThreadID)
{
    const QString address = QStringLiteral("%1")
                                .arg(quintptr(entry.Sender) & 0xFFFFFFFFu, 8, 16, QLatin1Char('0'))
                                .toUpper();
    if (entry.ThreadID == uiThreadID)
        return entry.Sender ? entry.SenderName + QStringLiteral(" at $") + address
                            : entry.SenderName;
    return QStringLiteral("%1 at $%2 [Thread $%3]")
        .arg(entry.SenderName, address,
             QStringLiteral("%1").arg(entry.ThreadID & 0xFFFFu, 4, 16, QLatin1Char('0')).toUpper());
}

QString EventRowText(const QString &time, TEventImage image, const QString &message,
                     const QString &sender)
{
    QString text = time;
    if (image != TEventImage::None)
        text += u' ' + EventImageName(image);
    return text + QStringLiteral(": ") + message + QStringLiteral(" [") + sender + u']';
}

QString WindowCaption(const TConfiguration *settings, const QString &serverStatus,
                      const QString &dataBaseStatus)
{
    if (!settings || !settings->UseUserDefinedWindowCaption)
        return QStringLiteral("Tidewell");
    for (const QString &status : {serverStatus, dataBaseStatus})
        if (!status.isEmpty() && status != QLatin1String("OK"))
            return settings->UserDefinedWindowErrorCaption;
    return settings->UserDefinedWindowCaption;
}

TStatusBarDocument DescribeStatusBarDocument(const TTDWDocument &document)
{
    QString source;
    if (document.ConfigDBLink != 0 && !document.ConfigDB.ConnectionString.isEmpty())
        source = ExtractConnectionParameter(QStringLiteral("Data Source"),
                                            document.ConfigDB.ConnectionString);
    if (!document.FileName().isEmpty()) {
        QString text = QFileInfo(document.FileName()).fileName();
        if (document.ConfigDBLink != 0)
            return {text + QStringLiteral(" -> ") + source, 2};
        return {text, 0};
    }
    if (document.ConfigDBLink != 0)
        return {source, 1};
    return {};
}

QString HelpTopicOfContext(int context)
{
    static const char *const topics[] = {"firststeps.htm",
                                         "settingupthebridge.htm",
                                         "generaloptions.htm",
                                         "defaultvalues.htm",
                                         "eventlog.htm",
                                         "themainwindow.htm",
                                         "selectingtheopcsourceserver.htm",
                                         "usingaconfigurationdatabase.htm"};
    if (context < 2 || context > 9)
        return QString();
    return QString::fromLatin1(topics[context - 2]);
}
