// The standard error callback of a preview window: shows the preview's last error text in a box.
#pragma once

#include <cstdint>

// Handed to "PrevWndSetErrorCb". When "PrevWndGetLastErr" is bound and returns 0, its text is shown in a
// box with an OK button (from another thread the box is queued to the GUI thread); otherwise nothing.
void prevWndErrorCallback(uint32_t previewId);
