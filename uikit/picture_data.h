// The frame display model: one frame fetched from the manager as doubles (optionally through a filter
// chain), kept in display orientation (mirror, then quarter turns), divided by the acquisition time in
// count-rate mode, masked, rendered through a colour map into the picture's image, and measured over
// rectangular regions (statistics, histograms, fractiles).
//
// Orientation: the display is the frame mirrored left-right (when mirrored) and then turned by the
// rotation. Coordinates are (column, row) with row 0 at the bottom, in the display unless said otherwise.
//
// No windows: the manager is reached through its function table, the picture through PictureView. One
// thread (the GUI thread of the window that owns it); callers on other threads queue their requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "color_palette.h"
#include "picture_view.h"
#include "tvk_mgr.h"

class PictureData;

// Where the pixels of a region come from: the model's values and mask in display orientation.
struct RegionSource {
    const double* values = nullptr;
    const uint8_t* mask = nullptr; // null or not used: every pixel counts; 0 = masked
    int width = 0;
    int height = 0;
};

// Histogram of a rectangle: 256 bins over [min, max], the last bin closed (a value equal to max counts).
class RegionHistogram {
public:
    static constexpr int kBinCount = 256;

    // Counts the unmasked pixels of rect with min <= v <= max; reuses the bins when they are valid for the
    // same range. NaN values are not binned and not counted.
    void build(const RegionSource& source, const PixelRect& rect, double min, double max);
    // Value below which the fraction p of the binned pixels lies (p <= 0: min, p >= 1: max).
    double fractile(double p) const;
    void invalidate() { valid_ = false; }

    bool valid() const { return valid_; }
    double min() const { return min_; }
    double max() const { return max_; }
    int counted() const { return counted_; } // pixels binned
    const double* bins() const { return bins_.data(); }

private:
    std::vector<double> bins_ = std::vector<double>(kBinCount + 1, 0.0);
    int counted_ = 0;
    double min_ = 0;
    double max_ = 0;
    bool valid_ = false;
};

// A rectangle of the frame with its statistics, computed on demand over the unmasked pixels.
class SelectionRegion {
public:
    // Accepted only when the rectangle lies inside the matrix (w, h >= 0); statistics become stale.
    bool setRect(int x, int y, int w, int h);
    bool setRect(const PixelRect& r) { return setRect(r.x, r.y, r.w, r.h); }
    const PixelRect& rect() const { return rect_; }

    // Statistics (population standard deviation); all 0 when no pixel counts.
    double min();
    double max();
    double total();
    double mean();
    double stdDev();
    void invalidate();

    // The display histogram over [min, max] and the fractile p over [region min, region max].
    const RegionHistogram& displayHistogram(double min, double max);
    double fractile(double p);

private:
    friend class PictureData;
    explicit SelectionRegion(const PictureData* model) : model_(model) {}
    void computeStats();
    RegionSource source() const;

    const PictureData* model_;
    PixelRect rect_;
    bool statsValid_ = false;
    double min_ = 0, max_ = 0, total_ = 0, mean_ = 0, stdDev_ = 0;
    RegionHistogram display_;
    RegionHistogram fractiles_;
};

class PictureData {
public:
    // Transform flags: what follows a quarter turn or a mirror besides the values.
    enum TransformFlags { MaskFollowsRotation = 1, RegionsFollowRotation = 2, MaskFollowsMirror = 4,
                          RegionsFollowMirror = 8, AllFollow = 15 };
    static constexpr int64_t kMaxPixels = int64_t(1) << 29; // sizes from here on are refused

    explicit PictureData(const _MgrFuncTable* mgr = nullptr);
    ~PictureData(); // closes a filtered copy it made
    PictureData(const PictureData&) = delete;
    PictureData& operator=(const PictureData&) = delete;

    void setManager(const _MgrFuncTable* mgr) { mgr_ = mgr; }

    // Size of the device's matrix (row width x pixels / row width): 0, or -1 when there is no such device
    // or the size cannot be taken.
    int bindDevice(int devIndex);
    int deviceIndex() const { return devIndex_; }
    // A zeroed frame of that size with one region over it (mask dropped when the size changes); the
    // picture gets the new image with its zoom reset. 0, or -1 (nothing changed) for a negative size, one
    // of kMaxPixels or more, or no memory.
    int setSize(int width, int height);
    // n more regions over the whole matrix: 0 or -1.
    int addRegions(int n);
    int regionCount() const { return static_cast<int>(regions_.size()); }
    // Region i, or null for an index out of range. Region 0 is the whole frame. The pointer holds until the
    // next change of size (setSize, bindDevice, or a frame of another size shown).
    SelectionRegion* region(int i);

    // Fetches the frame (through the filter chain when one is set; the unfiltered frame when the chain
    // fails) and shows it in the current orientation; a frame of another size than the last drops the
    // mask. 0, or -1 with the display unchanged and no copy of the frame left behind.
    int showFrame(uint32_t frameId);
    // Loads a frame file into the manager and shows it; the new frame's id goes to loadedId (the caller
    // closes it when done). On failure a message box, the loaded frame closed, -1.
    int loadFrameFile(const char* path, uint32_t* loadedId = nullptr);
    uint32_t frameId() const { return frameId_; }

    // Attaches (renders at once when there is a frame) or detaches (null; the image is dropped).
    void setPicture(PictureView* picture);
    PictureView* picture() const { return picture_; }

    // Stores the level range and renders; then, with a frame shown and saveFrameRange, stores the range in
    // the frame's "Preview range". The manager's result (0 without a frame).
    int setRange(double min, double max, bool underWarning, bool overWarning);
    double rangeMin() const { return rangeMin_; }
    double rangeMax() const { return rangeMax_; }
    bool hasFrameRange() const { return hasFrameRange_; } // the frame shown carried "Preview range"
    // 0..3: that colour map; 4: none. 0, or -1 for any other value.
    int setColorMap(int type);
    const ColorPalette* palette() const { return palette_.get(); }

    // Orientation: 0, 90, 180 or 270 (else -1); mirror toggles left-right in frame terms.
    int setRotation(int angle);
    int toggleMirror();
    int rotation() const { return rotation_; }
    bool mirrored() const { return mirrored_; }
    // enable false drops the mask. Else, when count equals the pixel count, mask byte i = low byte of
    // src[i] (frame orientation; 0 = masked), turned to the display: 0, else -1 (mask unchanged).
    int setMask(const uint16_t* src, bool enable, size_t count);
    bool maskOn() const { return maskOn_; }

    // The values in frame orientation, width() x height() of them.
    void getFrameData(double* dst) const;
    // Display to frame coordinates.
    void toFramePoint(int& x, int& y) const;
    void toFrameRect(int& x, int& y, int& w, int& h) const;

    // By extension: "svg" the picture's vector export, an image format the picture's bitmap export, "emf"
    // refused (no writer: -2), anything else the text form. A failed export shows "Saving of image file
    // failed."; -1 without a picture.
    int saveImage(const char* path, int width, int height, int sizeMode, int flags);
    // The values in display orientation, one row per line (row 0 first): 0, or -1 with a message box.
    int saveText(const char* path);

    // Statistics of region i (0 for an index out of range).
    double getRegionMin(int i);
    double getRegionMax(int i);
    double getRegionFractile(double p, int i);

    int width() const { return width_; }
    int height() const { return height_; }
    const double* values() const { return values_.data(); }
    const uint8_t* mask() const { return maskOn_ ? mask_.data() : nullptr; }

    void setCountRate(bool on) { countRate_ = on; }
    bool countRate() const { return countRate_; }
    bool hasAcqTime() const { return hasAcqTime_; }
    double acqTime() const { return acqTime_; }
    void setLoadFrameRange(bool on) { loadFrameRange_ = on; }
    void setSaveFrameRange(bool on) { saveFrameRange_ = on; }
    bool loadFrameRange() const { return loadFrameRange_; }
    bool saveFrameRange() const { return saveFrameRange_; }
    void setFilterChain(int chainId) { filterChainId_ = chainId; }
    int filterChain() const { return filterChainId_; }

    // Where message boxes go when no picture is attached (the picture's showMessage otherwise).
    void setMessageHandler(std::function<void(const std::string&)> handler) { messageHandler_ = std::move(handler); }

    // Renders the values into the shared image (nothing without a picture or a colour map).
    void renderImage();

private:
    friend class SelectionRegion;
    // Display pixel (x, y) is element base + x * dx + y * dy of the frame in its own orientation.
    void displayStrides(ptrdiff_t& base, ptrdiff_t& dx, ptrdiff_t& dy) const;

    void message(const std::string& text) const;
    void statsStale();
    void closeIfOwned(uint32_t id, bool owned) const;
    int allocImage();
    int reshapeImage();
    void handImage(bool resetZoom);
    int quarterTurn(bool forward, int flags);
    void halfTurn(int flags);
    void mirrorStep(int flags);
    void transformRects(const std::function<PixelRect(const PixelRect&)>& f, bool regions);

    const _MgrFuncTable* mgr_;
    int devIndex_ = -1;
    uint32_t frameId_ = 0;
    bool holdsFrame_ = false; // a reference to frameId_ is held (a filtered copy, or another's frame opened)
    bool sizeChanged_ = false;
    std::vector<double> values_;
    // Scratch buffers of the last fetch and turn, kept so that a refresh of the same size allocates nothing.
    std::vector<double> fetched_;
    std::vector<double> turned_;
    int rotation_ = 0;
    int transformFlags_ = AllFollow;
    int width_ = 0;
    int height_ = 0;
    bool countRate_ = false;
    bool mirrored_ = false;
    bool mirrorAxisRows_ = true;
    bool hasAcqTime_ = false;
    double acqTime_ = 1.0;
    bool maskOn_ = false;
    std::vector<uint8_t> mask_;
    bool loadFrameRange_ = false;
    bool saveFrameRange_ = false;
    bool hasFrameRange_ = false;
    double rangeMin_ = 0;
    double rangeMax_ = 0;
    bool underWarning_ = false;
    bool overWarning_ = false;
    int filterChainId_ = 0;
    PictureView* picture_ = nullptr;
    std::shared_ptr<uint8_t[]> rgb_;
    size_t rgbSize_ = 0;
    int rgbStride_ = 0;
    int rgbWidth_ = 0; // the shape rgb_ was made for
    int rgbHeight_ = 0;
    std::unique_ptr<ColorPalette> palette_;
    std::vector<std::unique_ptr<SelectionRegion>> regions_;
    std::function<void(const std::string&)> messageHandler_;
};
