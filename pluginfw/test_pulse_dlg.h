// The test-pulse parameters dialog: pulse height, period, number of pulses and spacing of one device,
// checked against the device's limits. The caller sets pars.devId and the values (period in seconds), runs
// DoModal and, on MSGBOX_IDOK, reads the values back; on Cancel they are the caller's own again. A device
// whose description cannot be read gets a box saying so and the answer Cancel. GUI thread only.
#pragma once

#include <QDialog>

#include "test_pulse_pars.h"

class CSmartEdit;
class QLabel;

class CTestPulsesParsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTestPulsesParsDlg(QWidget* parent = nullptr);

    // prepare, then the dialog: MSGBOX_IDOK or MSGBOX_IDCANCEL.
    int DoModal();
    // Reads the device's limits and fills the labels and fields; false (box shown, values the caller's)
    // when the device's description cannot be read.
    bool prepare();

    // The device, the values and the limits (test_pulse_pars.h).
    TestPulseParsModel pars;

    // The checks in the order period, count, spacing, height: the first failing field shows its message
    // and gets the focus, and the dialog stays open; otherwise the values are taken and the dialog closes.
    void OnOK();

    CSmartEdit* heightEdit() const { return heightEdit_; }
    CSmartEdit* periodEdit() const { return periodEdit_; }
    CSmartEdit* countEdit() const { return countEdit_; }
    CSmartEdit* spacingEdit() const { return spacingEdit_; }
    QLabel* heightLabelCtrl() const { return heightLabel_; }
    QLabel* periodLabelCtrl() const { return periodLabel_; }
    QLabel* countLabelCtrl() const { return countLabel_; }

protected:
    void accept() override { OnOK(); }

    void done(int result) override;

private:
    void showValues();

    TestPulseParsModel callers_; // the values as the caller set them, for Cancel

    CSmartEdit* heightEdit_;
    CSmartEdit* periodEdit_;
    CSmartEdit* countEdit_;
    CSmartEdit* spacingEdit_;
    QLabel* heightLabel_;
    QLabel* periodLabel_;
    QLabel* countLabel_;
};
