#include "windows/xAlertWin.h"

#include "eventlog/xEventLog.h"
#include "platform/system/DateTime.h"
#include "platform/system/Exception.h"
#include "platform/system/WindowMessages.h"
#include "settings/xCommon.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// 0x663300 and 14141882 in the blue-green-red order of the original colour values.
const QColor BorderColor(0x00, 0x33, 0x66);
const QColor GradientEndColor(0xBA, 0xC9, 0xD7);
constexpr int BorderWidth = 2;
constexpr int ShadowWidth = 3;
constexpr int PictureSize = 16;

// The frame around the whole content: a dark blue border with a shadow at the right and bottom.
class TAlertPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect panel = rect().adjusted(0, 0, -ShadowWidth, -ShadowWidth);
        painter.fillRect(panel.translated(ShadowWidth, ShadowWidth), QColor(0, 0, 0, 70));
        painter.fillRect(panel, BorderColor);
    }
};

// The message area's background: a vertical gradient from the window colour.
class TGradientPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QLinearGradient gradient(rect().topLeft(), rect().bottomLeft());
        gradient.setColorAt(0, palette().color(QPalette::Window));
        gradient.setColorAt(1, GradientEndColor);
        painter.fillRect(rect(), gradient);
    }
};

// The named pictures of the pages as data URLs, which a rich-text label loads by itself.
QString PictureUrl(const QString &name)
{
    static QHash<QString, QString> urls;
    const auto found = urls.constFind(name);
    if (found != urls.constEnd())
        return *found;
    QStyle::StandardPixmap pixmap = QStyle::SP_MessageBoxInformation;
    if (name == QLatin1String("error"))
        pixmap = QStyle::SP_MessageBoxCritical;
    else if (name == QLatin1String("warning"))
        pixmap = QStyle::SP_MessageBoxWarning;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QApplication::style()
        ->standardIcon(pixmap)
        .pixmap(PictureSize, PictureSize)
        .save(&buffer, "PNG");
    const QString url =
        QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
    urls.insert(name, url);
    return url;
}

} // namespace

TAlertForm::TAlertForm(QWidget *parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("AlertForm"));
    setWindowTitle(tr("Kestrom Tidewell"));
    resize(356, 213);

    auto *pnlMain = new TAlertPanel(this);
    pnlMain->setObjectName(QStringLiteral("pnlMain"));
    auto *pnlMessage = new TGradientPanel(pnlMain);
    pnlMessage->setObjectName(QStringLiteral("pnlMessage"));

    m_lblMessage = new QLabel(pnlMessage);
    m_lblMessage->setObjectName(QStringLiteral("lblMessage"));
    m_lblMessage->setTextFormat(Qt::RichText);
    m_lblMessage->setWordWrap(true);
    m_lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long message can still be read in full.
    auto *scroll = new QScrollArea(pnlMessage);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(m_lblMessage);
    m_lblMessage->setAutoFillBackground(false);
    auto *messageLayout = new QVBoxLayout(pnlMessage);
    messageLayout->setContentsMargins(8, 8, 8, 8);
    messageLayout->addWidget(scroll);

    auto *pnlButtons = new QWidget(pnlMain);
    pnlButtons->setObjectName(QStringLiteral("pnlButtons"));
    pnlButtons->setFixedHeight(24);
    pnlButtons->setAutoFillBackground(true);
    m_btnOlder = new QPushButton(tr("Ältere"), pnlButtons);
    m_btnOlder->setObjectName(QStringLiteral("btnOlder"));
    m_btnOlder->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    m_btnOlder->setLayoutDirection(Qt::RightToLeft); // the picture on the right
    m_lblPage = new QLabel(pnlButtons);
    m_lblPage->setObjectName(QStringLiteral("lblPage"));
    m_lblPage->setAlignment(Qt::AlignCenter);
    m_lblPage->setMinimumWidth(40);
    m_btnNewer = new QPushButton(tr("Neuere"), pnlButtons);
    m_btnNewer->setObjectName(QStringLiteral("btnNewer"));
    m_btnNewer->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    m_btnNewer->setEnabled(false);
    m_btnClose = new QPushButton(tr("Schließen"), pnlButtons);
    m_btnClose->setObjectName(QStringLiteral("btnClose"));
    for (QPushButton *button : {m_btnOlder, m_btnNewer, m_btnClose}) {
        button->setFixedHeight(22);
        button->setFocusPolicy(Qt::TabFocus);
    }
    auto *buttonLayout = new QHBoxLayout(pnlButtons);
    buttonLayout->setContentsMargins(2, 1, 2, 1);
    buttonLayout->setSpacing(4);
    buttonLayout->addWidget(m_btnOlder);
    buttonLayout->addWidget(m_lblPage);
    buttonLayout->addWidget(m_btnNewer);
    buttonLayout->addStretch(1);
    buttonLayout->addWidget(m_btnClose);

    auto *panelLayout = new QVBoxLayout(pnlMain);
    panelLayout->setContentsMargins(BorderWidth, BorderWidth, BorderWidth + ShadowWidth,
                                    BorderWidth + ShadowWidth);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(pnlMessage, 1);
    panelLayout->addWidget(pnlButtons);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pnlMain);

    connect(m_btnNewer, &QPushButton::clicked, this, [this] {
        if (m_CurrentPage > 0)
            ShowPage(m_CurrentPage - 1);
    });
    connect(m_btnOlder, &QPushButton::clicked, this, [this] {
        if (m_CurrentPage + 1 < m_History.size())
            ShowPage(m_CurrentPage + 1);
    });
    connect(m_btnClose, &QPushButton::clicked, this, &QWidget::close);

    PlaceAtWorkAreaCorner();
}

void TAlertForm::PlaceAtWorkAreaCorner()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    const QRect workArea = screen->availableGeometry();
    move(workArea.right() + 1 - frameGeometry().width(),
         workArea.bottom() + 1 - frameGeometry().height());
}

QString TAlertForm::OverflowNotice()
{
    return QStringLiteral("<img src=\"info\"><font size=\"4\">") + tr("Information") +
           QStringLiteral("</font><hr><br>") +
           tr("Bitte beachten Sie, dass weitere Ereignisse im Ereignisprotokoll registriert "
              "wurden.");
}

void TAlertForm::ShowEvent(const TEventLogEntry &event)
{
    QString page;
    if (event.EventType == etError)
        page = QStringLiteral("<img src=\"error\"><font size=\"4\"> ") + tr("Fehler") +
               QStringLiteral("</font><hr><br>");
    else if (event.EventType == etWarning)
        page = QStringLiteral("<img src=\"warning\"><font size=\"4\"> ") + tr("Warnung") +
               QStringLiteral("</font><hr><br>");
    else
        return;
    const QString indent = QStringLiteral("<IND x=\"90\">");
    page += QStringLiteral("<b>") + tr("Erzeugt um") + QStringLiteral(": </b>") + indent +
            FormatDateTime(QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz"), event.TimeStamp) +
            QStringLiteral("<br>");
    if (AppInfo().DebugEnabled && !event.SenderName.isEmpty())
        page += QStringLiteral("<b>") + tr("Erzeugt von") + QStringLiteral(": </b>") + indent +
                event.SenderName.toHtmlEscaped() + QStringLiteral("<br>");
    // Messages are plain text: a "<" or "&" in them must show, not start markup.
    page += QStringLiteral("<br>") + event.Message.toHtmlEscaped() + QStringLiteral("<br><br>");
    m_LastMessage = event.Message;
    AddPage(page);
    ShowPage(0);
    show();
    raise();
}

void TAlertForm::AddPage(const QString &page)
{
    m_History.prepend(page);
    if (m_History.size() > MaxHistory) {
        while (m_History.size() > MaxHistory)
            m_History.removeLast();
        m_Overflow = true;
        m_History.last() = OverflowNotice();
    }
}

void TAlertForm::ShowPage(int i)
{
    if (i < 0 || i >= MaxHistory || i >= m_History.size())
        throw Exception(QStringLiteral("Index ausserhalb des zulässigen Bereichs"));
    m_CurrentPage = i;
    m_lblMessage->setText(DisplayHtml(m_History.at(i)));
    const QString indicator = QString::asprintf("%d/%d", i + 1, int(m_History.size()));
    m_lblPage->setText(indicator);
    m_lblPage->setToolTip(indicator);
    UpdateButtons();
}

void TAlertForm::UpdateButtons()
{
    m_btnNewer->setEnabled(m_CurrentPage > 0);
    m_btnOlder->setEnabled(m_CurrentPage + 1 < m_History.size());
}

void TAlertForm::closeEvent(QCloseEvent *event)
{
    m_History.clear();
    m_Overflow = false;
    m_CurrentPage = 0;
    UpdateButtons();
    PostMessage(m_MainWindow.data(), WM_ALERTCLOSED);
    event->accept();
}

QString TAlertForm::DisplayHtml(const QString &page)
{
    static const QRegularExpression indent(QStringLiteral("<IND x=\"(\\d+)\">"));
    QString html = page;
    for (const QString &name :
         {QStringLiteral("error"), QStringLiteral("warning"), QStringLiteral("info")})
        html.replace(QStringLiteral("<img src=\"%1\">").arg(name),
                     QStringLiteral("<img src=\"%1\" style=\"vertical-align: middle\">")
                         .arg(PictureUrl(name)));
    // Every line becomes a block of its own, so that empty lines keep their height next to the
    // tables: a line "label<IND x="n">value" becomes a row whose value column starts n pixels
    // from the left. A line ending in a rule is a block already.
    QStringList lines = html.split(QStringLiteral("<br>"));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QString result;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = indent.match(line);
        if (match.hasMatch())
            result += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"0\"><tr>"
                                     "<td width=\"%1\">%2</td><td>%3</td></tr></table>")
                          .arg(match.captured(1), line.left(match.capturedStart()),
                               line.mid(match.capturedEnd()));
        else if (line.endsWith(QLatin1String("<hr>")))
            result += line;
        else
            result += QStringLiteral("<p style=\"margin: 0\">%1</p>")
                          .arg(line.isEmpty() ? QStringLiteral("&nbsp;") : line);
    }
    return result;
}
