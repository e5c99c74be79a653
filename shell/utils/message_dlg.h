// Message windows: one formatted text each with an OK button, opened for log entries written with the
// message-window flag. Any number may be open; each closes by itself and deletes itself when closed.
#pragma once

#include <cstdarg>
#include <string>

#include <QDialog>

class QLabel;

class CMessageDlg : public QDialog {
    Q_OBJECT
public:
    CMessageDlg(const QString& title, const QString& text);

    QString text() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* text_ = nullptr;
};

// printf-style formatting of any length.
std::string formatText(const char* fmt, va_list args);

// Opens a message window with title and text on the GUI thread; from another thread the window is
// queued there and this returns at once. 0, or -1 when there is no application to show it in or memory
// runs out.
int openMessageWindow(const std::string& title, const std::string& text);

// Closes every open message window (library end).
void closeMessageWindows();
