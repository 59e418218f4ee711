#include "app/xfrmAbout.h"

#include "app/Artwork.h"
#include "app/xHelp.h"
#include "settings/xCommon.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

TAboutDlg::TAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(tr("Info über Tidewell"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);

    auto *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("imgLogo"));
    logo->setPixmap(LogoWithName(64));

    auto *subtitle =
        new QLabel(tr("Übertragung von OPC-Daten zu einer beliebigen ADO-Datenbank"), this);
    subtitle->setWordWrap(true);
    const TAppInfo &info = AppInfo();
    auto *productVersion = new QLabel(tr("Produktversion: %1").arg(info.ProductVersion), this);
    productVersion->setObjectName(QStringLiteral("lblProductVersion"));
    auto *fileVersion = new QLabel(tr("Dateiversion: %1").arg(info.FileVersion), this);
    fileVersion->setObjectName(QStringLiteral("lblFileVersion"));
    auto *company = new QLabel(QStringLiteral("© %1").arg(info.CompanyName), this);

    m_lblInfo = new QLabel(this);
    m_lblInfo->setObjectName(QStringLiteral("lblInfo"));
    QFont italic = m_lblInfo->font();
    italic.setItalic(true);
    m_lblInfo->setFont(italic);

    m_lblWeb = new QLabel(
        QStringLiteral("<a href=\"web\">%1</a>").arg(tr("Kestrom Website öffnen...")), this);
    m_lblWeb->setObjectName(QStringLiteral("lblWeb"));
    m_lblClose = new QLabel(QStringLiteral("<a href=\"close\">%1</a>").arg(tr("Schließen")), this);
    m_lblClose->setObjectName(QStringLiteral("lblClose"));
    for (QLabel *link : {m_lblWeb, m_lblClose}) {
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        connect(link, &QLabel::linkActivated, this, &TAboutDlg::LinkActivated);
    }

    auto *links = new QHBoxLayout;
    links->addWidget(m_lblWeb);
    links->addStretch();
    links->addWidget(m_lblClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addWidget(logo);
    layout->addWidget(subtitle);
    layout->addSpacing(12);
    layout->addWidget(productVersion);
    layout->addWidget(fileVersion);
    layout->addWidget(company);
    layout->addSpacing(12);
    layout->addWidget(m_lblInfo);
    layout->addLayout(links);
    setFixedWidth(480);
    SetSplashMode(false);
}

void TAboutDlg::SetSplashMode(bool splash)
{
    m_Splash = splash;
    m_lblInfo->setVisible(splash);
    m_lblClose->setVisible(!splash);
    m_lblWeb->setVisible(!splash);
    if (splash) {
        setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
        adjustSize();
        if (QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    } else {
        setWindowFlags(Qt::Dialog);
    }
}

void TAboutDlg::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // Without a window frame the splash needs its own edge.
    if (m_Splash) {
        QPainter painter(this);
        painter.setPen(QColor(0x0B, 0x3D, 0x6B));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void TAboutDlg::SetInfo(const QString &text)
{
    m_lblInfo->setText(text);
    m_lblInfo->repaint();
}

void TAboutDlg::LinkActivated(const QString &link)
{
    if (link == QLatin1String("close"))
        accept();
    else
        QDesktopServices::openUrl(QUrl(KestromHomepage));
}

void TAboutDlg::ShowAbout(QWidget *parent)
{
    TAboutDlg dialog(parent);
    dialog.exec();
}
