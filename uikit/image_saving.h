// Saving pictures and plots as image files: the save dialog with its remembered format, the frame-data
// save dialog, and the writing of an image in the format its extension names (image_encoders.h). Every
// file is written through a temporary file and renamed into place: a failure keeps the old file.
// GUI thread.
#pragma once

#include <cstdint>
#include <functional>

#include <QImage>
#include <QString>
#include <QStringList>

class QWidget;

// What a save dialog is asked to show; a test handler answers it instead of the real dialog.
struct SaveDialogRequest {
    QStringList filters;   // name filters in order ("PNG Portable Network Graphics (*.png)", ...)
    int selected = 1;      // 1-based filter shown first
    QString defaultSuffix; // added to a name typed without extension; empty: none
    QString defaultName;   // "*.png", ...
};
// Returns true for OK with path and the 1-based filter chosen, false for Cancel.
using SaveDialogHandler = std::function<bool(const SaveDialogRequest& request, QString& path, int& chosen)>;
// Replaces the dialog (empty: the real one); returns the previous handler.
SaveDialogHandler setSaveDialogHandler(SaveDialogHandler handler);

// The save-image dialog (PNG, SVG, BMP, TIFF, GIF, JPG, text, all files), opening with the format chosen
// last in this library. 0 and the path when confirmed, 1 when cancelled (nothing remembered).
int getSaveImagePath(QWidget* parent, QString& path);

// The frame-data dialog of the device windows (ASCII and binary matrix and sparse forms): 0 with the
// path and the frame-file save flags of the chosen form, 1 when cancelled.
int getSaveDataPath(QWidget* parent, QString& path, uint32_t& flags);

// Writes image at path in the format of the path's extension: 0 saved; -2 no extension, no format for
// it or no writer for the format; -1 an empty image, one that could not be encoded, or a file not
// written (the old file kept). GIF keeps up to 256 colours exactly and reduces more.
int saveBitmapFile(const char* path, const QImage& image);
