// GIF images through giflib.
#include "gif_writer.h"

#include <gif_lib.h>

#include <unordered_map>
#include <vector>

namespace {

int appendBytes(GifFileType* gif, const GifByteType* data, int size)
{
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), size);
    return size;
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser()
    {
        if (gif)
            EGifCloseFile(gif, nullptr);
    }
};

} // namespace

bool encodeGif(const QImage& source, QByteArray& out)
{
    if (source.isNull() || source.width() > 65535 || source.height() > 65535)
        return false;
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int w = image.width(), h = image.height();
    std::vector<GifByteType> indices(static_cast<size_t>(w) * h);
    std::vector<GifColorType> colors;

    // Exact palette while the image has at most 256 colours.
    std::unordered_map<uint32_t, int> seen;
    bool exact = true;
    for (int y = 0; y < h && exact; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const uint32_t key = (uint32_t(row[3 * x]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x + 2];
            auto it = seen.find(key);
            if (it == seen.end()) {
                if (seen.size() == 256) {
                    exact = false;
                    break;
                }
                it = seen.emplace(key, static_cast<int>(seen.size())).first;
                colors.push_back({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
            }
            indices[static_cast<size_t>(y) * w + x] = static_cast<GifByteType>(it->second);
        }
    }
    if (!exact) {
        std::vector<GifByteType> r(indices.size()), g(indices.size()), b(indices.size());
        for (int y = 0; y < h; ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                r[i] = row[3 * x];
                g[i] = row[3 * x + 1];
                b[i] = row[3 * x + 2];
            }
        }
        int size = 256;
        colors.assign(256, GifColorType{0, 0, 0});
        if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &size, r.data(), g.data(), b.data(),
                              indices.data(), colors.data()) == GIF_ERROR)
            return false;
        colors.resize(static_cast<size_t>(size));
    }

    // The colour table of a GIF has a power-of-two size of at least 2.
    int bits = 1;
    while ((1 << bits) < static_cast<int>(colors.size()))
        ++bits;
    colors.resize(static_cast<size_t>(1) << bits, GifColorType{0, 0, 0});

    out.clear();
    int error = 0;
    GifCloser file{EGifOpen(&out, appendBytes, &error)};
    if (!file.gif)
        return false;
    ColorMapObject* map = GifMakeMapObject(1 << bits, colors.data());
    if (!map)
        return false;
    const bool ok = EGifPutScreenDesc(file.gif, w, h, bits, 0, map) == GIF_OK &&
                    EGifPutImageDesc(file.gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    GifFreeMapObject(map);
    if (!ok)
        return false;
    for (int y = 0; y < h; ++y)
        if (EGifPutLine(file.gif, indices.data() + static_cast<size_t>(y) * w, w) != GIF_OK)
            return false;
    GifFileType* gif = file.gif;
    file.gif = nullptr;
    return EGifCloseFile(gif, &error) == GIF_OK;
}
