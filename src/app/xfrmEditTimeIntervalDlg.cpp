#include "app/xfrmEditTimeIntervalDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

TEditTimeIntervalDlg::TEditTimeIntervalDlg(const QString &header, int value, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("EditTimeIntervalDlg"));
    setWindowTitle(tr("Zeitintervall editieren"));

    m_lblHeader = new QLabel(header, this);
    m_lblHeader->setObjectName(QStringLiteral("lblHeader"));
    QFont bold = m_lblHeader->font();
    bold.setBold(true);
    m_lblHeader->setFont(bold);

    m_cbxInterval = new QComboBox(this);
    m_cbxInterval->setObjectName(QStringLiteral("cbxInterval"));
    m_cbxInterval->setEditable(true);
    m_cbxInterval->setInsertPolicy(QComboBox::NoInsert);
    for (int preset : Presets)
        m_cbxInterval->addItem(QString::number(preset));
    QLineEdit *edit = m_cbxInterval->lineEdit();
    edit->setMaxLength(MaxDigits);
    // The key filter refuses typed characters; the validator also keeps pasted text to digits.
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(MaxDigits)), edit));
    edit->installEventFilter(this);
    m_cbxInterval->setEditText(QString::number(value));
    connect(m_cbxInterval, &QComboBox::editTextChanged, this, &TEditTimeIntervalDlg::UpdateOK);

    auto *unit = new QLabel(tr("Millisekunden"), this);

    m_btnOK = new QPushButton(tr("OK"), this);
    m_btnOK->setObjectName(QStringLiteral("btnOK"));
    m_btnOK->setDefault(true);
    auto *cancel = new QPushButton(tr("Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(m_btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(m_cbxInterval, 1);
    row->addWidget(unit);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnOK);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblHeader);
    layout->addLayout(row);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setMinimumWidth(320);
    UpdateOK();
}

std::optional<int> TEditTimeIntervalDlg::Value() const
{
    bool ok = false;
    const int value = m_cbxInterval->currentText().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

bool TEditTimeIntervalDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        // Keys without text (cursor keys, Return, shortcuts) pass; of typed characters only
        // digits and backspace do.
        const bool typed = !text.isEmpty() && text.at(0).isPrint() &&
                           !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (typed && !(text.size() == 1 && text.at(0) >= u'0' && text.at(0) <= u'9')) {
            ++m_RefusedKeys;
            QApplication::beep();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TEditTimeIntervalDlg::UpdateOK()
{
    m_btnOK->setEnabled(!m_cbxInterval->currentText().isEmpty());
}

std::optional<int> TEditTimeIntervalDlg::Execute(QWidget *parent, const QString &header, int value)
{
    TEditTimeIntervalDlg dialog(header, value, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Value();
}
