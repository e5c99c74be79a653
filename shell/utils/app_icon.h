// The suite's pictures, drawn at run time: the application icon (tray, windows) and the splash picture.
#pragma once

#include <QIcon>
#include <QPixmap>

QIcon appIcon();
QPixmap splashPicture(const QSize& size);
