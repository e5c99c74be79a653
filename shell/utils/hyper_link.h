// A link label: its text drawn underlined in the link colour (the visited colour once opened, the hover
// colour while the mouse is over it), with a hand cursor; a click opens the link with the desktop.
#pragma once

#include <QColor>
#include <QLabel>
#include <QUrl>

class CHyperLink : public QLabel {
    Q_OBJECT
public:
    explicit CHyperLink(const QString& text, QWidget* parent = nullptr);

    // The link to open; without one the label's text is taken as the link.
    void setLink(const QUrl& link);
    QUrl link() const;
    bool visited() const { return visited_; }
    bool hover() const { return hover_; }
    QColor currentColour() const;

    static inline const QColor kLinkColour{0, 0, 238};
    static inline const QColor kVisitedColour{85, 26, 139};
    static inline const QColor kHoverColour{238, 0, 0};

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyColour();

    QUrl link_;
    bool hover_ = false;
    bool visited_ = false;
};
