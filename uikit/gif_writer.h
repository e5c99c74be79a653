// GIF images through giflib (the image writers of Qt have none). Internal to the image saving.
#pragma once

#include <QByteArray>
#include <QImage>

// Encodes image as a GIF into out: up to 256 distinct colours are kept exactly, more are reduced to 256.
// False when the image is empty or giflib fails.
bool encodeGif(const QImage& image, QByteArray& out);
