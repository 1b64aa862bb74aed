// The program icon: a pocket computer with its LCD and keys, drawn from one
// list of shapes both as SVG (scalable) and as PNG at the usual sizes.
//
//   icongen OUT_DIR        writes OUT_DIR/tarvo.svg and OUT_DIR/NxN/tarvo.png
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdio>
#include <vector>

namespace {

// A rounded rectangle on a 256 x 256 canvas.
struct Shape {
  double x, y, w, h, radius;
  QRgb colour;
};

std::vector<Shape> shapes() {
  std::vector<Shape> s;
  s.push_back({14, 44, 228, 172, 22, 0x2E3440});  // shadow edge of the case
  s.push_back({14, 40, 228, 170, 22, 0x4C566A});  // the case
  s.push_back({30, 54, 196, 62, 8, 0x1F232B});    // LCD bezel
  s.push_back({38, 61, 180, 48, 4, 0xC9D4B0});    // LCD glass
  // Two lines of dot characters on the LCD: a prompt and a few glyphs.
  const double glyph = 9, gap = 4;
  for (int i = 0; i < 7; ++i) s.push_back({46 + i * (glyph + gap), 68, glyph, 14, 1, 0x2B3026});
  for (int i = 0; i < 4; ++i) s.push_back({46 + i * (glyph + gap), 88, glyph, 14, 1, 0x2B3026});
  s.push_back({46 + 4 * (glyph + gap), 99, glyph, 3, 0, 0x2B3026});  // the cursor
  // Three rows of keys; the last key of the bottom row is the wide EXE key.
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 6; ++col) {
      if (row == 2 && col == 5) break;
      s.push_back({34 + col * 32.5, 128 + row * 26.0, 25, 18, 4, 0xD8DEE9});
    }
  }
  s.push_back({34 + 4 * 32.5 + 32.5, 180, 25, 18, 4, 0xEBCB8B});
  s.push_back({34 + 4 * 32.5, 180, 25, 18, 4, 0xD08770});
  return s;
}

QString svg() {
  QString out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
      "viewBox=\"0 0 256 256\">\n"
      "  <title>Tarvo</title>\n";
  for (const Shape& s : shapes())
    out += QString(
               "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" "
               "fill=\"#%6\"/>\n")
               .arg(s.x)
               .arg(s.y)
               .arg(s.w)
               .arg(s.h)
               .arg(s.radius)
               .arg(s.colour & 0xFFFFFF, 6, 16, QChar('0'));
  return out + "</svg>\n";
}

QImage png(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);
  p.setPen(Qt::NoPen);
  for (const Shape& s : shapes()) {
    p.setBrush(QColor::fromRgb(s.colour));
    p.drawRoundedRect(QRectF(s.x, s.y, s.w, s.h), s.radius, s.radius);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: icongen OUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(out.path());
  QFile file(out.filePath("tarvo.svg"));
  if (!file.open(QIODevice::WriteOnly) || file.write(svg().toUtf8()) < 0) return 1;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString dir = out.filePath(QString("%1x%1").arg(size));
    QDir().mkpath(dir);
    if (!png(size).save(dir + "/tarvo.png")) return 1;
  }
  return 0;
}
