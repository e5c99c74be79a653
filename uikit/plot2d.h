// Plot2D: the plot window. It draws a Plot2DModel (plot_model.h: graphs, ranges, axis layout) with
// QPainter into any paint device, so the same drawing serves the screen, bitmap and SVG exports. A row of
// ten tool buttons at the top right pans, zooms and switches auto scaling; the context menu picks the
// drawing style, the grid and saving. The owner learns of the user's tool-bar changes through
// changedByUser. GUI thread only.
#pragma once

#include <array>
#include <memory>

#include <QFont>
#include <QFontMetricsF>
#include <QWidget>

#include "plot_model.h"

class QPainter;
class QAbstractButton;
class QMenu;

class Plot2D : public QWidget, public Plot2DModel {
    Q_OBJECT

public:
    // Commands: tool-bar buttons 1000..1009, context-menu items 2000..2005.
    enum Command {
        PanLeft = 1000, PanRight, PanDown, PanUp, ZoomInX, ZoomOutX, AutoScaleX, ZoomInY, ZoomOutY, AutoScaleY,
        StylePoints = 2000, StyleHistograms, StyleAutoHistograms, StyleLines, ToggleGrid, SaveImage
    };
    enum MenuFlags { MenuPoints = 0x1, MenuHistograms = 0x2, MenuAutoHistograms = 0x4, MenuLines = 0x8,
                     MenuGrid = 0x10, MenuSave = 0x20 };

    explicit Plot2D(QWidget* parent = nullptr);
    ~Plot2D() override;

    // Draws the whole plot into rect of any painter.
    void render(QPainter& painter, const QRect& rect);
    // By extension: an image format a bitmap of width x height, "svg" the vector form, "emf" refused (-2),
    // anything else the text form. 0, -1 when writing failed, -2 for a size or format that cannot be
    // written; the old file is kept on failure.
    int saveImage(const char* path, int width, int height);
    int saveEmf(const char* path, int width, int height); // SVG
    // Repaints the area below the tool bar now when autoRedraw is set.
    void redrawNow() { redraw(); }

    // What a tool-bar button or menu item does (the window's command handler).
    void runCommand(int id);
    // The context menu as it would open now; null when menuFlags is 0. The caller owns it.
    QMenu* createContextMenu();
    // The tool-bar button of a command, for the owner's and tests' inspection.
    QAbstractButton* toolButton(int id) const;
    // Places the tool-bar buttons after a change of buttonMask, buttonWidth or toolbarHeight.
    void layoutToolbar();

signals:
    // The user changed a range or auto scaling with the tool bar (Plot2DModel::Change), after the plot
    // applied it. Never sent for the owner's own calls.
    void changedByUser(int what);

protected:
    void redraw() override;
    void autoScaleChanged(bool xAxis, bool on) override;
    double labelTextWidth(const std::string& text) const override; // measured in the label font
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void createToolbar();
    void updateFonts(const QPaintDevice* device);
    void onSaveImage();
    void drawAxes(QPainter& p);
    void drawSeries(QPainter& p);
    void drawGridOrTicks(QPainter& p);

    std::array<QAbstractButton*, 10> buttons_{};
    QFont labelFont_, smallFont_;
    std::unique_ptr<QFontMetricsF> labelMetrics_; // of the label font on the device drawn on
};
