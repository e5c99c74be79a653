#include "file_mode_combo.h"

#include "file_mode.h"

void CComboBoxFileMode::fillModes()
{
    for (int i = 0; i < kFileModeCount; ++i)
        addItem(QString::fromLatin1(fileModeName(i)));
}

uint32_t CComboBoxFileMode::selectedFlags() const { return fileModeFlags(currentIndex()); }
