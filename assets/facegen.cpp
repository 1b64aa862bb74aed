// Draws the face of the demo machine: "face.bmp", "keys.bmp" and
// "overlay.bmp". Every key is placed from the key group table that the
// front panel's hit test uses, so a key is drawn exactly where a mouse
// press finds it. Legends are drawn dot by dot from the machine's own
// character set (charset.txt) and a small 3 x 5 dot font for the tiny
// legends, so the pictures do not depend on the host's fonts.
//
// Usage: facegen CHARSET_TXT OUTPUT_DIR
#include <QColor>
#include <QImage>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "frontpanel/keymap.h"

namespace {

using tarvo::kKeyGroups;

constexpr int kFaceWidth = 673;
constexpr int kFaceHeight = 294;
constexpr int kKeysWidth = 168;
constexpr int kKeysHeight = 99;
constexpr int kStripWidth = 432;
constexpr int kStripHeight = 6;
constexpr int kStripX = 58;
constexpr int kStripY[2] = {224, 257};
constexpr int kLcdX = 63, kLcdY = 45, kLcdWidth = 384, kLcdHeight = 64;
constexpr int kFrameRing = 4;  // a pressed key's inside moves within this margin

// Colours. Pure white is the transparent colour of the key frames, so no
// frame pixel may be white.
constexpr QRgb kBodyTop = 0xFF3C4047;
constexpr QRgb kBodyBottom = 0xFF2B2E34;
constexpr QRgb kPanel = 0xFF23262B;
constexpr QRgb kBezel = 0xFF17191C;
constexpr QRgb kBezelEdge = 0xFF0C0D0F;
constexpr QRgb kLcdOff = 0xFFC0C0C0;
constexpr QRgb kOutline = 0xFF101215;  // every key's outermost ring
constexpr QRgb kCorner = 0xFF25282D;   // its corners, for a rounded look
constexpr QRgb kDarkKey = 0xFF565B64;
constexpr QRgb kLightKey = 0xFFD9D8D0;
constexpr QRgb kAccentKey = 0xFF2F64C8;
constexpr QRgb kSmallKey = 0xFF6B717B;
constexpr QRgb kButtonKey = 0xFF4A4E56;
constexpr QRgb kOnDark = 0xFFF2F2EE;
constexpr QRgb kOnLight = 0xFF1E2024;
constexpr QRgb kRed = 0xFFC8321E;
constexpr QRgb kPrint = 0xFFB4B8BE;        // printing on the body
constexpr QRgb kPrintStrong = 0xFFE8E2D0;  // the name
constexpr QRgb kSecondary = 0xFFE0A040;    // secondary legends
constexpr QRgb kSlot = 0xFF1A1C20;
constexpr QRgb kKnob = 0xFFB9BDC5;
constexpr QRgb kTransparent = 0xFFFFFFFF;

QRgb shade(QRgb c, int delta) {
  auto ch = [delta](int v) { return std::clamp(v + delta, 0, 254); };
  return qRgb(ch(qRed(c)), ch(qGreen(c)), ch(qBlue(c)));
}

// ---------------------------------------------------------------------------
// Fonts.

// The machine's character set: 8 rows of up to 8 dots per character.
using Glyph = std::array<std::string, 8>;
std::map<int, Glyph> readCharset(const std::string& path) {
  std::map<int, Glyph> glyphs;
  std::ifstream in(path);
  std::string line;
  int code = -1, row = 0;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (code < 0) {
      std::istringstream head(line);
      std::string word, hex;
      head >> word >> hex;
      if (word == "char" && !hex.empty()) {
        code = std::stoi(hex, nullptr, 16);
        row = 0;
      }
      continue;
    }
    glyphs[code][row] = line;
    if (++row == 8) code = -1;
  }
  return glyphs;
}

// Tiny capitals, digits and signs, 3 x 5 dots.
const std::map<char, std::array<const char*, 5>>& tinyFont() {
  static const std::map<char, std::array<const char*, 5>> font = {
      {'A', {".#.", "#.#", "###", "#.#", "#.#"}}, {'B', {"##.", "#.#", "##.", "#.#", "##."}},
      {'C', {".##", "#..", "#..", "#..", ".##"}}, {'D', {"##.", "#.#", "#.#", "#.#", "##."}},
      {'E', {"###", "#..", "##.", "#..", "###"}}, {'F', {"###", "#..", "##.", "#..", "#.."}},
      {'G', {".##", "#..", "#.#", "#.#", ".##"}}, {'H', {"#.#", "#.#", "###", "#.#", "#.#"}},
      {'I', {"###", ".#.", ".#.", ".#.", "###"}}, {'J', {"..#", "..#", "..#", "#.#", ".#."}},
      {'K', {"#.#", "#.#", "##.", "#.#", "#.#"}}, {'L', {"#..", "#..", "#..", "#..", "###"}},
      {'M', {"#.#", "###", "###", "#.#", "#.#"}}, {'N', {"##.", "#.#", "#.#", "#.#", "#.#"}},
      {'O', {".#.", "#.#", "#.#", "#.#", ".#."}}, {'P', {"##.", "#.#", "##.", "#..", "#.."}},
      {'Q', {".#.", "#.#", "#.#", "##.", ".##"}}, {'R', {"##.", "#.#", "##.", "#.#", "#.#"}},
      {'S', {".##", "#..", ".#.", "..#", "##."}}, {'T', {"###", ".#.", ".#.", ".#.", ".#."}},
      {'U', {"#.#", "#.#", "#.#", "#.#", "###"}}, {'V', {"#.#", "#.#", "#.#", "#.#", ".#."}},
      {'W', {"#.#", "#.#", "###", "###", "#.#"}}, {'X', {"#.#", "#.#", ".#.", "#.#", "#.#"}},
      {'Y', {"#.#", "#.#", ".#.", ".#.", ".#."}}, {'Z', {"###", "..#", ".#.", "#..", "###"}},
      {'0', {"###", "#.#", "#.#", "#.#", "###"}}, {'1', {".#.", "##.", ".#.", ".#.", "###"}},
      {'2', {"##.", "..#", ".#.", "#..", "###"}}, {'3', {"##.", "..#", ".#.", "..#", "##."}},
      {'4', {"#.#", "#.#", "###", "..#", "..#"}}, {'5', {"###", "#..", "##.", "..#", "##."}},
      {'6', {".##", "#..", "###", "#.#", "###"}}, {'7', {"###", "..#", ".#.", ".#.", ".#."}},
      {'8', {"###", "#.#", "###", "#.#", "###"}}, {'9', {"###", "#.#", "###", "..#", "##."}},
      {'!', {".#.", ".#.", ".#.", "...", ".#."}}, {'"', {"#.#", "#.#", "...", "...", "..."}},
      {'#', {"#.#", "###", "#.#", "###", "#.#"}}, {'$', {".##", "##.", ".#.", ".##", "##."}},
      {'%', {"#.#", "..#", ".#.", "#..", "#.#"}}, {'&', {".#.", "#.#", ".#.", "#.#", ".##"}},
      {'?', {"##.", "..#", ".#.", "...", ".#."}}, {'<', {"..#", ".#.", "#..", ".#.", "..#"}},
      {'>', {"#..", ".#.", "..#", ".#.", "#.."}}, {'{', {".##", ".#.", "#..", ".#.", ".##"}},
      {'}', {"##.", ".#.", "..#", ".#.", "##."}}, {'\\', {"#..", "#..", ".#.", "..#", "..#"}},
      {'^', {".#.", "#.#", "...", "...", "..."}}, {'~', {"...", ".##", "##.", "...", "..."}},
      {'@', {".#.", "#.#", "#.#", "#..", ".##"}}, {'_', {"...", "...", "...", "...", "###"}},
      {'`', {"#..", ".#.", "...", "...", "..."}}, {'=', {"...", "###", "...", "###", "..."}},
      {'+', {"...", ".#.", "###", ".#.", "..."}}, {'-', {"...", "...", "###", "...", "..."}},
      {' ', {"...", "...", "...", "...", "..."}},
  };
  return font;
}

class Canvas {
 public:
  explicit Canvas(QImage& image) : img_(image) {}

  void set(int x, int y, QRgb c) {
    if (x >= 0 && y >= 0 && x < img_.width() && y < img_.height()) img_.setPixel(x, y, c);
  }
  void fill(int x, int y, int w, int h, QRgb c) {
    for (int j = y; j < y + h; ++j) {
      for (int i = x; i < x + w; ++i) set(i, j, c);
    }
  }
  // A filled rectangle with its corners cut by one pixel.
  void roundRect(int x, int y, int w, int h, QRgb c, int cut = 2) {
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        const int dx = std::min(i, w - 1 - i), dy = std::min(j, h - 1 - j);
        if (dx + dy < cut) continue;
        set(x + i, y + j, c);
      }
    }
  }

  // Text in the machine's character set, scaled by s; returns the width.
  int text(int x, int y, const std::string& s, QRgb c, const std::map<int, Glyph>& font,
           int scale = 1) {
    int cx = x;
    for (unsigned char ch : s) {
      const auto it = font.find(ch);
      if (it != font.end()) {
        for (int row = 0; row < 8; ++row) {
          const std::string& art = it->second[row];
          for (int col = 0; col < static_cast<int>(art.size()) && col < 5; ++col) {
            if (art[col] == '#') fill(cx + col * scale, y + row * scale, scale, scale, c);
          }
        }
      }
      cx += 6 * scale;
    }
    return static_cast<int>(s.size()) * 6 * scale - scale;
  }
  static int textWidth(const std::string& s, int scale = 1) {
    return static_cast<int>(s.size()) * 6 * scale - scale;
  }

  void tiny(int x, int y, const std::string& s, QRgb c) {
    int cx = x;
    for (char ch : s) {
      const auto it = tinyFont().find(ch);
      if (it != tinyFont().end()) {
        for (int row = 0; row < 5; ++row) {
          for (int col = 0; col < 3; ++col) {
            if (it->second[row][col] == '#') set(cx + col, y + row, c);
          }
        }
      }
      cx += 4;
    }
  }
  static int tinyWidth(const std::string& s) { return static_cast<int>(s.size()) * 4 - 1; }

 private:
  QImage& img_;
};

// ---------------------------------------------------------------------------
// Keys.

// The frame of a key: an outline, then a three-pixel bevel, lit from the top
// left when released and sunken when pressed. Its inside stays white, so
// that drawing the frame leaves the key's legend alone.
void drawFrame(Canvas& cv, int ox, int oy, int w, int h, QRgb key, bool pressed) {
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const int layer = std::min(std::min(i, j), std::min(w - 1 - i, h - 1 - j));
      if (layer >= kFrameRing) continue;
      QRgb c;
      if (layer == 0) {
        const bool corner = (i == 0 || i == w - 1) && (j == 0 || j == h - 1);
        c = corner ? kCorner : kOutline;
      } else {
        const bool topLeft = (j == layer || i == layer) && i < w - 1 - layer && j < h - 1 - layer;
        if (layer == 3) {
          c = key;
        } else if (!pressed) {
          c = layer == 1 ? (topLeft ? shade(key, 48) : shade(key, -58))
                         : (topLeft ? shade(key, 20) : shade(key, -28));
        } else {
          c = layer == 1 ? (topLeft ? shade(key, -58) : shade(key, -12))
                         : (topLeft ? shade(key, -30) : key);
        }
      }
      cv.set(ox + i, oy + j, c);
    }
  }
}

// The power switch: a slot with a ridged knob at the top (on) or the bottom
// (off). The whole frame is opaque: drawing it repaints the switch.
void drawSwitch(Canvas& cv, int ox, int oy, int w, int h, bool on) {
  cv.fill(ox, oy, w, h, kOutline);
  cv.set(ox, oy, kCorner);
  cv.set(ox + w - 1, oy, kCorner);
  cv.set(ox, oy + h - 1, kCorner);
  cv.set(ox + w - 1, oy + h - 1, kCorner);
  cv.fill(ox + 1, oy + 1, w - 2, h - 2, kSlot);
  const int knobH = 36;
  const int ky = on ? oy + 3 : oy + h - 3 - knobH;
  cv.fill(ox + 2, ky, w - 4, knobH, kKnob);
  cv.fill(ox + 2, ky, 1, knobH, shade(kKnob, 30));
  cv.fill(ox + w - 3, ky, 1, knobH, shade(kKnob, -50));
  cv.fill(ox + 2, ky + knobH - 1, w - 4, 1, shade(kKnob, -60));
  for (int r = ky + 6; r < ky + knobH - 4; r += 4) cv.fill(ox + 3, r, w - 6, 1, shade(kKnob, -45));
}

struct KeyLook {
  QRgb key = kDarkKey;
  QRgb legend = kOnDark;
  std::string text;  // in the machine's character set
};

// Colour of a frame group (groups that share an image position share it).
QRgb groupColour(int group) {
  switch (group) {
    case 1:
      return kButtonKey;
    case 9:
      return kLightKey;
    case 10:
      return kAccentKey;
    case 11:
    case 12:
      return kSmallKey;
    default:
      return kDarkKey;
  }
}

// Legend of each key code. Characters follow the host keyboard's mapping;
// the names of the other keys are the machine's.
KeyLook lookOf(int code, int group) {
  KeyLook look;
  look.key = groupColour(group);
  look.legend = look.key == kLightKey ? kOnLight : kOnDark;
  static const std::map<int, std::string> names = {
      {4, "MODE"},  {5, "'"},     {6, "("},     {7, ")"},     {8, "["},     {9, "]"},
      {10, "|"},    {11, "DEF"},  {12, "CLS"},  {13, "MEM"},  {14, "TAB"},  {15, "PGUP"},
      {46, "PGDN"}, {47, "SHFT"}, {48, ""},     {49, "INS"},  {50, "\x81"}, {51, "DEL"},
      {52, "HOME"}, {53, "\x80"}, {54, "\x83"}, {55, "\x82"}, {56, "END"},  {57, "BRK"},
      {58, "AC"},   {59, "BS"},   {75, "EXE"},  {81, "CTRL"},
  };
  static const std::string qwerty = "QWERTYUIOP=ASDFGHJKL;:ZXCVBNM,";
  static const std::string pad = "/789*456-123+0.";
  if (const auto it = names.find(code); it != names.end()) {
    look.text = it->second;
  } else if (code >= 16 && code <= 45) {
    look.text = std::string(1, qwerty[code - 16]);
  } else if (code >= 60 && code <= 74) {
    look.text = std::string(1, pad[code - 60]);
  }
  if (code == 57 || code == 58) look.legend = kRed;
  return look;
}

// ---------------------------------------------------------------------------
// The face.

// Secondary legends over the A row and over the Z row: the face's own set
// and the alternative set that F2 brings in from the overlay.
struct StripLegend {
  int keyCode;
  const char* face;
  const char* alternative;
};
const std::vector<StripLegend> kStrip[2] = {
    {{27, "!", "SIN"},
     {28, "\"", "COS"},
     {29, "#", "TAN"},
     {30, "$", "ASN"},
     {31, "%", "ACS"},
     {32, "&", "ATN"},
     {33, "?", "LOG"},
     {34, "<", "LN"},
     {35, ">", "EXP"},
     {36, "{", "SQR"},
     {37, "}", "PI"}},
    {{38, "\\", "DEG"},
     {39, "^", "RAD"},
     {40, "~", "GRA"},
     {41, "@", "HEX"},
     {42, "_", "DEC"},
     {43, "`", "BIN"},
     {44, "<=", "OCT"},
     {45, ">=", "ANS"},
     {47, "", "SHFT"}},
};

QRgb bodyAt(int y) {
  // A gentle top-to-bottom darkening, the same across every row.
  const double t = static_cast<double>(y) / (kFaceHeight - 1);
  auto mix = [t](int a, int b) { return static_cast<int>(a + (b - a) * t + 0.5); };
  return qRgb(mix(qRed(kBodyTop), qRed(kBodyBottom)), mix(qGreen(kBodyTop), qGreen(kBodyBottom)),
              mix(qBlue(kBodyTop), qBlue(kBodyBottom)));
}

void drawBody(Canvas& cv) {
  for (int y = 0; y < kFaceHeight; ++y) cv.fill(0, y, kFaceWidth, 1, bodyAt(y));
  // Edge: a dark rim with a lit line inside it along the top.
  cv.fill(0, 0, kFaceWidth, 1, kBezelEdge);
  cv.fill(0, kFaceHeight - 1, kFaceWidth, 1, kBezelEdge);
  cv.fill(0, 0, 1, kFaceHeight, kBezelEdge);
  cv.fill(kFaceWidth - 1, 0, 1, kFaceHeight, kBezelEdge);
  cv.fill(1, 1, kFaceWidth - 2, 1, shade(kBodyTop, 22));
}

void drawDisplay(Canvas& cv, const std::map<int, Glyph>& font) {
  cv.roundRect(51, 33, 408, 88, kBezel, 3);
  cv.fill(kLcdX - 2, kLcdY - 2, kLcdWidth + 4, kLcdHeight + 4, kBezelEdge);
  cv.fill(kLcdX, kLcdY, kLcdWidth, kLcdHeight, kLcdOff);
  cv.tiny(kLcdX, 113, "4 LINES  32 CHARACTERS", kPrint);
  const std::string model = "DECIMAL 16";
  cv.tiny(kLcdX + kLcdWidth - Canvas::tinyWidth(model), 113, model, kPrint);
  // The name above the display, and what it is.
  cv.text(kLcdX, 12, "TARVO", kPrintStrong, font, 2);
  cv.tiny(kLcdX + Canvas::textWidth("TARVO", 2) + 8, 21, "POCKET COMPUTER", kPrint);
  const std::string demo = "OPEN DEMO MACHINE";
  cv.tiny(kLcdX + kLcdWidth - Canvas::tinyWidth(demo), 21, demo, kPrint);
  // A rule between the display and the keyboard.
  cv.fill(12, 158, 478, 1, shade(bodyAt(158), 14));
}

void drawKeyOnFace(Canvas& cv, int code, const std::map<int, Glyph>& font) {
  const tarvo::KeyHit at = tarvo::keyPosition(code);
  const tarvo::KeyGroup& g = kKeyGroups[at.group];
  if (code == tarvo::kKeyPower) {
    drawSwitch(cv, at.x, at.y, g.width, g.height, true);
    cv.tiny(at.x + g.width + 3, at.y + 2, "ON", kPrint);
    cv.tiny(at.x + g.width + 3, at.y + g.height - 7, "OFF", kPrint);
    return;
  }
  const KeyLook look = lookOf(code, at.group);
  drawFrame(cv, at.x, at.y, g.width, g.height, look.key, false);
  const int ix = at.x + kFrameRing, iy = at.y + kFrameRing;
  const int iw = g.width - 2 * kFrameRing, ih = g.height - 2 * kFrameRing;
  cv.fill(ix, iy, iw, ih, look.key);
  if (code == tarvo::kKeyMinimise) {
    cv.fill(ix + 2, iy + 6, 5, 1, kOnDark);
  } else if (code == tarvo::kKeyClose) {
    for (int d = 0; d < 5; ++d) {
      cv.set(ix + 2 + d, iy + 2 + d, kOnDark);
      cv.set(ix + 6 - d, iy + 2 + d, kOnDark);
    }
  } else if (!look.text.empty() && ih >= 7) {
    const int tw = Canvas::textWidth(look.text);
    cv.text(ix + (iw - tw) / 2, iy + (ih - 7) / 2, look.text, look.legend, font);
  }
}

// Names of the small keys under the display, printed below them.
void drawSmallKeyNames(Canvas& cv) {
  for (int code = 76; code <= 80; ++code) {
    const tarvo::KeyHit at = tarvo::keyPosition(code);
    const tarvo::KeyGroup& g = kKeyGroups[at.group];
    const std::string name = "F" + std::to_string(code - 75);
    cv.tiny(at.x + (g.width - Canvas::tinyWidth(name)) / 2, at.y + g.height + 3, name, kPrint);
  }
}

// Secondary legends of one strip into canvas at strip origin (x0, y0).
void drawStrip(Canvas& cv, int strip, int x0, int y0, bool alternative) {
  for (const StripLegend& l : kStrip[strip]) {
    const tarvo::KeyHit at = tarvo::keyPosition(l.keyCode);
    const tarvo::KeyGroup& g = kKeyGroups[at.group];
    const std::string s = alternative ? l.alternative : l.face;
    const int x = at.x - kStripX + (g.width - Canvas::tinyWidth(s)) / 2;
    cv.tiny(x0 + x, y0, s, kSecondary);
  }
}

// The key frames: for each image position of the table, the pressed frame
// and to its right the released one, on white.
QImage makeKeys() {
  QImage keys(kKeysWidth, kKeysHeight, QImage::Format_RGB32);
  keys.fill(kTransparent);
  Canvas cv(keys);
  for (int gi = 0; gi < tarvo::kKeyGroupCount; ++gi) {
    const tarvo::KeyGroup& g = kKeyGroups[gi];
    if (gi == 0) {
      drawSwitch(cv, g.imageX, g.imageY, g.width, g.height, true);
      drawSwitch(cv, g.imageX + g.width, g.imageY, g.width, g.height, false);
      continue;
    }
    drawFrame(cv, g.imageX, g.imageY, g.width, g.height, groupColour(gi), true);
    drawFrame(cv, g.imageX + g.width, g.imageY, g.width, g.height, groupColour(gi), false);
  }
  return keys;
}

bool save(const QImage& image, const std::string& dir, const char* name) {
  const QString path = QString::fromStdString(dir + "/" + name);
  if (!image.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) {
    std::fprintf(stderr, "facegen: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: facegen CHARSET_TXT OUTPUT_DIR\n");
    return 2;
  }
  const std::map<int, Glyph> font = readCharset(argv[1]);
  if (font.empty()) {
    std::fprintf(stderr, "facegen: no glyphs in %s\n", argv[1]);
    return 1;
  }

  QImage face(kFaceWidth, kFaceHeight, QImage::Format_RGB32);
  Canvas cv(face);
  drawBody(cv);
  // The keypad sits on a panel of its own.
  cv.roundRect(496, 24, 170, 266, kPanel, 4);
  drawDisplay(cv, font);
  for (int code = 1; code <= tarvo::kHighestKey; ++code) drawKeyOnFace(cv, code, font);
  drawSmallKeyNames(cv);

  // The overlay holds the strips as they are before any legend goes on, so
  // that both legend sets sit on exactly the same ground.
  QImage overlay(kStripWidth, 2 * kStripHeight, QImage::Format_RGB32);
  for (int k = 0; k < 2; ++k) {
    for (int y = 0; y < kStripHeight; ++y) {
      for (int x = 0; x < kStripWidth; ++x)
        overlay.setPixel(x, k * kStripHeight + y, face.pixel(kStripX + x, kStripY[k] + y));
    }
  }
  Canvas ov(overlay);
  for (int k = 0; k < 2; ++k) {
    drawStrip(cv, k, kStripX, kStripY[k], false);
    drawStrip(ov, k, 0, k * kStripHeight, true);
  }

  const std::string dir = argv[2];
  const bool ok = save(face, dir, "face.bmp") && save(makeKeys(), dir, "keys.bmp") &&
                  save(overlay, dir, "overlay.bmp");
  return ok ? 0 : 1;
}
