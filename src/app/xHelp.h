// Help: the topics are HTML pages built into the program and shown in a help window; the user
// manual is an HTML file installed beside the executable.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

class QTextBrowser;

inline const QString KestromHomepage = QStringLiteral("https://www.kestrom-software.de/");
inline const QString UserManualFileName = QStringLiteral("Tidewell Users Manual.html");

// The page of a help context: the named topic for 2..9, the start page otherwise.
QUrl HelpUrl(int context);

class THelpWindow : public QWidget
{
    Q_OBJECT

public:
    explicit THelpWindow(QWidget *parent = nullptr);
    // False when the page does not exist.
    bool ShowPage(const QUrl &url);
    QTextBrowser *Browser() const { return m_Browser; }

private:
    QTextBrowser *m_Browser = nullptr;
};

// The program's help: one help window, created on the first request.
class THelp
{
public:
    THelp();
    ~THelp();
    THelp(const THelp &) = delete;
    THelp &operator=(const THelp &) = delete;

    // Shows the page of the context; raises with a German message when it cannot.
    void ShowContext(int context);
    void CloseAll();
    THelpWindow *Window() const { return m_Window.data(); }

private:
    QPointer<THelpWindow> m_Window;
};

// The path of the user manual beside the executable.
QString UserManualPath();
// Opens the user manual in the default viewer; raises with a German message when it cannot.
void OpenUserManual();
