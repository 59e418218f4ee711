#include "app/MainForm.h"

#include "acquisition/ExceptionText.h"
#include "acquisition/xOPCClientBridge.h"
#include "app/Artwork.h"
#include "app/xfrmAbout.h"
#include "app/xfrmEditTimeIntervalDlg.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/IniFile.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "platform/system/TickCounter.h"
#include "platform/system/WindowMessages.h"
#include "settings/ZonedDateTime.h"
#include "settings/xCommon.h"
#include "windows/xAlertWin.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int CollapsedHeight = 24;
constexpr int EventImageColumn = 0, EventTimeColumn = 1, EventMessageColumn = 2,
              EventSenderColumn = 3;
constexpr int EventImageRole = Qt::UserRole + 1;

QLabel *NewLinkLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

void SetTextColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(
        QPalette::WindowText,
        color.isValid() ? color : label->parentWidget()->palette().color(QPalette::WindowText));
    label->setPalette(palette);
}

// The logo of the tool bar opens the about box when clicked.
class TClickableLabel : public QLabel
{
public:
    using QLabel::QLabel;
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            OnClick)
            OnClick();
    }
};

} // namespace

// A panel with a header line whose button collapses it to the header.
class TSectionPanel : public QFrame
{
public:
    // expandedHeight 0: the panel takes what its layout gives it, at least minimumHeight.
    TSectionPanel(const QString &objectName, const QString &title, int expandedHeight,
                  int minimumHeight, QWidget *parent)
        : QFrame(parent), m_ExpandedHeight(expandedHeight), m_MinimumHeight(minimumHeight)
    {
        setObjectName(objectName);
        setFrameShape(QFrame::StyledPanel);
        auto *header = new QWidget(this);
        header->setFixedHeight(CollapsedHeight - 2);
        header->setAutoFillBackground(true);
        QPalette palette = header->palette();
        palette.setColor(QPalette::Window, QColor(0xDC, 0xE6, 0xF0));
        header->setPalette(palette);
        m_Toggle = new QToolButton(header);
        m_Toggle->setObjectName(objectName + QStringLiteral("Toggle"));
        m_Toggle->setAutoRaise(true);
        m_Toggle->setFixedSize(20, 20);
        auto *caption = new QLabel(title, header);
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        m_HeaderLayout = new QHBoxLayout(header);
        m_HeaderLayout->setContentsMargins(2, 0, 6, 0);
        m_HeaderLayout->addWidget(m_Toggle);
        m_HeaderLayout->addWidget(caption);
        m_HeaderLayout->addStretch();
        m_Body = new QWidget(this);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(1, 1, 1, 1);
        layout->setSpacing(0);
        layout->addWidget(header);
        layout->addWidget(m_Body, 1);
        QObject::connect(m_Toggle, &QToolButton::clicked, this, [this] {
            SetExpanded(!m_Expanded);
            if (OnToggled)
                OnToggled();
        });
        SetExpanded(true);
    }

    QWidget *Body() const { return m_Body; }
    void AddHeaderWidget(QWidget *widget) { m_HeaderLayout->addWidget(widget); }
    bool Expanded() const { return m_Expanded; }

    void SetExpanded(bool expanded)
    {
        m_Expanded = expanded;
        m_Body->setVisible(expanded);
        m_Toggle->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
        m_Toggle->setToolTip(expanded ? QCoreApplication::translate("TMainForm", "Zuklappen")
                                      : QCoreApplication::translate("TMainForm", "Aufklappen"));
        if (!expanded) {
            setFixedHeight(CollapsedHeight);
        } else if (m_ExpandedHeight > 0) {
            setFixedHeight(m_ExpandedHeight);
        } else {
            setMinimumHeight(m_MinimumHeight);
            setMaximumHeight(QWIDGETSIZE_MAX);
        }
        setSizePolicy(QSizePolicy::Preferred, expanded && m_ExpandedHeight == 0
                                                  ? QSizePolicy::Expanding
                                                  : QSizePolicy::Fixed);
    }

    std::function<void()> OnToggled;

private:
    int m_ExpandedHeight;
    int m_MinimumHeight;
    bool m_Expanded = true;
    QToolButton *m_Toggle = nullptr;
    QHBoxLayout *m_HeaderLayout = nullptr;
    QWidget *m_Body = nullptr;
};

// TCurrentValuesModel

TCurrentValuesModel::TCurrentValuesModel(QObject *parent)
    : QAbstractTableModel(parent), m_Titles(CurrentValueColumnTitles())
{
}

void TCurrentValuesModel::Refresh(const TDataCache &cache)
{
    const int count = FillCurrentValueRows(cache, m_Rows, true);
    if (count > m_Count) {
        beginInsertRows(QModelIndex(), m_Count, count - 1);
        m_Count = count;
        endInsertRows();
    } else if (count < m_Count) {
        beginRemoveRows(QModelIndex(), count, m_Count - 1);
        m_Count = count;
        endRemoveRows();
    }
    // Drop what removed rows still hold, so a vanished cache entry is never referred to.
    for (std::size_t i = std::size_t(count); i < m_Rows.size() && m_Rows[i].Item; ++i)
        m_Rows[i] = TCurrentValueRow();
    if (count > 0)
        emit dataChanged(index(0, 0), index(count - 1, CurrentValueColumnCount - 1),
                         {Qt::DisplayRole, Qt::ForegroundRole});
}

int TCurrentValuesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_Count;
}

int TCurrentValuesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : CurrentValueColumnCount;
}

QVariant TCurrentValuesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_Count)
        return QVariant();
    TCurrentValueRow &row = m_Rows[std::size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return index.column() == 4 ? CurrentValueText(row) : row.Texts[std::size_t(index.column())];
    if (role == Qt::ForegroundRole && row.Alert)
        return QColor(StatusColor::Red);
    return QVariant();
}

QVariant TCurrentValuesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_Titles.size())
        return m_Titles[section];
    return QVariant();
}

// TMainForm

TMainForm::TMainForm(TDataCache *dataCache, QWidget *parent)
    : QMainWindow(parent), m_DataCache(dataCache ? dataCache : TSingletonDataCache::Instance()),
      m_OwnsSingleton(!dataCache), m_UIThreadID(CurrentThreadID())
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Tidewell"));
    setWindowIcon(QIcon(LogoMark(64)));
    TickSource = [] { return GetTickCount(); };

    m_Control = std::make_unique<TRuntimeControl>(m_DataCache, this);
    m_AlertForm = std::make_unique<TAlertForm>();
    m_AlertForm->SetMainWindow(this);

    CreateActions();
    CreateMenusAndToolBar();

    m_Pages = new QStackedWidget(this);
    m_WelcomePage = CreateWelcomePage();
    m_RunTimePage = CreateRunTimePage();
    m_WaitPanel = CreateWaitPanel();
    m_Pages->addWidget(m_WelcomePage);
    m_Pages->addWidget(m_RunTimePage);
    m_Pages->addWidget(m_WaitPanel);

    m_Splitter = new QSplitter(Qt::Vertical, this);
    m_Splitter->setObjectName(QStringLiteral("Splitter"));
    m_Splitter->setChildrenCollapsible(false);
    m_Splitter->addWidget(m_Pages);
    m_Splitter->addWidget(CreateEventLogPanel());
    m_Splitter->setStretchFactor(0, 1);
    m_Splitter->setStretchFactor(1, 0);
    m_Splitter->setSizes({400, 160});
    setCentralWidget(m_Splitter);
    CreateStatusBar();

    if (!AppInfo().DebugEnabled)
        m_EventLogGrid->setColumnHidden(EventSenderColumn, true);
    auto *help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { ShowHelp(7); });

    // Commands are enabled as the state allows; Qt has no idle hook, so poll gently.
    auto *idle = new QTimer(this);
    idle->setInterval(300);
    connect(idle, &QTimer::timeout, this, &TMainForm::UpdateActions);
    idle->start();

    ApplySettings();
    RefreshDisplay();
}

TMainForm::~TMainForm()
{
    EventLogger().SetNotifyWindow(nullptr);
    m_Control.reset();
    if (m_OwnsSingleton)
        TSingletonDataCache::ReleaseInstance();
}

QAction *TMainForm::AddAction(const QString &name, const QString &caption,
                              const QKeySequence &shortcut)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(name);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    m_Actions.insert(name.toLower(), action);
    return action;
}

QAction *TMainForm::Action(const QString &name) const
{
    return m_Actions.value(name.toLower());
}

bool TMainForm::RunActionByName(const QString &name)
{
    QAction *action = Action(name);
    if (!action)
        return false;
    UpdateActions();
    if (action->isEnabled())
        action->trigger();
    return true;
}

void TMainForm::Guard(const std::function<void()> &command)
{
    try {
        command();
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
    UpdateActions();
}

void TMainForm::CreateActions()
{
    QStyle *style = this->style();
    auto command = [this](QAction *action, std::function<void()> run) {
        connect(action, &QAction::triggered, this, [this, run] { Guard(run); });
    };
    TRuntimeControl &control = *m_Control;

    QAction *a = AddAction(QStringLiteral("actFileNew"), tr("Neu"), QKeySequence(tr("Ctrl+N")));
    a->setIcon(style->standardIcon(QStyle::SP_FileIcon));
    command(a, [&control] { control.NewDocument(); });
    command(AddAction(QStringLiteral("actFileClose"), tr("Schließen")),
            [&control] { control.NewDocument(); });
    a = AddAction(QStringLiteral("actFileOpen"), tr("Öffnen..."), QKeySequence(tr("Ctrl+O")));
    a->setIcon(style->standardIcon(QStyle::SP_DialogOpenButton));
    command(a, [&control] { control.OpenDocument(); });
    a = AddAction(QStringLiteral("actFileUseConfigDataBase"),
                  tr("Konfigurationsdatenbank verwenden..."));
    a->setIcon(style->standardIcon(QStyle::SP_DriveNetIcon));
    command(a, [this] {
        if (UseConfigDataBaseHandler)
            UseConfigDataBaseHandler();
    });
    a = AddAction(QStringLiteral("actFileSave"), tr("Speichern"), QKeySequence(tr("Ctrl+S")));
    a->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
    command(a, [&control] { control.SaveDocument(false); });
    command(AddAction(QStringLiteral("actFileSaveAs"), tr("Speichern unter...")),
            [&control] { control.SaveDocument(true); });
    command(AddAction(QStringLiteral("actFileCloseApp"), tr("Beenden")), [this] { close(); });

    a = AddAction(QStringLiteral("actEditConfigureBridge"), tr("Bridge konfigurieren..."),
                  QKeySequence(Qt::Key_F3));
    a->setIcon(style->standardIcon(QStyle::SP_FileDialogDetailedView));
    command(a, [this] {
        if (ConfigureBridgeHandler)
            ConfigureBridgeHandler();
    });
    a = AddAction(QStringLiteral("actPlay"), tr("Datenerfassung wieder aufnehmen"));
    a->setIcon(style->standardIcon(QStyle::SP_MediaPlay));
    command(a, [&control] { control.Play(); });
    a = AddAction(QStringLiteral("actPause"), tr("Datenerfassung anhalten"));
    a->setIcon(style->standardIcon(QStyle::SP_MediaPause));
    command(a, [&control] { control.Pause(); });
    a = AddAction(QStringLiteral("actStop"), tr("Datenerfassung stoppen"));
    a->setIcon(style->standardIcon(QStyle::SP_MediaStop));
    command(a, [&control] { control.Stop(); });
    command(AddAction(QStringLiteral("actEditDBForceWriteIntervall"),
                      tr("Max. Schreibintervall ändern...")),
            [this, &control] {
                control.EditForcedWriteInterval();
                RefreshDisplay();
            });
    command(
        AddAction(QStringLiteral("actEditOPCUpdateRate"), tr("Aktualisierungsintervall ändern...")),
        [this, &control] {
            control.EditUpdateRate();
            RefreshDisplay();
        });
    a = AddAction(QStringLiteral("actViewUpdate"), tr("Aktualisieren"), QKeySequence(Qt::Key_F5));
    a->setIcon(style->standardIcon(QStyle::SP_BrowserReload));
    command(a, [&control] { control.RefreshNow(); });
    command(AddAction(QStringLiteral("actExtrasConfigAction"), tr("Umgebungsoptionen..."),
                      QKeySequence(Qt::Key_F12)),
            [this] {
                if (OptionsHandler)
                    OptionsHandler();
                UpdateCaption();
            });

    a = AddAction(QStringLiteral("actEditCopyCurrentEvent"), tr("Kopieren"),
                  QKeySequence(tr("Ctrl+C")));
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    command(a, [this] { CopyCurrentEvent(); });
    command(
        AddAction(QStringLiteral("actEditExportEventLog"), tr("Ereignisprotokoll exportieren...")),
        [this] { ExportEventLogWithDialog(); });
    a = AddAction(QStringLiteral("HaltEventLogAction"), tr("Ereignisprotokoll anhalten"));
    a->setCheckable(true);
    connect(a, &QAction::toggled, this,
            [this](bool halted) { Guard([this, halted] { SetEventLogHalted(halted); }); });
    command(AddAction(QStringLiteral("CloseCurrentEventLogAction"),
                      tr("Aktuelle Ereignisprotokoll-Datei abschließen")),
            [this] { CloseCurrentEventLog(); });

    a = AddAction(QStringLiteral("actViewRemoteServer"), tr("OPC-Quellserver"));
    a->setCheckable(true);
    command(a, [this] { m_ServerPanel->SetExpanded(!m_ServerPanel->Expanded()); });
    a = AddAction(QStringLiteral("actViewDatabase"), tr("Zieldatenbank"));
    a->setCheckable(true);
    command(a, [this] { m_DataBasePanel->SetExpanded(!m_DataBasePanel->Expanded()); });
    a = AddAction(QStringLiteral("actViewEventLog"), tr("Ereignisprotokoll"));
    a->setCheckable(true);
    command(a, [this] {
        m_EventPanel->SetExpanded(!m_EventPanel->Expanded());
        m_EventPanel->OnToggled();
    });
    command(AddAction(QStringLiteral("actAutoSizeColumns"), tr("Spaltenbreiten anpassen")),
            [this] { AutoSizeColumns(); });

    a = AddAction(QStringLiteral("actHelpAbout"), tr("Info..."));
    command(a, [this] { TAboutDlg::ShowAbout(this); });
    a = AddAction(QStringLiteral("actHelpHelp"), tr("Hilfe (englisch)..."));
    a->setIcon(style->standardIcon(QStyle::SP_DialogHelpButton));
    command(a, [this] { ShowHelp(1); });
    command(AddAction(QStringLiteral("actHelpFirstSteps"), tr("Erste Schritte (englisch)...")),
            [this] { ShowHelp(2); });
    command(AddAction(QStringLiteral("actHelpOpenUserManual"),
                      tr("Benutzerhandbuch öffnen (englisch)...")),
            [] { OpenUserManual(); });
    command(AddAction(QStringLiteral("actHelpKestromHomepage"), tr("Kestrom Website öffnen...")),
            [] { QDesktopServices::openUrl(QUrl(KestromHomepage)); });
}

void TMainForm::CreateMenusAndToolBar()
{
    auto add = [this](QMenu *menu, std::initializer_list<const char *> names) {
        for (const char *name : names) {
            if (!*name)
                menu->addSeparator();
            else
                menu->addAction(Action(QString::fromLatin1(name)));
        }
    };
    add(menuBar()->addMenu(tr("&Datei")),
        {"actFileNew", "actFileOpen", "actFileUseConfigDataBase", "", "actFileSave",
         "actFileSaveAs", "actFileClose", "", "actFileCloseApp"});
    add(menuBar()->addMenu(tr("&Bearbeiten")),
        {"actEditConfigureBridge", "", "actEditDBForceWriteIntervall", "actEditOPCUpdateRate", "",
         "actEditCopyCurrentEvent", "actEditExportEventLog"});
    add(menuBar()->addMenu(tr("&Ansicht")),
        {"actViewRemoteServer", "actViewDatabase", "actViewEventLog", "", "actAutoSizeColumns",
         "actViewUpdate"});
    add(menuBar()->addMenu(tr("Daten&erfassung")), {"actPlay", "actPause", "actStop"});
    add(menuBar()->addMenu(tr("E&xtras")),
        {"actExtrasConfigAction", "", "HaltEventLogAction", "CloseCurrentEventLogAction"});
    add(menuBar()->addMenu(tr("&Hilfe")),
        {"actHelpHelp", "actHelpFirstSteps", "actHelpOpenUserManual", "", "actHelpKestromHomepage",
         "", "actHelpAbout"});

    QToolBar *bar = addToolBar(tr("Werkzeugleiste"));
    bar->setObjectName(QStringLiteral("ToolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(22, 22));
    for (const char *name :
         {"actFileNew", "actFileUseConfigDataBase", "actFileOpen", "actFileSave", "",
          "actEditConfigureBridge", "", "actPlay", "actPause", "actStop", "", "actHelpHelp"}) {
        if (!*name)
            bar->addSeparator();
        else
            bar->addAction(Action(QString::fromLatin1(name)));
    }
    auto *spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    auto *logo = new TClickableLabel(bar);
    logo->setObjectName(QStringLiteral("imgLogo"));
    logo->setPixmap(LogoWithName(28));
    logo->setContentsMargins(0, 0, 6, 0);
    logo->setCursor(Qt::PointingHandCursor);
    logo->setToolTip(tr("Info..."));
    logo->OnClick = [this] { Action(QStringLiteral("actHelpAbout"))->trigger(); };
    bar->addWidget(logo);
}

QWidget *TMainForm::CreateWelcomePage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("WelcomePage"));
    page->setAutoFillBackground(true);
    QPalette palette = page->palette();
    palette.setColor(QPalette::Window, Qt::white);
    page->setPalette(palette);

    auto *heading = new QLabel(tr("Willkommen bei der Kestrom Tidewell"), page);
    heading->setObjectName(QStringLiteral("lblWelcome"));
    QFont font = heading->font();
    font.setPointSize(font.pointSize() + 8);
    font.setBold(true);
    heading->setFont(font);
    auto *subtitle =
        new QLabel(tr("Übertragung von OPC-Daten zu einer beliebigen ADO-Datenbank"), page);
    font = subtitle->font();
    font.setPointSize(font.pointSize() + 2);
    subtitle->setFont(font);
    auto *logo = new QLabel(page);
    logo->setPixmap(LogoMark(96));

    m_FirstSteps = new QGroupBox(tr("Erste Schritte"), page);
    m_FirstSteps->setObjectName(QStringLiteral("grpFirstSteps"));
    auto *steps =
        NewLinkLabel(tr("Noch ist keine Konfiguration geladen. Wählen Sie "
                        "<a href=\"actEditConfigureBridge\">Bridge konfigurieren...</a>, um einen "
                        "OPC-Quellserver und eine Zieldatenbank festzulegen, oder öffnen Sie eine "
                        "gespeicherte Konfiguration.<br><br>Eine Einführung gibt die Hilfe unter "
                        "<a href=\"actHelpFirstSteps\">Erste Schritte</a>."),
                     m_FirstSteps);
    steps->setObjectName(QStringLiteral("lblFirstSteps"));
    steps->setWordWrap(true);
    connect(steps, &QLabel::linkActivated, this, &TMainForm::LinkActivated);
    auto *boxLayout = new QVBoxLayout(m_FirstSteps);
    boxLayout->addWidget(steps);
    m_FirstSteps->setMaximumWidth(560);
    m_FirstSteps->hide();

    auto *text = new QVBoxLayout;
    text->addWidget(heading);
    text->addWidget(subtitle);
    auto *top = new QHBoxLayout;
    top->addWidget(logo);
    top->addSpacing(16);
    top->addLayout(text, 1);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(32, 28, 32, 16);
    layout->addLayout(top);
    layout->addSpacing(24);
    layout->addWidget(m_FirstSteps);
    layout->addStretch();
    return page;
}

QWidget *TMainForm::CreateWaitPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("pnlWaitForLoad"));
    auto *first = new QLabel(tr("OPC Umgebung wird initialisiert..."), panel);
    auto *second = new QLabel(tr("Bitte haben Sie etwas Geduld..."), panel);
    QFont bold = first->font();
    bold.setBold(true);
    for (QLabel *label : {first, second}) {
        label->setFont(bold);
        label->setAlignment(Qt::AlignCenter);
    }
    auto *layout = new QVBoxLayout(panel);
    layout->addStretch();
    layout->addWidget(first);
    layout->addSpacing(12);
    layout->addWidget(second);
    layout->addStretch();
    return panel;
}

QWidget *TMainForm::CreateRunTimePage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("RunTimePage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    // Label pairs in a grid: caption, value label with the given objectName.
    auto addField = [this](QGridLayout *grid, int row, int column, const QString &caption,
                           const QString &name, bool link = false) {
        auto *title = new QLabel(caption, grid->parentWidget());
        auto *value =
            link ? NewLinkLabel(QString(), grid->parentWidget()) : new QLabel(grid->parentWidget());
        value->setObjectName(name);
        value->setTextInteractionFlags(value->textInteractionFlags() | Qt::TextSelectableByMouse);
        if (link)
            connect(value, &QLabel::linkActivated, this, &TMainForm::LinkActivated);
        grid->addWidget(title, row, column);
        grid->addWidget(value, row, column + 1);
        m_Fields.insert(name, value);
        return value;
    };

    m_ServerPanel =
        new TSectionPanel(QStringLiteral("pnlRemoteServer"), tr("OPC-Quellserver"), 169, 0, page);
    auto *grid = new QGridLayout(m_ServerPanel->Body());
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(8);
    addField(grid, 0, 0, tr("Status:"), QStringLiteral("lblOPCStatus"));
    addField(grid, 1, 0, tr("Name:"), QStringLiteral("lblOPCName"));
    addField(grid, 2, 0, tr("ID:"), QStringLiteral("lblOPCID"));
    addField(grid, 3, 0, tr("Computer:"), QStringLiteral("lblOPCComputer"));
    addField(grid, 4, 0, tr("Letzte Aktualisierung:"), QStringLiteral("lblOPCLastUpdate"));
    addField(grid, 5, 0, tr("Aktualisierungsintervall:"), QStringLiteral("lblOPCUpdateRate"), true);
    addField(grid, 0, 2, tr("Version:"), QStringLiteral("lblOPCVersion"));
    addField(grid, 1, 2, tr("Herstellerinformationen:"), QStringLiteral("lblOPCVendorInfo"));
    addField(grid, 2, 2, tr("Aktiv seit:"), QStringLiteral("lblOPCStartTime"));
    addField(grid, 3, 2, tr("Aktuelle Serverzeit:"), QStringLiteral("lblOPCCurrentTime"));
    addField(grid, 4, 2, tr("Letzte Ausführungszeit:"), QStringLiteral("lblOPCExecutionTime"));
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(6, 1);
    m_Fields.value(QStringLiteral("lblOPCVendorInfo"))->setWordWrap(true);

    m_DataBasePanel =
        new TSectionPanel(QStringLiteral("pnlDatabase"), tr("ADO-Zieldatenbank"), 144, 0, page);
    grid = new QGridLayout(m_DataBasePanel->Body());
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(8);
    addField(grid, 0, 0, tr("Status:"), QStringLiteral("lblDBStatus"));
    addField(grid, 1, 0, tr("Verbindung:"), QStringLiteral("lblDBConnection"));
    addField(grid, 2, 0, tr("Verbunden seit:"), QStringLiteral("lblDBConnectTime"));
    addField(grid, 3, 0, tr("Letzte Datenspeicherung:"), QStringLiteral("lblDBLastWrite"));
    addField(grid, 4, 0, tr("Letzte Ausführungszeit:"), QStringLiteral("lblDBExecutionTime"));
    addField(grid, 5, 0, tr("Erzwungene Datenspeicherung in:"), QStringLiteral("lblDBForcedWrite"),
             true);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(6, 1);
    m_Fields.value(QStringLiteral("lblDBConnection"))->setWordWrap(true);

    m_ValuesPanel =
        new TSectionPanel(QStringLiteral("pnlCurrentValues"), tr("Aktuelle Werte"), 0, 150, page);
    auto *autoSize = NewLinkLabel(
        QStringLiteral("<a href=\"actAutoSizeColumns\">%1</a>").arg(tr("Spaltenbreiten anpassen")),
        m_ValuesPanel);
    autoSize->setObjectName(QStringLiteral("lblAutoSizeColumns"));
    connect(autoSize, &QLabel::linkActivated, this, &TMainForm::LinkActivated);
    m_ValuesPanel->AddHeaderWidget(autoSize);
    m_CurrentValues = new TCurrentValuesModel(this);
    m_DataCacheTable = new QTreeView(m_ValuesPanel->Body());
    m_DataCacheTable->setObjectName(QStringLiteral("DataCacheTable"));
    m_DataCacheTable->setModel(m_CurrentValues);
    m_DataCacheTable->setRootIsDecorated(false);
    m_DataCacheTable->setUniformRowHeights(true);
    m_DataCacheTable->setAlternatingRowColors(true);
    m_DataCacheTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DataCacheTable->header()->setStretchLastSection(false);
    m_DataCacheTable->header()->setSectionsMovable(false);
    const int widths[CurrentValueColumnCount] = {110, 120, 70, 95, 110, 60, 120, 90, 90, 90, 100};
    for (int i = 0; i < CurrentValueColumnCount; ++i)
        m_DataCacheTable->header()->resizeSection(i, widths[i]);
    auto *valuesLayout = new QVBoxLayout(m_ValuesPanel->Body());
    valuesLayout->setContentsMargins(0, 0, 0, 0);
    valuesLayout->addWidget(m_DataCacheTable);

    auto *rest = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_ValuesPanel->OnToggled = [rest, layout, this] {
        rest->changeSize(0, 0, QSizePolicy::Minimum,
                         m_ValuesPanel->Expanded() ? QSizePolicy::Fixed : QSizePolicy::Expanding);
        layout->invalidate();
    };
    m_ServerPanel->OnToggled = m_DataBasePanel->OnToggled = [this] { UpdateActions(); };
    layout->addWidget(m_ServerPanel);
    layout->addWidget(m_DataBasePanel);
    layout->addWidget(m_ValuesPanel, 1);
    layout->addItem(rest);
    return page;
}

QWidget *TMainForm::CreateEventLogPanel()
{
    m_EventPanel =
        new TSectionPanel(QStringLiteral("pnlEventLog"), tr("Ereignisprotokoll"), 0, 105, this);
    m_EventLogGrid = new QTableWidget(1, 4, m_EventPanel->Body());
    m_EventLogGrid->setObjectName(QStringLiteral("EventLogGrid"));
    m_EventLogGrid->setHorizontalHeaderLabels(
        {QString(), tr("Zeit"), tr("Meldung"), tr("Erzeugt von")});
    m_EventLogGrid->verticalHeader()->hide();
    m_EventLogGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_EventLogGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_EventLogGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_EventLogGrid->setWordWrap(true);
    m_EventLogGrid->setIconSize(QSize(16, 16));
    QHeaderView *header = m_EventLogGrid->horizontalHeader();
    header->setMinimumSectionSize(20);
    header->resizeSection(EventImageColumn, 20);
    // Wide enough for the full time stamp in whatever font the desktop uses.
    header->resizeSection(EventTimeColumn,
                          std::max(135, m_EventLogGrid->fontMetrics().horizontalAdvance(
                                            QStringLiteral("2026-12-11 00:00:00,000")) +
                                            12));
    header->resizeSection(EventMessageColumn, 585);
    header->resizeSection(EventSenderColumn, 120);
    header->setSectionResizeMode(EventImageColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(EventMessageColumn, QHeaderView::Stretch);
    m_EventLogGrid->verticalHeader()->setDefaultSectionSize(20);
    m_EventLogGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    m_EventLogGrid->addAction(Action(QStringLiteral("actEditCopyCurrentEvent")));
    connect(m_EventLogGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        UpdateActions();
        QMenu menu(this);
        menu.addAction(Action(QStringLiteral("CloseCurrentEventLogAction")));
        menu.addAction(Action(QStringLiteral("HaltEventLogAction")));
        menu.exec(m_EventLogGrid->viewport()->mapToGlobal(at));
    });
    connect(m_EventLogGrid, &QTableWidget::itemSelectionChanged, this, &TMainForm::UpdateActions);
    auto *layout = new QVBoxLayout(m_EventPanel->Body());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_EventLogGrid);

    m_EventPanel->OnToggled = [this] {
        const bool expanded = m_EventPanel->Expanded();
        if (m_Splitter->count() > 1)
            m_Splitter->handle(1)->setVisible(expanded);
        if (expanded)
            m_Splitter->setSizes({m_Splitter->height() - 160, 160});
        UpdateActions();
    };
    return m_EventPanel;
}

void TMainForm::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    m_StatusText = new QLabel(bar);
    m_StatusText->setObjectName(QStringLiteral("stbStatusText"));
    m_StatusText->setMinimumWidth(200);
    bar->addWidget(m_StatusText, 1);
    auto *document = new QWidget(bar);
    document->setObjectName(QStringLiteral("stbDocument"));
    document->setFixedWidth(250);
    m_DocumentImage = new QLabel(document);
    m_DocumentImage->setFixedSize(16, 16);
    m_DocumentText = new QLabel(document);
    m_DocumentText->setObjectName(QStringLiteral("stbDocumentText"));
    auto *layout = new QHBoxLayout(document);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->addWidget(m_DocumentImage);
    layout->addWidget(m_DocumentText, 1);
    bar->addPermanentWidget(document);
}

void TMainForm::LinkActivated(const QString &link)
{
    RunActionByName(link);
}

// Display

void TMainForm::RefreshDisplay()
{
    RefreshSourceServerPanel();
    RefreshDataBasePanel();
    RefreshPage();
    RefreshCurrentValuesNow();
    UpdateCaption();
    RefreshStatusBar();
    UpdateActions();
}

void TMainForm::RefreshSourceServerPanel()
{
    const TTDWDocument &document = m_Control->Document();
    const TSourceServerPanel panel =
        DescribeSourceServer(document.OPCBridge(), m_Control->State(), m_Control->LastCallbackTime,
                             &TRuntimeControl::CounterMs);
    m_ServerStatus = panel.Status.Text;
    auto set = [this](const char *name, const QString &text, const QColor &color = QColor()) {
        QLabel *label = m_Fields.value(QString::fromLatin1(name));
        label->setText(text);
        SetTextColor(label, color);
    };
    set("lblOPCStatus", panel.Status.Text, panel.Status.Color);
    set("lblOPCName", panel.Name);
    set("lblOPCID", panel.ID);
    set("lblOPCComputer", panel.Computer);
    set("lblOPCExecutionTime", panel.ExecutionTime);
    set("lblOPCVersion", panel.Version, panel.FieldColor);
    set("lblOPCVendorInfo", panel.VendorInfo, panel.FieldColor);
    set("lblOPCStartTime", panel.ActiveSince, panel.FieldColor);
    set("lblOPCCurrentTime", panel.ServerTime, panel.FieldColor);
    set("lblOPCLastUpdate", panel.LastUpdate);
    QLabel *rate = m_Fields.value(QStringLiteral("lblOPCUpdateRate"));
    rate->setText(panel.UpdateInterval);
    rate->setVisible(panel.UpdateIntervalVisible);
}

void TMainForm::RefreshDataBasePanel()
{
    const TTDWDocument &document = m_Control->Document();
    const TDataBasePanel panel =
        DescribeDataBase(document.DataBaseBridge(), m_Control->State(), m_Control->NextForcedWrite,
                         m_Control->LastWriteDuration, NowWithTimeZone().Local);
    m_DataBaseStatus = panel.Status.Text;
    auto set = [this](const char *name, const QString &text, const QColor &color = QColor()) {
        QLabel *label = m_Fields.value(QString::fromLatin1(name));
        label->setText(text);
        SetTextColor(label, color);
    };
    set("lblDBStatus", panel.Status.Text, panel.Status.Color);
    set("lblDBConnection", panel.Connection);
    set("lblDBConnectTime", panel.ConnectedSince);
    set("lblDBLastWrite", panel.LastWrite);
    set("lblDBExecutionTime", panel.ExecutionTime);
    set("lblDBForcedWrite", panel.ForcedWrite);
}

void TMainForm::RefreshPage()
{
    if (m_WaitShown)
        m_Pages->setCurrentWidget(m_WaitPanel);
    else
        m_Pages->setCurrentWidget(ShowsRunTimePage(m_Control->Document()) ? m_RunTimePage
                                                                          : m_WelcomePage);
}

bool TMainForm::RunTimePageShown() const
{
    return m_Pages->currentWidget() == m_RunTimePage;
}

bool TMainForm::WaitPanelShown() const
{
    return m_Pages->currentWidget() == m_WaitPanel;
}

void TMainForm::RefreshCurrentValues()
{
    const quint32 now = TickSource();
    if (m_TreeRefreshed && now - m_LastTreeRefresh <= TreeRefreshInterval)
        return;
    RefreshCurrentValuesNow();
}

void TMainForm::RefreshCurrentValuesNow()
{
    m_LastTreeRefresh = TickSource();
    m_TreeRefreshed = true;
    m_CurrentValues->Refresh(*m_DataCache);
}

void TMainForm::UpdateCaption()
{
    const TTDWDocument &document = m_Control->Document();
    setWindowTitle(WindowCaption(Configuration(), document.OPCBridge() ? m_ServerStatus : QString(),
                                 document.DataBaseBridge() ? m_DataBaseStatus : QString()));
}

void TMainForm::RefreshStatusBar()
{
    const TStatusBarDocument panel = DescribeStatusBarDocument(m_Control->Document());
    m_DocumentText->setText(panel.Text);
    m_DocumentImage->setPixmap(panel.Image >= 0 ? DocumentImage(panel.Image) : QPixmap());
}

void TMainForm::UpdateActions()
{
    const TTDWDocument &document = m_Control->Document();
    const TAcquisitionState state = m_Control->State();
    const bool anyBridge = document.OPCBridge() || document.DataBaseBridge();
    const bool bothBridges = document.OPCBridge() && document.DataBaseBridge();
    const bool dropable = !document.IsUntitled() || document.Modified();
    auto enable = [this](const char *name, bool enabled) {
        Action(QString::fromLatin1(name))->setEnabled(enabled);
    };
    enable("actPlay", state != asRunning && anyBridge);
    enable("actPause", state == asRunning && anyBridge);
    enable("actStop", state == asRunning && anyBridge);
    enable("actEditConfigureBridge", state != asStopped && bool(ConfigureBridgeHandler));
    enable("actFileUseConfigDataBase", bool(UseConfigDataBaseHandler));
    enable("actExtrasConfigAction", bool(OptionsHandler));
    enable("actFileNew", dropable);
    enable("actFileClose", dropable);
    enable("actFileSaveAs", dropable);
    enable("actFileSave", document.Modified());
    enable("actEditDBForceWriteIntervall", document.DataBaseBridge() != nullptr);
    enable("actEditOPCUpdateRate",
           document.OPCBridge() && document.OPCBridge()->TransmitterCount() > 0);
    const int row = m_EventLogGrid->currentRow();
    enable("actEditCopyCurrentEvent",
           !m_EventLogGrid->selectedItems().isEmpty() && row >= 0 && row < EventCount());
    enable("CloseCurrentEventLogAction", EventLogger().SaveLog());
    enable("actViewRemoteServer", bothBridges);
    enable("actViewDatabase", bothBridges);
    Action(QStringLiteral("actViewRemoteServer"))
        ->setChecked(bothBridges && m_ServerPanel->Expanded());
    Action(QStringLiteral("actViewDatabase"))
        ->setChecked(bothBridges && m_DataBasePanel->Expanded());
    Action(QStringLiteral("actViewEventLog"))->setChecked(m_EventPanel->Expanded());
}

void TMainForm::AutoSizeColumns()
{
    for (int i = 0; i < CurrentValueColumnCount; ++i)
        m_DataCacheTable->resizeColumnToContents(i);
}

// TRuntimeView

void TMainForm::SetBusyCursor(bool busy)
{
    if (busy) {
        if (m_BusyDepth++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_BusyDepth > 0 && --m_BusyDepth == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void TMainForm::ShowWaitPanel(bool shown)
{
    m_WaitShown = shown;
    RefreshPage();
    // Loading does not return to the event loop, so paint now.
    m_Pages->repaint();
}

void TMainForm::SetStatusText(const QString &text)
{
    m_StatusText->setText(text);
    m_StatusText->repaint();
}

TDialogAnswer TMainForm::Ask(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tidewell"), text, QMessageBox::NoButton,
                    this);
    QPushButton *yes = box.addButton(tr("&Ja"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(tr("&Nein"), QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(tr("Abbrechen"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return TDialogAnswer::Yes;
    if (box.clickedButton() == no)
        return TDialogAnswer::No;
    return TDialogAnswer::Cancel;
}

std::optional<QString> TMainForm::ChooseOpenFile()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Tidewell-Dokument laden"),
                                                      QString(), tr("Tidewell-Dokumente (*.tdw)"));
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> TMainForm::ChooseSaveFile(const QString &preset)
{
    QFileDialog dialog(this, tr("Tidewell-Dokument speichern unter"), QString(),
                       tr("Tidewell-Dokumente (*.tdw)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("tdw"));
    dialog.selectFile(preset);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<int> TMainForm::EditTimeInterval(const QString &header, int value)
{
    return TEditTimeIntervalDlg::Execute(this, header, value);
}

void TMainForm::DocumentStarting(TTDWDocument &document)
{
    if (TOPCClientBridge *opc = document.OPCBridge())
        opc->SetResolveProgress(&m_ResolveProgress);
    if (TADOBridge *db = document.DataBaseBridge())
        db->SetValidationProgress(&m_ValidationProgress);
}

// Event grid

int TMainForm::EventCount() const
{
    return m_EventLogGrid->rowCount() - 1;
}

void TMainForm::DrainEventQueue()
{
    const TEventLogEntryList entries = EventLogger().TakeEntries();
    if (entries.empty())
        return;
    m_EventLogGrid->setUpdatesEnabled(false);
    for (const auto &entry : entries)
        AddEvent(*entry);
    m_EventLogGrid->setUpdatesEnabled(true);
    m_EventLogGrid->scrollToItem(m_EventLogGrid->item(EventCount() - 1, EventTimeColumn));
    UpdateActions();
}

void TMainForm::AddEvent(const TEventLogEntry &entry)
{
    if (EventCount() >= MaxEvents)
        m_EventLogGrid->removeRow(0);
    const int row = EventCount();
    m_EventLogGrid->insertRow(row);
    const TEventImage image = EventImageOf(entry.EventType);
    auto *imageItem = new QTableWidgetItem(EventImageIcon(image), QString());
    imageItem->setData(EventImageRole, int(image));
    m_EventLogGrid->setItem(row, EventImageColumn, imageItem);
    m_EventLogGrid->setItem(row, EventTimeColumn,
                            new QTableWidgetItem(EventTimeText(entry.TimeStamp)));
    m_EventLogGrid->setItem(row, EventMessageColumn, new QTableWidgetItem(entry.Message));
    m_EventLogGrid->setItem(row, EventSenderColumn,
                            new QTableWidgetItem(EventSenderText(entry, m_UIThreadID)));
    m_EventLogGrid->selectRow(row);
    m_EventLogGrid->resizeRowToContents(row);
    if (entry.EventType == etError || entry.EventType == etWarning)
        m_AlertForm->ShowEvent(entry);
}

QString TMainForm::EventText(int row) const
{
    auto text = [this, row](int column) {
        const QTableWidgetItem *item = m_EventLogGrid->item(row, column);
        return item ? item->text() : QString();
    };
    const QTableWidgetItem *image = m_EventLogGrid->item(row, EventImageColumn);
    return EventRowText(text(EventTimeColumn),
                        image ? TEventImage(image->data(EventImageRole).toInt())
                              : TEventImage::None,
                        text(EventMessageColumn), text(EventSenderColumn));
}

void TMainForm::CopyCurrentEvent()
{
    const int row = m_EventLogGrid->currentRow();
    if (row >= 0 && row < EventCount())
        QApplication::clipboard()->setText(EventText(row));
}

bool TMainForm::ExportEventLog(const QString &path) const
{
    QString text;
    for (int row = 0; row < EventCount(); ++row)
        text += EventText(row) + QStringLiteral("\r\n");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(EncodeDocumentText(text));
    return file.commit();
}

void TMainForm::ExportEventLogWithDialog()
{
    QFileDialog dialog(this, tr("Event-Log exportieren"), QString(), tr("Textdatei (*.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (!ExportEventLog(path))
        throw Exception(
            QStringLiteral("Die Datei \"%1\" konnte nicht geschrieben werden.").arg(path));
}

void TMainForm::SetEventLogHalted(bool halted)
{
    if (halted == m_Halted)
        return;
    m_Halted = halted;
    if (halted) {
        EventLogger().Log(etInformation, 3, nullptr,
                          QStringLiteral("Die Ereignisprotokollierung wurde angehalten."));
    } else {
        DrainEventQueue();
        EventLogger().Log(etInformation, 3, nullptr,
                          QStringLiteral("Die Ereignisprotokollierung wurde gestartet."));
    }
    QSignalBlocker block(Action(QStringLiteral("HaltEventLogAction")));
    Action(QStringLiteral("HaltEventLogAction"))->setChecked(halted);
}

void TMainForm::CloseCurrentEventLog()
{
    EventLogger().Log(
        etInformation, 3, this,
        QStringLiteral("Die aktuelle Ereignisprotokolldatei wurde manuell geschlossen."));
    EventLogger().CloseLogFile();
}

void TMainForm::ShowHelp(int context)
{
    Guard([this, context] { m_Help.ShowContext(context); });
}

// Messages, start-up and shut-down

bool TMainForm::event(QEvent *event)
{
    const int message = int(event->type());
    if (message == WM_EVENTLOGNOTIFY) {
        if (!m_Halted)
            Guard([this] { DrainEventQueue(); });
        return true;
    }
    if (message == WM_ALERTCLOSED) {
        UpdateCaption();
        return true;
    }
    if (message == WM_STARTDOCUMENT) {
        auto *start = static_cast<TMessageEvent *>(event);
        HandleStartDocument(reinterpret_cast<TTDWDocument *>(start->LParam()));
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::HandleStartDocument(TTDWDocument *document)
{
    std::unique_ptr<TTDWDocument> owned(document);
    if (m_Splash) {
        m_Splash->raise();
        repaint();
    }
    m_FirstSteps->show();
    // The runtime control logs its own errors; nothing here may stop the hand-over.
    try {
        m_Control->HandleStartDocument(std::move(owned));
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    m_BusyDepth = 0;
    if (m_Splash) {
        m_Splash->SetInfo(tr("Fertig"));
        delete m_Splash.data();
    }
    show();
    RefreshDisplay();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_FirstShow)
        return;
    m_FirstShow = false;
    EventLogger().SetNotifyWindow(this);
    Guard([this] { m_Control->TimerTick(); });
}

void TMainForm::ApplySettings()
{
    const TConfiguration *settings = Configuration();
    if (!settings)
        return;
    if (settings->MainFormWidth > 0 && settings->MainFormHeight > 0)
        setGeometry(settings->MainFormLeft, settings->MainFormTop, settings->MainFormWidth,
                    settings->MainFormHeight);
    if (settings->MainFormState == 2)
        setWindowState(Qt::WindowMaximized);
    else if (settings->MainFormState == 1)
        setWindowState(Qt::WindowMinimized);
    for (int i = 0; i < CurrentValueColumnCount; ++i)
        if (settings->ColumnSizes[std::size_t(i)] >= 0)
            m_DataCacheTable->header()->resizeSection(i, settings->ColumnSizes[std::size_t(i)]);
}

void TMainForm::StoreSettings()
{
    TConfiguration *settings = Configuration();
    if (!settings)
        return;
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    settings->MainFormLeft = normal.left();
    settings->MainFormTop = normal.top();
    settings->MainFormWidth = normal.width();
    settings->MainFormHeight = normal.height();
    settings->MainFormState = isMaximized() ? 2 : isMinimized() ? 1 : 0;
    for (int i = 0; i < CurrentValueColumnCount; ++i)
        settings->ColumnSizes[std::size_t(i)] = m_DataCacheTable->header()->sectionSize(i);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    bool mayClose = false;
    Guard([this, &mayClose] { mayClose = m_Control->CanCloseDocument(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    StoreSettings();
    Guard([this] { m_Control->Shutdown(true); });
    m_Help.CloseAll();
    m_AlertForm->hide();
    event->accept();
}
