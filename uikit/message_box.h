// The one way the windows show a message box or ask a question. A replaceable handler answers it, so
// that tests never block on a modal box. Boxes are shown on the GUI thread only: a request from another
// thread is queued to the GUI thread and returns at once without an answer. Once the program is told to
// quit, no box waits for the user any more.
#pragma once

#include <functional>

#include <QString>

class QWidget;

// Buttons and icons; the values and answers are those the suite's code was written against.
enum UiBoxType : unsigned {
    MSGBOX_OK = 0x0,
    MSGBOX_OKCANCEL = 0x1,
    MSGBOX_YESNOCANCEL = 0x3,
    MSGBOX_YESNO = 0x4,
    MSGBOX_ICONERROR = 0x10,
    MSGBOX_ICONQUESTION = 0x20,
    MSGBOX_ICONWARNING = 0x30,
    MSGBOX_ICONINFORMATION = 0x40,
};

enum UiBoxAnswer : int {
    MSGBOX_NOANSWER = 0, // queued from another thread, or no application to show it in
    MSGBOX_IDOK = 1,
    MSGBOX_IDCANCEL = 2,
    MSGBOX_IDYES = 6,
    MSGBOX_IDNO = 7,
};

// Called on the GUI thread with the box's parent (may be null), text, title and type; returns the answer.
using MessageBoxHandler = std::function<int(QWidget* parent, const QString& text, const QString& title,
                                            unsigned type)>;

// Shows a modal box (or asks the handler) and returns the button pressed. An empty title gives the
// application's name.
int messageBox(QWidget* parent, const QString& text, const QString& title = QString(),
               unsigned type = MSGBOX_OK);

// Replaces the handler and returns the previous one; an empty handler restores the real box.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// The answer a box gets when nobody is there to give it (the one Escape gives): MSGBOX_IDOK for a box
// with OK alone, MSGBOX_IDNO for a yes/no question, MSGBOX_IDCANCEL where there is a Cancel button.
int defaultMessageBoxAnswer(unsigned type);

// A quit request (true): every box that is open gets its default answer and closes, and every box asked
// for from now on returns its default answer at once, without showing and without asking the handler,
// so that nothing the program does on its way out waits for the user. false ends that (tests). GUI thread.
void setMessageBoxesQuitting(bool quitting);
