// Draws the window's icon at the sizes given on the command line and writes one PNG per
// size into the given folder: a chip on a blue tile, with an arrow bringing new firmware
// down into it. Drawn from paths only, so no font or display is needed at build time.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace fennwick {

namespace {

QImage Draw(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);  // designed on a 32 x 32 grid

  // Tile.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x5f, 0x9f));
  p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 5, 5);

  // Chip body with pins on both sides.
  p.setBrush(QColor(0xe8, 0xe8, 0xe8));
  for (int i = 0; i < 4; ++i) {
    const qreal y = 15 + i * 4;
    p.drawRect(QRectF(5, y, 4, 2));
    p.drawRect(QRectF(23, y, 4, 2));
  }
  p.setBrush(QColor(0x22, 0x22, 0x22));
  p.drawRoundedRect(QRectF(8, 13, 16, 17), 2, 2);
  p.setBrush(QColor(0x6c, 0xd0, 0x6c));
  p.drawEllipse(QPointF(11.5, 16.5), 1.4, 1.4);

  // Arrow pointing down into the chip.
  QPainterPath arrow;
  arrow.moveTo(13.5, 2);
  arrow.lineTo(18.5, 2);
  arrow.lineTo(18.5, 9);
  arrow.lineTo(22.5, 9);
  arrow.lineTo(16, 16);
  arrow.lineTo(9.5, 9);
  arrow.lineTo(13.5, 9);
  arrow.closeSubpath();
  p.setBrush(QColor(0xff, 0xc4, 0x2e));
  p.setPen(QPen(QColor(0x1f, 0x5f, 0x9f), 1));
  p.drawPath(arrow);
  p.end();
  return img;
}

}  // namespace

}  // namespace fennwick

using namespace fennwick;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "%s: bad size '%s'\n", argv[0], argv[i]);
      return 2;
    }
    const QString file = QStringLiteral("%1/fennwick-%2.png").arg(dir).arg(size);
    if (!Draw(size).save(file, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
      return 1;
    }
  }
  return 0;
}
