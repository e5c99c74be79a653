#include "test_pulse_dlg.h"

#include <climits>

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "plugin_table.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

CTestPulsesParsDlg::CTestPulsesParsDlg(QWidget* parent)
    : QDialog(parent), heightEdit_(new CSmartEdit(this)), periodEdit_(new CSmartEdit(this)),
      countEdit_(new CSmartEdit(this)), spacingEdit_(new CSmartEdit(this)),
      heightLabel_(new QLabel(QStringLiteral("Pulse height:"), this)),
      periodLabel_(new QLabel(QStringLiteral("Pulse period:"), this)),
      countLabel_(new QLabel(QStringLiteral("Number of pulses:"), this))
{
    setWindowTitle(QStringLiteral("Test pulses parameters"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(heightLabel_, 0, 0);
    grid->addWidget(heightEdit_, 0, 1);
    grid->addWidget(periodLabel_, 1, 0);
    grid->addWidget(periodEdit_, 1, 1);
    grid->addWidget(countLabel_, 2, 0);
    grid->addWidget(countEdit_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Spacing (1 - 32):"), this), 3, 0);
    grid->addWidget(spacingEdit_, 3, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    grid->addWidget(buttons, 4, 0, 1, 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTestPulsesParsDlg::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    heightEdit_->setMode(SmartEditValue::MODE_DOUBLE);
    periodEdit_->setMode(SmartEditValue::MODE_DOUBLE);
    countEdit_->setMode(SmartEditValue::MODE_INT);
    spacingEdit_->setMode(SmartEditValue::MODE_INT);
    spacingEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    // Digits only to type; otherwise unchecked but for what an int holds, so that a caller's negative
    // spacing shows and comes back unchanged.
    spacingEdit_->setDoubleLimits(INT_MIN, INT_MAX);
}

void CTestPulsesParsDlg::showValues()
{
    heightLabel_->setText(QString::fromStdString(pars.heightLabel));
    periodLabel_->setText(QString::fromStdString(pars.periodLabel));
    countLabel_->setText(QString::fromStdString(pars.countLabel));
    heightEdit_->setDoubleLimits(0, pars.maxHeight);
    periodEdit_->setDoubleLimits(0, pars.maxPeriod * 1e6);
    countEdit_->setDoubleLimits(0, pars.maxCount);
    heightEdit_->setText(QString::fromStdString(TestPulseParsModel::fieldText(pars.height)));
    periodEdit_->setText(QString::fromStdString(TestPulseParsModel::fieldText(pars.period)));
    countEdit_->setText(QString::number(pars.count));
    spacingEdit_->setText(QString::number(pars.spacing));
}

bool CTestPulsesParsDlg::prepare()
{
    callers_ = pars;
    const int rc = pars.init(pluginTable());
    if (rc != 0) {
        messageBox(parentWidget(), QString::fromStdString(pars.errorText(rc)), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        pars = callers_;
        return false;
    }
    showValues();
    return true;
}

int CTestPulsesParsDlg::DoModal()
{
    if (!prepare())
        return MSGBOX_IDCANCEL;
    return exec() == QDialog::Accepted ? MSGBOX_IDOK : MSGBOX_IDCANCEL;
}

void CTestPulsesParsDlg::done(int result)
{
    if (result != QDialog::Accepted)
        pars = callers_;
    QDialog::done(result);
}

void CTestPulsesParsDlg::OnOK()
{
    for (CSmartEdit* edit : {periodEdit_, countEdit_, spacingEdit_, heightEdit_})
        if (!edit->validate())
            return;
    pars.period = periodEdit_->doubleValue();
    pars.count = static_cast<uint32_t>(countEdit_->intValue());
    pars.spacing = static_cast<int>(spacingEdit_->intValue());
    pars.height = heightEdit_->doubleValue();
    pars.finish();
    done(QDialog::Accepted);
}
