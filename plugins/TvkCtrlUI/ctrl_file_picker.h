// The file picker of the device control window's commands, replaceable so that tests choose the file
// without a modal dialog. GUI thread only.
#pragma once

#include <functional>

#include <QString>

class QWidget;

// Returns the chosen path, empty on Cancel. save: the folder must exist and an existing file is asked
// about; else the file must exist. filter: "Name (*.ext);;All files (*)"; ext: the default extension.
using CtrlFilePicker = std::function<QString(QWidget* parent, bool save, const QString& filter, const QString& ext)>;

// The picker in use (the common file dialog unless a test replaced it).
CtrlFilePicker& ctrlFilePicker();
