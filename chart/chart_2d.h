// The x-y chart window: shows a ChartModel (series, function curves, overlays, axes, grid, legend) and
// repaints after every change made through the model's operations. After changing fields directly, call
// update(). GUI thread only.
#pragma once

#include <QWidget>

#include "chart_model.h"

class CChart2d : public QWidget, public ChartModel {
    Q_OBJECT
public:
    explicit CChart2d(QWidget* parent = nullptr);

protected:
    void changed() override;
    void paintEvent(QPaintEvent* event) override;
    // The middle button cycles the point style; a left double click toggles title, labels and axes.
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
