// Writes the application icon's images as PNG files for the desktop's icon theme.
// Usage: nibp_export_icon OUTDIR  -> OUTDIR/quirab_nibp-32.png, OUTDIR/quirab_nibp-16.png

#include <QImage>
#include <QString>
#include <cstdio>

#include "framework/icon.h"
#include "res/resource.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  HICON icon = fw::LoadIcon(IDR_MAINFRAME);
  if (icon == nullptr) return 1;
  for (const auto& img : icon->images) {
    QImage q(img.size, img.size, QImage::Format_ARGB32);
    for (int y = 0; y < img.size; ++y) {
      for (int x = 0; x < img.size; ++x)
        q.setPixel(x, y, img.argb[static_cast<size_t>(y * img.size + x)]);
    }
    const QString path = QString("%1/quirab_nibp-%2.png").arg(argv[1]).arg(img.size);
    if (!q.save(path, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
