#include "debugger/debug_model.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "cpu/code_view.h"
#include "cpu/exec.h"
#include "cpu/memory.h"
#include "debugger/session.h"
#include "debugger/symbols.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/hex.h"
#include "tools/assembler.h"
#include "tools/disasm.h"

namespace tarvo {

namespace {

constexpr RegisterField paneField(std::string_view name) {
  const RegisterDef* r = findRegister(name);
  return {r->name, r->width / 4, r->mask, r};
}

}  // namespace

const std::array<RegisterField, kRegisterFieldCount> kRegisterFields = {
    paneField("PC"), paneField("SS"), paneField("US"), paneField("IX"), paneField("IY"),
    paneField("IZ"), paneField("SX"), paneField("SY"), paneField("SZ"), paneField("UA"),
    paneField("IA"), paneField("IB"), paneField("IE"),
};

const std::array<FlagField, 4> kFlagFields = {{
    {2, "Z ", "NZ", kFlagNZ, Shade::White},
    {4, "NC", "C ", kFlagC, Shade::Silver},
    {6, "LZ ", "NLZ", kFlagNLZ, Shade::White},
    {9, "UZ ", "NUZ", kFlagNUZ, Shade::Silver},
}};

namespace {

std::string hex(uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    s[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return s;
}

// Writes text into line at column, widening it with blanks.
void put(std::string& line, int column, std::string_view text) {
  const std::size_t at = static_cast<std::size_t>(column);
  if (line.size() < at + text.size()) line.resize(at + text.size(), ' ');
  std::copy(text.begin(), text.end(), line.begin() + static_cast<std::ptrdiff_t>(at));
}

Group groupOf(Pane p) {
  switch (p) {
    case Pane::List:
      return Group::List;
    case Pane::Reg:
      return Group::Reg;
    case Pane::Main:
      return Group::Main;
    case Pane::Bin:
      return Group::Bin;
  }
  return Group::List;
}

ScrollRange range(int position, int minimum, int maximum, int pageStep) {
  ScrollRange r;
  r.minimum = minimum;
  r.maximum = std::max(minimum, maximum);
  r.position = std::clamp(position, r.minimum, r.maximum);
  r.pageStep = pageStep;
  return r;
}

constexpr int kRegisterPaneLines = kRegisterFieldCount + 1;  // with the flag line
constexpr int kMainPaneLines = 2;
constexpr int kHexBytesColumn = 7;
constexpr int kHexCharsColumn = 55;
constexpr int kMainBytesColumn = 10;
constexpr int kFieldColumn = 4;  // register values

int mainByteColumn(int i) {
  return kMainBytesColumn + 3 * i + i / 4;
}

// Pane text of a byte as the hex editor's character column shows it.
char shownCharacter(uint8_t b) {
  return b < 32 || b > 126 ? '.' : static_cast<char>(b);
}

}  // namespace

uint16_t readRegisterField(const ProcessorState& c, int row) {
  const RegisterField& field = kRegisterFields[static_cast<std::size_t>(row)];
  return static_cast<uint16_t>(field.reg->get(c) & field.mask);
}

void writeRegisterField(ProcessorState& c, int row, uint16_t value) {
  const RegisterField& field = kRegisterFields[static_cast<std::size_t>(row)];
  field.reg->set(c, value & field.mask);
  if (field.reg->name == "UA") c.segmentLatch = c.UA;
}

std::string lineText(const PaneLine& line) {
  std::string s;
  for (const TextRun& run : line) put(s, run.column, run.text);
  return s;
}

std::vector<ListRow> listPaneRows(const Machine& m, uint32_t top, int region, int rows,
                                  const SymbolTable* symbols, uint32_t* after) {
  std::vector<ListRow> out;
  std::vector<ListingRow> listing(static_cast<std::size_t>(std::max(0, rows)));
  uint32_t end = top;
  const std::size_t n = listInstructions(m, top, region, listing, &end);
  if (symbols == nullptr || symbols->empty()) {
    for (std::size_t i = 0; i < n; ++i)
      out.push_back({formatListingRow(listing[i]), listing[i].address});
    if (after) *after = end;
    return out;
  }
  // Label rows take rows of the pane, so fewer instructions fit; the page
  // ends after the last instruction row drawn.
  uint32_t next = top;
  for (std::size_t i = 0; i < n && static_cast<int>(out.size()) < rows; ++i) {
    const ListingRow& line = listing[i];
    if (const std::string* name = symbols->nameAt(static_cast<uint16_t>(line.address))) {
      out.push_back({*name + ":", std::nullopt});
      if (static_cast<int>(out.size()) == rows) break;
    }
    ListingRow bare = line;
    bare.operands.clear();
    std::string text = formatListingRow(bare);
    if (!line.operands.empty()) {
      if (text.size() < static_cast<std::size_t>(kListOperandColumn))
        text.resize(kListOperandColumn, ' ');
      text += labelOperands(line.operands.view(), *symbols);
    }
    out.push_back({std::move(text), line.address});
    next = line.next;
  }
  if (after) *after = next;
  return out;
}

DebugModel::DebugModel(Machine& m, RunControl& run) : m_(m), run_(run) {
  create();
}

void DebugModel::setPaneSize(Pane p, int rows, int columns) {
  size_[static_cast<int>(p)] = Size{std::max(0, rows), std::max(0, columns)};
}

uint32_t DebugModel::currentInstruction() const {
  return physicalAddress(m_.cpu, codeSegment(m_.cpu), m_.cpu.PC);
}

void DebugModel::create() {
  closeField();
  view_.regTop = 0;
  view_.mainRow = 0;
  setHexView(static_cast<uint32_t>(regionStart(kRam0Row)));
  setListView(0x00000);
}

void DebugModel::show() {
  debugShow(run_);
  setListView(currentInstruction());
  activate(Group::List);
}

void DebugModel::hide() {
  closeField();
  debugHide(run_);
}

void DebugModel::setListView(uint32_t address) {
  const int region = regionOf(address);
  if (region < 0) {
    view_.listRegion = kRomRow;
    view_.listTop = static_cast<uint32_t>(regionStart(kRomRow));
  } else {
    view_.listRegion = region;
    view_.listTop = address;
  }
}

void DebugModel::setHexView(uint32_t address) {
  const int region = regionOf(address);
  if (region < 0 || !regionWritable(region)) {
    view_.binRegion = kRam0Row;
    view_.binTop = static_cast<uint32_t>(regionStart(kRam0Row));
  } else {
    view_.binRegion = region;
    view_.binTop = address & 0x3FFF0u;
  }
}

void DebugModel::activate(Group g) {
  active_ = g;
  closeField();
}

ScrollRange DebugModel::scrollRange(Pane p) const {
  const int rows = this->rows(p);
  switch (p) {
    case Pane::List: {
      const int32_t start = regionStart(view_.listRegion);
      const int32_t end = regionEnd(view_.listRegion);
      return range(static_cast<int32_t>(view_.listTop) - start, 0, end - start - rows,
                   listPageStep_);
    }
    case Pane::Reg: {
      const int shown = std::min(kRegisterPaneLines, rows);
      return range(view_.regTop, 0, kRegisterPaneLines - shown, shown - 1);
    }
    case Pane::Main: {
      const int shown = std::min(kMainPaneLines, rows);
      return range(view_.mainRow, 0, kMainPaneLines - shown, shown);
    }
    case Pane::Bin: {
      const int32_t start = regionStart(view_.binRegion);
      const int32_t end = regionEnd(view_.binRegion);
      return range((static_cast<int32_t>(view_.binTop) - start) / 16, 0, (end - start) / 16 - rows,
                   rows);
    }
  }
  return {};
}

PaneText DebugModel::paint(Pane p) {
  PaneText out;
  const int rows = this->rows(p);
  switch (p) {
    case Pane::List: {
      uint32_t after = view_.listTop;
      for (ListRow& row : listPaneRows(m_, view_.listTop, view_.listRegion, rows, symbols_, &after))
        out.lines.push_back({{0, std::move(row.text)}});
      // The page step is the bytes that this page covered, as long as the
      // page ended inside the region.
      if (static_cast<int32_t>(after) >= regionStart(view_.listRegion) &&
          static_cast<int32_t>(after) < regionEnd(view_.listRegion))
        listPageStep_ = static_cast<uint16_t>(after - view_.listTop);
      break;
    }
    case Pane::Reg: {
      const int shown = std::min(kRegisterPaneLines, rows);
      if (shown < 1) break;
      PaneLine flags{{0, "F:"}};
      for (const FlagField& f : kFlagFields)
        flags.push_back({f.column, (m_.cpu.F & f.bit) ? f.set : f.clear, f.shade});
      out.lines.push_back(std::move(flags));
      for (int r = 1; r < shown; ++r) {
        const int row = view_.regTop + r - 1;
        if (row >= kRegisterFieldCount) break;
        const RegisterField& field = kRegisterFields[static_cast<std::size_t>(row)];
        std::string text(field.name);
        text += ':';
        put(text, kFieldColumn, hex(readRegisterField(m_.cpu, row), field.digits));
        out.lines.push_back({{0, std::move(text)}});
      }
      break;
    }
    case Pane::Main: {
      const int shown = std::min(kMainPaneLines, rows);
      for (int r = 0; r < shown; ++r) {
        const int half = view_.mainRow + r;
        if (half > 1) break;
        std::string text = half == 0 ? "$00..$15:" : "$16..$31:";
        for (int i = 0; i < 16; ++i) put(text, mainByteColumn(i), hex(m_.cpu.R[16 * half + i], 2));
        out.lines.push_back({{0, std::move(text)}});
      }
      break;
    }
    case Pane::Bin: {
      const uint32_t end = static_cast<uint32_t>(regionEnd(view_.binRegion));
      uint32_t a = view_.binTop;
      for (int r = 0; r < rows && a < end; ++r, a += 16) {
        std::string text = hex(a, 5) + ":";
        for (int i = 0; i < 16; ++i) {
          const uint8_t b = readPhysical(m_, a + static_cast<uint32_t>(i));
          put(text, kHexBytesColumn + 3 * i, hex(b, 2));
          const char shown = shownCharacter(b);
          put(text, kHexCharsColumn + i, std::string_view(&shown, 1));
        }
        out.lines.push_back({{0, std::move(text)}});
      }
      break;
    }
  }
  out.scroll = scrollRange(p);
  return out;
}

void DebugModel::moveTo(Pane p, int position) {
  switch (p) {
    case Pane::List:
      view_.listTop = static_cast<uint32_t>(regionStart(view_.listRegion) + position);
      break;
    case Pane::Reg:
      view_.regTop = position;
      break;
    case Pane::Main:
      view_.mainRow = position;
      break;
    case Pane::Bin:
      view_.binTop = static_cast<uint32_t>(regionStart(view_.binRegion) + 16 * position);
      break;
  }
}

void DebugModel::scrolled(Pane p, int position) {
  const ScrollRange r = scrollRange(p);
  moveTo(p, std::clamp(position, r.minimum, r.maximum));
  activate(groupOf(p));
}

bool DebugModel::scrollKey(Pane p, ScrollKey key) {
  if (view_.editMode != EditMode::None) return false;
  const ScrollRange r = scrollRange(p);
  int to = r.position;
  switch (key) {
    case ScrollKey::PageUp:
      to -= r.pageStep;
      break;
    case ScrollKey::PageDown:
      to += r.pageStep;
      break;
    case ScrollKey::Home:
      to = r.minimum;
      break;
    case ScrollKey::End:
      to = r.maximum;
      break;
    case ScrollKey::Up:
      to -= r.lineStep;
      break;
    case ScrollKey::Down:
      to += r.lineStep;
      break;
  }
  to = std::clamp(to, r.minimum, r.maximum);
  if (to == r.position) return false;
  moveTo(p, to);
  return true;
}

std::optional<EditField> DebugModel::hitTest(Pane p, int row, int column) {
  const int rows = this->rows(p);
  const int col = column;
  if (row < 0 || col < 0) return std::nullopt;
  auto field = [row](EditMode mode, int32_t target, int c, int w, bool upper) {
    return EditField{mode, target, row, c, w, upper};
  };
  switch (p) {
    case Pane::List: {
      if (row >= rows) break;
      // Only a line that the listing draws can be replaced: the walk has to
      // reach it inside the region. A label row opens nothing; the address
      // field sits on the first instruction row (row 0 without labels).
      const std::vector<ListRow> shown =
          listPaneRows(m_, view_.listTop, view_.listRegion, rows, symbols_);
      int addressRow = 0;
      while (addressRow < static_cast<int>(shown.size()) && !shown[addressRow].address)
        ++addressRow;
      if (addressRow == static_cast<int>(shown.size())) addressRow = 0;
      if (row == addressRow && col < 5) return field(EditMode::ListAddress, 0, 0, 5, true);
      const int columns = this->columns(p);
      if (col >= kListMnemonicColumn && col < columns && row < static_cast<int>(shown.size()) &&
          shown[static_cast<std::size_t>(row)].address)
        return field(EditMode::ListInstruction,
                     static_cast<int32_t>(*shown[static_cast<std::size_t>(row)].address),
                     kListMnemonicColumn, columns - kListMnemonicColumn, false);
      break;
    }
    case Pane::Reg: {
      if (row == 0 && col >= 2 && col <= 11) {
        const int f = col < 4 ? 0 : col < 6 ? 1 : col < 9 ? 2 : 3;
        return field(EditMode::FlagToggled, f, kFlagFields[static_cast<std::size_t>(f)].column, 0,
                     false);
      }
      if (row < 1 || row >= std::min(rows, kRegisterPaneLines)) break;
      const int index = view_.regTop + row - 1;
      if (index >= kRegisterFieldCount) break;
      const int digits = kRegisterFields[static_cast<std::size_t>(index)].digits;
      if (col >= kFieldColumn && col < kFieldColumn + digits)
        return field(EditMode::Register, index, kFieldColumn, digits, true);
      break;
    }
    case Pane::Main: {
      if (row >= std::min(rows, kMainPaneLines) || view_.mainRow + row > 1) break;
      const int k = col - kMainBytesColumn;
      if (k < 0 || k >= 51 || k % 13 >= 11 || (k % 13) % 3 >= 2) break;
      const int b = (k - k / 13) / 3;
      return field(EditMode::RegisterFileByte, 16 * (view_.mainRow + row) + b, mainByteColumn(b), 2,
                   true);
    }
    case Pane::Bin: {
      if (row >= rows) break;
      if (row == 0 && col <= 4) return field(EditMode::HexAddress, 0, 0, 5, true);
      const uint32_t end = static_cast<uint32_t>(regionEnd(view_.binRegion));
      const uint32_t rowStart = view_.binTop + 16u * static_cast<uint32_t>(row);
      if (col >= kHexBytesColumn && col <= 54 && (col - kHexBytesColumn) % 3 != 2) {
        const int k = (col - kHexBytesColumn) / 3;
        const uint32_t target = rowStart + static_cast<uint32_t>(k);
        if (target < end)
          return field(EditMode::HexByte, static_cast<int32_t>(target), kHexBytesColumn + 3 * k, 2,
                       true);
      } else if (col >= kHexCharsColumn && col <= kHexCharsColumn + 15) {
        const uint32_t target = rowStart + static_cast<uint32_t>(col - kHexCharsColumn);
        if (target < end)
          return field(EditMode::HexCharacter, static_cast<int32_t>(target), col, 1, false);
      }
      break;
    }
  }
  return std::nullopt;
}

std::optional<EditField> DebugModel::click(Pane p, int row, int column) {
  activate(groupOf(p));
  const std::optional<EditField> hit = hitTest(p, row, column);
  if (!hit) return std::nullopt;
  view_.editMode = hit->mode;
  if (hit->mode == EditMode::FlagToggled) {
    m_.cpu.F ^= kFlagFields[static_cast<std::size_t>(hit->target)].bit;
  } else {
    view_.editTarget = hit->target;
  }
  return hit;
}

TypedText DebugModel::typed(EditBox box, TypedText text) const {
  const EditMode mode = view_.editMode;
  int radix = 0;
  switch (box) {
    case EditBox::List:
      if (mode == EditMode::ListAddress) radix = 16;
      break;
    case EditBox::Bin:
      if (mode == EditMode::HexAddress || mode == EditMode::HexByte) radix = 16;
      break;
    case EditBox::Reg:
    case EditBox::Main:
    case EditBox::Bp:
      radix = 16;
      break;
    case EditBox::Trace:
      radix = 10;
      break;
  }
  // Every box that filters also takes letters in upper case only.
  if (radix == 0) return text;
  upperCaseLetters(text.text);
  return filterDigits(std::move(text), radix);
}

EnterResult DebugModel::enter(std::u16string_view text) {
  const uint32_t value = readTypedHex(text);
  const int32_t target = view_.editTarget;
  switch (view_.editMode) {
    case EditMode::None:
    case EditMode::FlagToggled:
      return {};
    case EditMode::ListInstruction:
      return assembleAndStore(text);
    case EditMode::ListAddress:
      setListView(value);
      break;
    case EditMode::Register:
      writeRegisterField(m_.cpu, target, static_cast<uint16_t>(value));
      break;
    case EditMode::RegisterFileByte:
      reg(m_.cpu, static_cast<unsigned>(target)) = static_cast<uint8_t>(value);
      break;
    case EditMode::HexAddress:
      setHexView(value);
      break;
    case EditMode::HexByte:
      writePhysical(m_, static_cast<uint32_t>(target), static_cast<uint8_t>(value));
      break;
    case EditMode::HexCharacter:
      // An empty box writes nothing; a character beyond the byte range has
      // no code the machine could hold.
      if (!text.empty() && text[0] <= 0xFF)
        writePhysical(m_, static_cast<uint32_t>(target), static_cast<uint8_t>(text[0]));
      break;
  }
  closeField();
  return {true, -1, {}};
}

std::optional<EditField> DebugModel::tab(std::u16string_view text, bool backward) {
  if (!tabAdvances()) return std::nullopt;
  const EditMode mode = view_.editMode;
  const int64_t next = static_cast<int64_t>(view_.editTarget) + (backward ? -1 : 1);
  enter(text);
  const int rows = this->rows(Pane::Bin);
  if (rows <= 0 || next < regionStart(view_.binRegion) || next >= regionEnd(view_.binRegion))
    return std::nullopt;
  // A field is only open on a row in view, so the next byte is at most one
  // row outside it.
  const int64_t top = view_.binTop;
  if (next < top) view_.binTop -= 16;
  if (next >= top + 16 * rows) view_.binTop += 16;
  const int row = static_cast<int>((next - view_.binTop) / 16);
  const int k = static_cast<int>(next & 15);
  view_.editMode = mode;
  view_.editTarget = static_cast<int32_t>(next);
  if (mode == EditMode::HexByte)
    return EditField{mode, view_.editTarget, row, kHexBytesColumn + 3 * k, 2, true};
  return EditField{mode, view_.editTarget, row, kHexCharsColumn + k, 1, false};
}

namespace {

// Up to four hex digits (after an optional "&H"), blanks around them
// allowed: a 16-bit address.
std::optional<uint16_t> shortHexAddress(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() > 2 && (text.substr(0, 2) == "&H" || text.substr(0, 2) == "&h"))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 4) return std::nullopt;
  uint16_t value = 0;
  for (char ch : text) {
    const int digit = hexDigit(static_cast<unsigned char>(ch));
    if (digit < 0) return std::nullopt;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

std::string fiveHex(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%05X", static_cast<unsigned>(address));
  return text;
}

}  // namespace

bool DebugModel::goTo(std::string_view text, std::string* error) {
  // Five hex digits are a full address, as the address fields take them;
  // fewer, and a label, are a 16-bit address in the segment the code runs
  // in. A label the symbols define wins over the hex digits that spell it.
  bool label = false;
  std::optional<uint32_t> address = parseTypedAddress(text, symbols_, error, &label);
  if (address && (label || shortHexAddress(text)))
    address = codeSegmentAddress(m_.cpu, static_cast<uint16_t>(*address));
  if (!address) return false;
  // An address the pane cannot show is refused, rather than the view
  // landing somewhere else without a word.
  const int region = regionOf(*address);
  const bool hex = active_ == Group::Bin;
  if (region < 0 || (hex && !regionWritable(region))) {
    if (error)
      *error = fiveHex(*address) +
               (region < 0 ? ": no memory there" : ": not RAM (the hex editor shows RAM)");
    return false;
  }
  if (hex) {
    setHexView(*address);
    activate(Group::Bin);
  } else {
    setListView(*address);
    activate(Group::List);
  }
  return true;
}

bool DebugModel::wordOrganised(uint32_t address) {
  CodeView code(m_, address);
  code.fetch();
  return code.wordOrganised();
}

EnterResult DebugModel::assembleAndStore(std::u16string_view text) {
  const uint32_t target = static_cast<uint32_t>(view_.editTarget);
  const bool word = wordOrganised(target);
  // The assembler reads single-byte text; a character it cannot know stays
  // in its place, so that an error position still points at it.
  std::string line(text.size(), ' ');
  for (std::size_t i = 0; i < text.size(); ++i)
    line[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '\x7F';
  const AsmResult r = assembleEditLine(line, static_cast<uint16_t>(target), word);
  if (r.errorPos > 0)
    return {false, r.errorPos - 1,
            "Error at column " + std::to_string(r.errorPos) + ": " + r.message};

  // The bytes go where a read of the address finds them, so code in ROM can
  // be patched; an address that no row holds keeps reading 0xFF.
  if (!word) {
    for (int i = 0; i < r.length; ++i) {
      if (uint8_t* at = readLocation(m_, target + static_cast<uint32_t>(i)))
        *at = r.bytes[static_cast<std::size_t>(i)];
    }
  } else {
    for (int i = 0; i < r.length; i += 2) {
      const uint32_t a = target + static_cast<uint32_t>(i / 2);
      uint8_t* at = readLocation(m_, a);
      if (!at) continue;
      uint32_t shift = 0;
      readPhysical(m_, a, &shift);
      at[0] = r.bytes[static_cast<std::size_t>(i)];
      // Only a word-organised row has the second byte of the word there.
      if (shift == 1) at[1] = r.bytes[static_cast<std::size_t>(i + 1)];
    }
  }
  closeField();
  return {true, -1, {}};
}

void DebugModel::singleStep() {
  closeField();
  step(m_);
  setListView(currentInstruction());
  activate(Group::Step);
}

bool DebugModel::traceRun(std::u16string_view text) {
  const int32_t n = readTraceCount(text);
  activate(Group::Trace);
  if (n <= 0) return false;
  run_.breakpointAddress = -1;
  run_.traceCount = n;
  return true;
}

bool DebugModel::breakpointRun(std::u16string_view text) {
  const int32_t address = readBreakpointAddress(text);
  activate(Group::Bp);
  run_.breakpointAddress = address;
  run_.traceCount = -1;
  return true;
}

}  // namespace tarvo
