// The main window: tool bar and menus, the welcome and run-time pages, the event grid and the
// status bar. It draws and forwards; the runtime control does the work and the presentation rules
// decide the texts.
#pragma once

#include "app/MainPresentation.h"
#include "app/xHelp.h"
#include "app/xfrmAbout.h"
#include "editor/xfrmADOShowActivityDlg.h"
#include "editor/xfrmShowActivityDlg.h"
#include "runtime/RuntimeControl.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QSplitter;
class QStackedWidget;
class QTableWidget;
class QTreeView;
class TAlertForm;
class TSectionPanel;

// The rows of the current-values tree. Refresh reuses the rows and signals one change for all.
class TCurrentValuesModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TCurrentValuesModel(QObject *parent = nullptr);

    void Refresh(const TDataCache &cache);
    // With the value text formatted.
    const TCurrentValueRow &Row(int row) const
    {
        CurrentValueText(m_Rows[std::size_t(row)]);
        return m_Rows[std::size_t(row)];
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Mutable: value texts are formatted when first asked for.
    mutable std::vector<TCurrentValueRow> m_Rows;
    int m_Count = 0;
    QStringList m_Titles;
};

class TMainForm : public QMainWindow, public TRuntimeView
{
    Q_OBJECT

public:
    // At most this many events are shown.
    static constexpr int MaxEvents = 98;
    // The current-values tree is not refreshed more often than this after data changes.
    static constexpr quint32 TreeRefreshInterval = 900;

    // dataCache null: the process-wide singleton, released again when the window goes.
    explicit TMainForm(TDataCache *dataCache = nullptr, QWidget *parent = nullptr);
    ~TMainForm() override;

    TRuntimeControl &Control() const { return *m_Control; }
    TAlertForm &AlertForm() const { return *m_AlertForm; }
    // The action of that name (compared without regard to case), or null.
    QAction *Action(const QString &name) const;
    // Runs the action of that name, as a link naming it does; false when there is none.
    bool RunActionByName(const QString &name);

    // Dialogs of other parts of the program; their actions stay disabled while unset.
    std::function<void()> ConfigureBridgeHandler;
    std::function<void()> UseConfigDataBaseHandler;
    std::function<void()> OptionsHandler;
    // Millisecond ticks of the tree throttle; GetTickCount unless replaced.
    std::function<quint32()> TickSource;

    // The splash window to close once the start-up document has been handled (not owned).
    void SetSplash(TAboutDlg *splash) { m_Splash = splash; }

    // TRuntimeView
    void RefreshDisplay() override;
    void RefreshCurrentValues() override;
    void SetBusyCursor(bool busy) override;
    void ShowWaitPanel(bool shown) override;
    void SetStatusText(const QString &text) override;
    TDialogAnswer Ask(const QString &text) override;
    std::optional<QString> ChooseOpenFile() override;
    std::optional<QString> ChooseSaveFile(const QString &preset) override;
    std::optional<int> EditTimeInterval(const QString &header, int value) override;
    void DocumentStarting(TTDWDocument &document) override;

    void DrainEventQueue();
    void UpdateCaption();
    void UpdateActions();
    // The current-values tree now, whatever the throttle says.
    void RefreshCurrentValuesNow();

    // The event grid: event rows first, then the one empty row.
    QTableWidget *EventLogGrid() const { return m_EventLogGrid; }
    int EventCount() const;
    // Row text as copied and exported; row must be an event row.
    QString EventText(int row) const;
    // Writes every event row to path, CR LF line ends; false when the file cannot be written.
    bool ExportEventLog(const QString &path) const;
    bool EventLogHalted() const { return m_Halted; }

    QTreeView *DataCacheTable() const { return m_DataCacheTable; }
    TCurrentValuesModel &CurrentValues() const { return *m_CurrentValues; }
    // True while the run-time page is shown, false for the welcome page (and the wait panel).
    bool RunTimePageShown() const;
    bool WaitPanelShown() const;
    THelp &Help() { return m_Help; }

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateActions();
    void CreateMenusAndToolBar();
    QWidget *CreateWelcomePage();
    QWidget *CreateWaitPanel();
    QWidget *CreateRunTimePage();
    QWidget *CreateEventLogPanel();
    void CreateStatusBar();
    QAction *AddAction(const QString &name, const QString &caption,
                       const QKeySequence &shortcut = QKeySequence());
    // Runs a command; an error is logged with the window as sender, never passed on.
    void Guard(const std::function<void()> &command);

    void RefreshSourceServerPanel();
    void RefreshDataBasePanel();
    void RefreshPage();
    void RefreshStatusBar();
    void AddEvent(const TEventLogEntry &entry);
    void CopyCurrentEvent();
    void ExportEventLogWithDialog();
    void SetEventLogHalted(bool halted);
    void CloseCurrentEventLog();
    void ShowHelp(int context);
    void HandleStartDocument(TTDWDocument *document);
    void ApplySettings();
    void StoreSettings();
    void AutoSizeColumns();
    void LinkActivated(const QString &link);

    TDataCache *m_DataCache;
    bool m_OwnsSingleton;
    quint32 m_UIThreadID;
    QHash<QString, QAction *> m_Actions; // by lower-case name
    THelp m_Help;
    QPointer<TAboutDlg> m_Splash;
    std::unique_ptr<TAlertForm> m_AlertForm;
    TOPCResolveProgressWindow m_ResolveProgress{this};
    TADOValidationProgressWindow m_ValidationProgress{this};
    // Declared last: it goes first, while the progress windows its bridges use still exist.
    std::unique_ptr<TRuntimeControl> m_Control;

    QStackedWidget *m_Pages = nullptr;
    QWidget *m_WelcomePage = nullptr;
    QWidget *m_RunTimePage = nullptr;
    QWidget *m_WaitPanel = nullptr;
    bool m_WaitShown = false;
    QGroupBox *m_FirstSteps = nullptr;
    QSplitter *m_Splitter = nullptr;
    TSectionPanel *m_ServerPanel = nullptr;
    TSectionPanel *m_DataBasePanel = nullptr;
    TSectionPanel *m_ValuesPanel = nullptr;
    TSectionPanel *m_EventPanel = nullptr;
    QTreeView *m_DataCacheTable = nullptr;
    TCurrentValuesModel *m_CurrentValues = nullptr;
    QTableWidget *m_EventLogGrid = nullptr;
    QLabel *m_StatusText = nullptr;
    QLabel *m_DocumentImage = nullptr;
    QLabel *m_DocumentText = nullptr;
    QHash<QString, QLabel *> m_Fields; // value labels by objectName

    QString m_ServerStatus;
    QString m_DataBaseStatus;
    quint32 m_LastTreeRefresh = 0;
    bool m_TreeRefreshed = false;
    bool m_Halted = false;
    bool m_FirstShow = true;
    int m_BusyDepth = 0;
};
