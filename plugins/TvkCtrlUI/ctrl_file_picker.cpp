#include "ctrl_file_picker.h"

#include <QFileDialog>

CtrlFilePicker& ctrlFilePicker()
{
    static CtrlFilePicker picker = [](QWidget* parent, bool save, const QString& filter, const QString& ext) {
        QFileDialog dlg(parent, QString(), QString(), filter);
        dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dlg.setDefaultSuffix(ext);
        return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty() ? dlg.selectedFiles().front()
                                                                                  : QString();
    };
    return picker;
}
