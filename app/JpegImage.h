#pragma once
// JPEG decoding through libjpeg's own interface.

#include <QByteArray>
#include <QImage>

// Decodes a JPEG held in memory into an RGB image. A buffer that is not a JPEG, or is
// damaged so that the decoder gives up, yields a null image.
QImage DecodeJpeg(const QByteArray &data);
