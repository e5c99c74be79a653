// Resizable dialog base: keeps registered controls in place while the dialog is resized, each moved and
// stretched by the growth of the client area according to its anchor flags, and by the drags of the
// splitter bars it is bound to (the arithmetic is in dialog_layout.h). Derived dialogs place their
// controls by geometry (no QLayout) and register them in initLayout.
#pragma once

#include <memory>
#include <vector>

#include <QDialog>
#include <QPointer>
#include <QRect>

#include "dialog_layout.h"

// One registered control: its rectangle at registration (in its parent's coordinates) and the splitters
// it follows. A control that is destroyed later is skipped.
struct DlgItemLayout {
    QPointer<QWidget> item;
    int anchorFlags = 0;
    LayoutRect initialRect;
    std::vector<SplitterAnchor> anchors;
};

class CResizeableDlg : public QDialog {
    Q_OBJECT
public:
    explicit CResizeableDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~CResizeableDlg() override;

    // Dialog initialisation: remembers the client rectangle, then calls initLayout. Runs once, on the
    // first show unless the derived dialog calls it earlier (after placing its controls). Returns true.
    bool OnInitDialog();

    // Registers a control of this dialog with its current geometry. Null, with no entry, for a null
    // control, one that is not inside this dialog, or when memory runs out ("Memory allocation error!").
    DlgItemLayout* addDlgItem(QWidget* control, int anchorFlags);
    // Adds a splitter over rect (client coordinates); null when memory runs out.
    Splitter* addSplitter(const QRect& rect, bool vertical, int followFlags);

    // A splitter bound at a side (0..3: left, top, right, bottom) of a window's rectangle in its parent's
    // coordinates; a window without parent gives its client rectangle inset by 6. A window that is gone
    // no longer bounds.
    static SplitterBound windowBound(QWidget* window, int side);

    // Places every registered control for the client size (cx, cy); nothing before initialisation.
    void layoutItems(int cx, int cy);

    const std::vector<std::unique_ptr<Splitter>>& splitters() const { return splitters_; }

protected:
    // Derived dialogs register their controls and splitters here.
    virtual void initLayout() {}

    void OnSize(bool minimized, int cx, int cy);
    void OnMouseMove(const QPoint& point);
    void OnLButtonDown(const QPoint& point);
    void OnLButtonUp();

    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::vector<std::unique_ptr<DlgItemLayout>> items_;
    std::vector<std::unique_ptr<Splitter>> splitters_;
    QRect initialClient_;
    bool initialised_ = false;
};
