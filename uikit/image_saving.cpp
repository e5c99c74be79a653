// Saving pictures and plots as image files.
#include "image_saving.h"

#include <QBuffer>
#include <QFileDialog>
#include <QImageWriter>

#include "gif_writer.h"
#include "image_encoders.h"
#include "platform/file_write.h"
#include "pluginfw/tvk_utils.h"

namespace {

// The image filters, their default extensions and names, 1-based as the remembered index counts them.
struct ImageFilter {
    const char* text;
    const char* suffix;
    const char* name;
};
const ImageFilter kImageFilters[] = {
    {"PNG Portable Network Graphics (*.png)", "png", "*.png"},
    {"SVG Scalable Vector Graphics (*.svg)", "svg", "*.svg"},
    {"BMP Windows Bitmap (*.bmp)", "bmp", "*.bmp"},
    {"TIFF Tagged Image File Format (*.tif *.tiff)", "tif", "*.tif"},
    {"GIF CompuServe Graphics Interchange (*.gif)", "gif", "*.gif"},
    {"JPG JPEG (*.jpg *.jpeg *.jpe *.jfif)", "jpg", "*.jpg"},
    {"ASCII text files (*.txt)", "txt", "*.txt"},
    {"All files (*.*)", "", "*.*"},
};
const ImageFilter kDataFilters[] = {
    {"ASCII matrix (*.txt)", "txt", "*.txt"},  {"ASCII [X,C] (*.txt)", "txt", "*.txt"},
    {"ASCII [X,Y,C] (*.txt)", "txt", "*.txt"}, {"Binary matrix (*.bin)", "bin", "*.bin"},
    {"Binary [X,C] (*.bin)", "bin", "*.bin"},  {"Binary [X,Y,C] (*.bin)", "bin", "*.bin"},
    {"All files (*.*)", "", "*.*"},
};
const uint32_t kDataFlags[] = {2, 0x2002, 0x1002, 1, 0x2001, 0x1001, 2};

// Remembered per library that links this code (each plug-in has its own), GUI thread only.
int imageFilterIndex = 1;
int dataFilterIndex = 1;

SaveDialogHandler& dialogHandler()
{
    static SaveDialogHandler handler;
    return handler;
}

template <size_t N>
bool runDialog(QWidget* parent, const ImageFilter (&filters)[N], int& index, QString& path)
{
    SaveDialogRequest request;
    for (const ImageFilter& f : filters)
        request.filters << QString::fromLatin1(f.text);
    if (index < 1 || index > int(N))
        index = 1;
    request.selected = index;
    request.defaultSuffix = QString::fromLatin1(filters[index - 1].suffix);
    request.defaultName = QString::fromLatin1(filters[index - 1].name);

    QString chosenPath;
    int chosen = index;
    if (dialogHandler()) {
        if (!dialogHandler()(request, chosenPath, chosen))
            return false;
    } else {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile); // the folder must exist; an existing file is asked about
        dialog.setNameFilters(request.filters);
        dialog.selectNameFilter(request.filters[index - 1]);
        dialog.setDefaultSuffix(request.defaultSuffix);
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &request, &filters](const QString& f) {
            const qsizetype i = request.filters.indexOf(f);
            if (i >= 0)
                dialog.setDefaultSuffix(QString::fromLatin1(filters[i].suffix));
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        chosenPath = dialog.selectedFiles().front();
        chosen = int(request.filters.indexOf(dialog.selectedNameFilter())) + 1;
    }
    if (chosenPath.isEmpty())
        return false;
    if (chosen >= 1 && chosen <= int(N))
        index = chosen;
    path = chosenPath;
    return true;
}

} // namespace

SaveDialogHandler setSaveDialogHandler(SaveDialogHandler handler)
{
    SaveDialogHandler old = std::move(dialogHandler());
    dialogHandler() = std::move(handler);
    return old;
}

int getSaveImagePath(QWidget* parent, QString& path)
{
    return runDialog(parent, kImageFilters, imageFilterIndex, path) ? 0 : 1;
}

int getSaveDataPath(QWidget* parent, QString& path, uint32_t& flags)
{
    if (!runDialog(parent, kDataFilters, dataFilterIndex, path))
        return 1;
    flags = kDataFlags[dataFilterIndex - 1];
    return 0;
}

int saveBitmapFile(const char* path, const QImage& image)
{
    const int index = findImageEncoder(getFileExtension(path));
    if (index < 0)
        return -2;
    const QByteArray writer(imageEncoderAt(index)->writer);
    QByteArray bytes;
    if (writer == "gif") {
        if (image.isNull() || !encodeGif(image, bytes))
            return -1;
    } else {
        if (!QImageWriter::supportedImageFormats().contains(writer))
            return -2; // a known format without its writer: never a file of another kind under its name
        if (image.isNull())
            return -1;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter out(&buffer, writer);
        if (!out.write(image))
            return -1;
    }
    return plat::replaceFile(path, bytes.constData(), static_cast<size_t>(bytes.size())) == 0 ? 0 : -1;
}
