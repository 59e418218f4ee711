// The about box, which doubles as the splash window of the start-up: in splash mode it is a
// borderless window with one line naming the current start-up step.
#pragma once

#include <QDialog>

class QLabel;

class TAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutDlg(QWidget *parent = nullptr);

    // Splash mode shows lblInfo and hides the close and web links; about mode the reverse.
    void SetSplashMode(bool splash);
    bool SplashMode() const { return m_Splash; }
    // Sets lblInfo and repaints it at once: the start-up does not run the event loop between steps.
    void SetInfo(const QString &text);
    QLabel *lblInfo() const { return m_lblInfo; }

    // The about box, modal.
    static void ShowAbout(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void LinkActivated(const QString &link);

    bool m_Splash = false;
    QLabel *m_lblInfo = nullptr;
    QLabel *m_lblClose = nullptr;
    QLabel *m_lblWeb = nullptr;
};
