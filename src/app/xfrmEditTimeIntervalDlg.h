// The small dialog that edits a time interval in milliseconds (forced write interval, OPC update
// rate).
#pragma once

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

class TEditTimeIntervalDlg : public QDialog
{
    Q_OBJECT

public:
    // Offered in the combo box.
    static constexpr int Presets[] = {500, 1000, 2000, 5000, 10000, 30000, 60000};
    // Nine digits always fit an int.
    static constexpr int MaxDigits = 9;

    TEditTimeIntervalDlg(const QString &header, int value, QWidget *parent = nullptr);

    // The entered value; nothing while the text is empty.
    std::optional<int> Value() const;
    // Counts refused keys (each also beeps).
    int RefusedKeys() const { return m_RefusedKeys; }

    // Modal; nothing when cancelled.
    static std::optional<int> Execute(QWidget *parent, const QString &header, int value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void UpdateOK();

    QLabel *m_lblHeader = nullptr;
    QComboBox *m_cbxInterval = nullptr;
    QPushButton *m_btnOK = nullptr;
    int m_RefusedKeys = 0;
};
