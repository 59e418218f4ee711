// Runtime control of a loaded configuration: the document, the acquisition state machine, what
// triggers a database write and how overload is avoided, and the five-second update timer. The
// main window and the headless runner both drive this class; the window only adds what a person
// sees and clicks, through TRuntimeView.
#pragma once

#include "platform/system/DateTime.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

class TDataCache;
class TTDWDocument;

enum TAcquisitionState : quint8 { asRunning = 0, asPaused = 1, asStopped = 2 };

enum class TDialogAnswer { Yes, No, Cancel };

// What the runtime control asks of the window around it. The defaults are those of a program
// without windows: nothing is drawn and questions are answered without a person.
class TRuntimeView
{
public:
    virtual ~TRuntimeView() = default;

    // Redraw panels, tree, caption and status bar.
    virtual void RefreshDisplay() {}
    // The current-values tree after a data change (the window throttles it).
    virtual void RefreshCurrentValues() {}
    virtual void SetBusyCursor(bool /*busy*/) {}
    virtual void ShowWaitPanel(bool /*shown*/) {}
    // The first panel of the status bar.
    virtual void SetStatusText(const QString & /*text*/) {}
    // Yes, No or Cancel on a question about unsaved changes; unattended, nothing is saved and
    // nothing is dropped.
    virtual TDialogAnswer Ask(const QString & /*text*/) { return TDialogAnswer::Cancel; }
    // The document to open or the path to save under; nothing when cancelled.
    virtual std::optional<QString> ChooseOpenFile() { return std::nullopt; }
    virtual std::optional<QString> ChooseSaveFile(const QString & /*preset*/)
    {
        return std::nullopt;
    }
    // A time interval in milliseconds; nothing when cancelled.
    virtual std::optional<int> EditTimeInterval(const QString & /*header*/, int /*value*/)
    {
        return std::nullopt;
    }
    // Before a document's bridges are started: the window installs its progress windows.
    virtual void DocumentStarting(TTDWDocument & /*document*/) {}
};

class TRuntimeControl : public QObject
{
    Q_OBJECT

public:
    // dataCache is the process-wide cache (not owned). view may be null (the quiet one).
    explicit TRuntimeControl(TDataCache *dataCache, TRuntimeView *view = nullptr,
                             QObject *parent = nullptr);
    ~TRuntimeControl() override;

    TTDWDocument &Document() const { return *m_Document; }
    TDataCache &DataCache() const { return *m_DataCache; }
    TAcquisitionState State() const { return m_State; }
    bool WriteInProgress() const { return m_WriteInProgress; }
    QTimer &UpdateTimer() { return m_UpdateTimer; }
    // The sender name of the window's events.
    QString SenderName = QStringLiteral("TMainForm");

    // Takes a loaded document (or none) as the start-up sequence hands it over, starts it and
    // enables the update timer.
    void HandleStartDocument(std::unique_ptr<TTDWDocument> document);

    void StartDocument();
    void RefreshBridgeStates();
    void RefreshDisplay();
    void WriteToDataBase();
    void HandleDataChange();
    void TimerTick();

    void Play();
    void Pause();
    void Stop();

    bool CanCloseDocument();
    void NewDocument();
    // Without a path the view chooses one. False when nothing was loaded.
    bool OpenDocument(const QString &path = QString());
    void SaveDocument(bool saveAs);
    void EditForcedWriteInterval();
    void EditUpdateRate();
    void RefreshNow();
    // Stops both bridges, clears the document and writes the settings, as closing the window
    // does; rememberDocument stores the document's path for the next start when the settings
    // ask for it.
    void Shutdown(bool rememberDocument = true);

    // Milliseconds of the high-resolution counter.
    static double CounterMs();

    float LastWriteEnd = 0;
    float LastWriteDuration = -1;
    std::int64_t LastOverloadReport = 0;
    TDateTime NextForcedWrite = 0;
    TDateTime LastCallbackTime = 0;

protected:
    bool event(QEvent *event) override;

private:
    void LogInformation(quint8 level, const QString &message);
    void LogCurrentException();
    void SetNextForcedWrite();
    void LoadInto(const QString &path);

    TDataCache *m_DataCache;
    TRuntimeView m_QuietView;
    TRuntimeView *m_View;
    std::unique_ptr<TTDWDocument> m_Document;
    TAcquisitionState m_State = asRunning;
    bool m_WriteInProgress = false;
    QTimer m_UpdateTimer;
};
