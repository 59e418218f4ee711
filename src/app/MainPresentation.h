// What the main window shows, as plain values: status texts and colours of the two bridge panels,
// the rows of the current-values tree, the event rows, the caption and the status bar. The window
// only copies these into its controls, so the rules can be tested without one.
#pragma once

#include "eventlog/xEventLog.h"
#include "platform/com/Variant.h"
#include "platform/system/DateTime.h"
#include "runtime/RuntimeControl.h"
#include "settings/ZonedDateTime.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <functional>
#include <vector>

class TADOBridge;
class TConfiguration;
class TDataCache;
class TDataCacheItem;
class TOPCClientBridge;
class TTDWDocument;

// Colours of the status texts. An invalid colour means the normal text colour.
namespace StatusColor {
inline const QColor Red{0xFF, 0x00, 0x00};
inline const QColor Green{0x00, 0x80, 0x00};
inline const QColor Olive{0x80, 0x80, 0x00};
inline const QColor Maroon{0x80, 0x00, 0x00};
inline const QColor Navy{0x00, 0x00, 0x80};
inline const QColor Grey{0x80, 0x80, 0x80};
} // namespace StatusColor

struct TStatusText
{
    QString Text;
    QColor Color;
    friend bool operator==(const TStatusText &, const TStatusText &) = default;
};

// What the source server reported when its status was read; ServerState 0 when the read failed.
struct TServerStatusFacts
{
    bool Connected = false;
    TAcquisitionState State = asRunning;
    quint8 ErrorFlags = 0; // union of the acquisition bridge's flags
    quint32 ServerState = 0;
};

// The status line of the source-server panel for a bridge that names a server.
TStatusText SourceServerStatus(const TServerStatusFacts &facts);

struct TDataBaseStatusFacts
{
    TAcquisitionState State = asRunning;
    quint8 ErrorFlags = 0; // union of the database bridge's flags
    bool Connected = false;
};

// The status line of the database panel for a document with a database bridge.
TStatusText DataBaseStatus(const TDataBaseStatusFacts &facts);

// Every field of the source-server panel. Fields shown grey carry Grey in FieldColor.
struct TSourceServerPanel
{
    TStatusText Status;
    QString Name, ID, Computer, ExecutionTime, Version, VendorInfo, ActiveSince, ServerTime,
        LastUpdate;
    QColor FieldColor;      // of Version, VendorInfo, ActiveSince and ServerTime
    QString UpdateInterval; // rich text
    bool UpdateIntervalVisible = true;
};

// Reads the server status when the client is connected; counterMs measures that call.
TSourceServerPanel DescribeSourceServer(const TOPCClientBridge *bridge, TAcquisitionState state,
                                        TDateTime lastCallbackTime,
                                        const std::function<double()> &counterMs);

struct TDataBasePanel
{
    TStatusText Status;
    QString ForcedWrite; // rich text
    QString Connection, ConnectedSince, LastWrite, ExecutionTime;
};

TDataBasePanel DescribeDataBase(const TADOBridge *bridge, TAcquisitionState state,
                                TDateTime nextForcedWrite, float lastWriteDuration, TDateTime now);

// False shows the welcome page.
bool ShowsRunTimePage(const TTDWDocument &document);

// "yyyy-mm-dd hh:mm:ss" of a local date-time.
QString FormatPanelDateTime(TDateTime value);
// "0.### ms" with a point as the decimal separator.
QString FormatMilliseconds(double ms);

// The current-values tree.
inline constexpr int CurrentValueColumnCount = 11;
QStringList CurrentValueColumnTitles();

struct TCurrentValueRow
{
    const TDataCacheItem *Item = nullptr;
    std::array<QString, CurrentValueColumnCount> Texts;
    bool Alert = false; // drawn red
    // What Texts[3] and [4] were made from: an unchanged value is not formatted again.
    TVariant ShownValue;
    TZonedDateTime ShownTimeStamp{-1.0, 0};
    bool ValueTextPending = false;
};

// Fills rows from the start with one row per written column, reusing what is there; rows grows
// when needed and is never shrunk. Returns the number of rows filled. With deferValueTexts a
// changed value is only remembered; CurrentValueText formats it when the row is drawn, so a big
// tree pays for the rows on screen only.
int FillCurrentValueRows(const TDataCache &cache, std::vector<TCurrentValueRow> &rows,
                         bool deferValueTexts = false);
// The "Wert" text of a row, formatted now if it was deferred.
const QString &CurrentValueText(TCurrentValueRow &row);

// The event grid.
enum class TEventImage { None, Error, Warning, Information, Debug };
TEventImage EventImageOf(TEventType type);
// "Fehler", "Warnung", "Information", "Debug"; empty for None.
QString EventImageName(TEventImage image);
QString EventTimeText(TDateTime timeStamp);
// The "Erzeugt von" text; uiThreadID is the id of the thread that runs the windows.
QString EventSenderText(const TEventLogEntry &entry, quint32 uiThreadID);
// One event row as it is copied and exported.
QString EventRowText(const QString &time, TEventImage image, const QString &message,
                     const QString &sender);

// The window caption. serverStatus and dataBaseStatus are the panels' status texts, empty for a
// bridge the document does not have: a side that is not configured is no error.
QString WindowCaption(const TConfiguration *settings, const QString &serverStatus,
                      const QString &dataBaseStatus);

// The document panel of the status bar: Image is -1 for none.
struct TStatusBarDocument
{
    QString Text;
    int Image = -1;
};
TStatusBarDocument DescribeStatusBarDocument(const TTDWDocument &document);

// The help topic of a context: "firststeps.htm" for 2 ... "usingaconfigurationdatabase.htm" for 9,
// empty (the start page) for any other.
QString HelpTopicOfContext(int context);
