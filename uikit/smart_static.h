// Coloured static: a label that paints its own background mode, background colour and text colour, and
// reports clicks to its owner.
#pragma once

#include <QColor>
#include <QLabel>

class CSmartStatic : public QLabel {
    Q_OBJECT
public:
    enum BkMode : int {
        BK_TRANSPARENT = 1, // no background: whatever lies below shows through
        BK_OPAQUE = 2,      // the background is filled with bkColor
    };

    // Transparent, the button-face colour of the palette as background, black text.
    explicit CSmartStatic(QWidget* parent = nullptr);
    explicit CSmartStatic(const QString& text, QWidget* parent = nullptr);

    int bkMode() const { return bkMode_; }
    QColor bkColor() const { return bkColor_; }
    QColor textColor() const { return textColor_; }
    void setBkMode(int mode);
    void setBkColor(const QColor& color);
    void setTextColor(const QColor& color);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void init();

    int bkMode_ = BK_TRANSPARENT;
    QColor bkColor_;
    QColor textColor_ = Qt::black;
};
