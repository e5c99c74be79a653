// Chooser of the format in which frames are written to files (file_mode.h): the entry's index is the
// format index.
#pragma once

#include <QComboBox>

class CComboBoxFileMode : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBoxFileMode(QWidget* parent = nullptr) : QComboBox(parent) {}

    // Appends the seven formats in table order; the owner fills each combo once.
    void fillModes();
    // Flags of the chosen format; 0 without a selection.
    uint32_t selectedFlags() const;
};
