#include "app/xHelp.h"

#include "platform/system/Exception.h"
#include "settings/xCommon.h"

#include <QDesktopServices>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/MainPresentation.h"

// The help pages live in a static library, so their resource must be registered by hand.
static void InitHelpResource()
{
    Q_INIT_RESOURCE(help);
}

QUrl HelpUrl(int context)
{
    const QString topic = HelpTopicOfContext(context);
    return QUrl(QStringLiteral("qrc:/help/") +
                (topic.isEmpty() ? QStringLiteral("index.htm") : topic));
}

THelpWindow::THelpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(tr("Tidewell Hilfe"));
    m_Browser = new QTextBrowser(this);
    m_Browser->setObjectName(QStringLiteral("HelpBrowser"));
    m_Browser->setOpenExternalLinks(true);
    auto *home = new QPushButton(tr("Inhalt"), this);
    connect(home, &QPushButton::clicked, this, [this] { ShowPage(HelpUrl(1)); });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_Browser);
    layout->addWidget(home, 0, Qt::AlignLeft);
    resize(640, 560);
}

bool THelpWindow::ShowPage(const QUrl &url)
{
    if (!QFile::exists(QLatin1Char(':') + url.path()))
        return false;
    m_Browser->setSource(url);
    return true;
}

THelp::THelp()
{
    InitHelpResource();
}

THelp::~THelp()
{
    CloseAll();
}

void THelp::ShowContext(int context)
{
    if (!m_Window) {
        m_Window = new THelpWindow;
        m_Window->setAttribute(Qt::WA_DeleteOnClose);
    }
    const QUrl url = HelpUrl(context);
    if (!m_Window->ShowPage(url))
        throw Exception(
            QStringLiteral("Die Hilfeseite \"%1\" wurde nicht gefunden.").arg(url.fileName()));
    m_Window->show();
    m_Window->raise();
    m_Window->activateWindow();
}

void THelp::CloseAll()
{
    delete m_Window.data();
}

QString UserManualPath()
{
    return AppInfo().ExePath + UserManualFileName;
}

void OpenUserManual()
{
    const QString path = UserManualPath();
    if (!QFile::exists(path))
        throw Exception(
            QStringLiteral("Das Benutzerhandbuch \"%1\" wurde nicht gefunden.").arg(path));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        throw Exception(
            QStringLiteral("Das Benutzerhandbuch \"%1\" konnte nicht geöffnet werden.").arg(path));
}
