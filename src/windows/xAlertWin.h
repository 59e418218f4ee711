// The alert window: pops up at the bottom right of the screen for every error or warning of the
// event log and keeps the last of them as pages to turn.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

struct TEventLogEntry;
class QLabel;
class QPushButton;

class TAlertForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxHistory = 10;

    // Created hidden, placed at the bottom right of the work area of its screen.
    explicit TAlertForm(QWidget *parent = nullptr);

    // Receives WM_ALERTCLOSED whenever the window closes (the main window).
    void SetMainWindow(QObject *mainWindow) { m_MainWindow = mainWindow; }

    // Shows errors and warnings (etError, etWarning) as a new newest page and brings the window
    // to the front; every other type is ignored.
    void ShowEvent(const TEventLogEntry &event);
    // Page i (0 = newest) of the history; Exception "Index ausserhalb des zulässigen Bereichs"
    // when there is no such page.
    void ShowPage(int i);

    // The pages as HTML, newest first; the oldest is the overflow notice once entries were dropped.
    const QStringList &History() const { return m_History; }
    bool Overflow() const { return m_Overflow; }
    int CurrentPage() const { return m_CurrentPage; }
    const QString &LastMessage() const { return m_LastMessage; }

    // The notice that replaces the oldest page when the history overflows.
    static QString OverflowNotice();
    // The page text as a rich-text label shows it: the pictures as embedded images and each
    // <IND x="n"> as a column starting n pixels from the left.
    static QString DisplayHtml(const QString &page);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void AddPage(const QString &page);
    void UpdateButtons();
    void PlaceAtWorkAreaCorner();

    QStringList m_History;
    bool m_Overflow = false;
    int m_CurrentPage = 0;
    QString m_LastMessage;
    QPointer<QObject> m_MainWindow;

    QLabel *m_lblMessage = nullptr;
    QLabel *m_lblPage = nullptr;
    QPushButton *m_btnOlder = nullptr;
    QPushButton *m_btnNewer = nullptr;
    QPushButton *m_btnClose = nullptr;
};
