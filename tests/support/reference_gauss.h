// The trail's 3x3 Gaussian the plain way, one pixel() per tap: the fast blur's yardstick (tests, bench).
#pragma once
#include <QImage>
#include <QPixmap>

inline QPixmap ReferenceGauss3x3(const QPixmap& frame) {
  static constexpr int kWeight[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
  const QImage src = frame.toImage().convertToFormat(QImage::Format_ARGB32);
  QImage dst = src.copy();  // the outer ring of pixels is kept
  for (int y = 1; y <= src.height() - 2; ++y)
    for (int x = 1; x <= src.width() - 2; ++x) {
      int r = 0, g = 0, b = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const QRgb p = src.pixel(x + dx, y + dy);
          const int w = kWeight[dy + 1][dx + 1];
          r += w * qRed(p), g += w * qGreen(p), b += w * qBlue(p);
        }
      dst.setPixel(x, y, qRgb(r / 16, g / 16, b / 16));
    }
  return QPixmap::fromImage(dst);
}
