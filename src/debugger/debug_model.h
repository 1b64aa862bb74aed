// The debug window without a window: the text of its four panes, the view
// behind each pane, scrolling, the hit test that turns a click into an
// editable field, the commit of every field kind, and the buttons that step,
// trace and run to a breakpoint. The Qt form measures its font, draws the
// rows this model gives it and forwards its events here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/text_input.h"
#include "frontpanel/run_control.h"
#include "machine/registers.h"

namespace tarvo {

struct Machine;
struct ProcessorState;
class SymbolTable;

// The four text panes.
enum class Pane { List, Reg, Main, Bin };
constexpr int kPaneCount = 4;

// The seven groups of the window; at most one is active (blue caption).
enum class Group { List, Reg, Step, Trace, Bp, Main, Bin };
constexpr int kGroupCount = 7;

// The window's edit boxes: one per pane, and the two of the run groups.
enum class EditBox { List, Reg, Main, Bin, Trace, Bp };

// Which in-place field is open.
enum class EditMode : uint8_t {
  None = 0,
  ListAddress = 1,
  ListInstruction = 2,
  Register = 3,
  FlagToggled = 4,  // a click on the flag line; no box opens
  RegisterFileByte = 5,
  HexAddress = 6,
  HexByte = 7,
  HexCharacter = 8,
};

// One row of the register pane.
struct RegisterField {
  std::string_view name;  // shown with a colon after it
  int digits;             // 2: one byte, 4: 16 bits
  uint16_t mask;
  const RegisterDef* reg;
};
constexpr int kRegisterFieldCount = 13;
extern const std::array<RegisterField, kRegisterFieldCount> kRegisterFields;

// The value of register-pane row `row`, masked as the pane shows it.
uint16_t readRegisterField(const ProcessorState& c, int row);
// Stores value AND the row's mask; a new UA also goes to the fetch segment
// latch, so that the next instruction is already fetched with it.
void writeRegisterField(ProcessorState& c, int row, uint16_t value);

// Background of a piece of pane text.
enum class Shade { Pane, White, Silver };

// One field of the flag line: its text for the bit clear and set.
struct FlagField {
  int column;
  const char* clear;
  const char* set;
  uint8_t bit;
  Shade shade;
};
extern const std::array<FlagField, 4> kFlagFields;

struct TextRun {
  int column = 0;
  std::string text;
  Shade shade = Shade::Pane;
};
using PaneLine = std::vector<TextRun>;

// The line as one string, blanks between the runs.
std::string lineText(const PaneLine& line);

struct ScrollRange {
  int position = 0;  // as the bar shows it: inside [minimum, maximum]
  int minimum = 0;
  int maximum = 0;
  int pageStep = 1;
  int lineStep = 1;
};

struct PaneText {
  std::vector<PaneLine> lines;  // at most the pane's rows
  ScrollRange scroll;
};

// A field that a click opened: the mode, the target, and where the pane's
// edit box goes, in character cells of the pane.
struct EditField {
  EditMode mode = EditMode::None;
  int32_t target = 0;  // address, register-pane row, register number or flag field
  int row = 0;
  int column = 0;
  int width = 0;  // cells, also the longest text the box takes
  bool upperCase = false;
};

enum class ScrollKey { PageUp, PageDown, Home, End, Up, Down };

struct EnterResult {
  bool closed = false;  // the field has closed
  int caret = -1;       // where the caret goes when the line could not be assembled
  std::string status;   // for the status line: why the line could not be assembled
};

// One row of the disassembly pane: an instruction line, or, while labels are
// loaded, the row "label:" before the line that a label names.
struct ListRow {
  std::string text;
  std::optional<uint32_t> address;  // full address of an instruction line; none on a label row
};

// The rows of the disassembly pane from the full address `top` in region
// `region`, at most `rows` of them. Without labels (symbols null or empty)
// every row is a listing line. With labels, operands that name a label show
// it, and a line whose 16-bit address a label names follows a label row.
// *after receives the address after the last instruction row (`top` when
// there is none).
std::vector<ListRow> listPaneRows(const Machine& m, uint32_t top, int region, int rows,
                                  const SymbolTable* symbols, uint32_t* after = nullptr);

// View state of the debug window; it lives as long as the model, so a
// reopened window shows the same positions.
struct DebugView {
  uint32_t listTop = 0;  // full address of the first disassembly line
  int listRegion = 0;    // region row 0..4 the disassembly walks in
  int regTop = 0;        // first register-pane row shown below the flag line
  int mainRow = 0;       // first half of the register file shown: 0 or 1
  uint32_t binTop = 0;   // first hex row, a multiple of 16
  int binRegion = 0;     // region row of the hex editor
  EditMode editMode = EditMode::None;
  int32_t editTarget = 0;
};

class DebugModel {
 public:
  // Creates the view state (DebugCreate).
  DebugModel(Machine& m, RunControl& run);

  Machine& machine() { return m_; }
  // Labels for the disassembly and for addresses typed into the Go to box;
  // null or empty leaves the panes exactly as without them.
  void setSymbols(const SymbolTable* symbols) { symbols_ = symbols; }
  const DebugView& view() const { return view_; }
  DebugView& view() { return view_; }

  // Pane sizes in character cells, from the window's font cell.
  void setPaneSize(Pane p, int rows, int columns);
  int rows(Pane p) const { return size_[static_cast<int>(p)].rows; }
  int columns(Pane p) const { return size_[static_cast<int>(p)].columns; }

  std::optional<Group> activeGroup() const { return active_; }

  // The address of the next instruction: PC in the segment of the fetch
  // latch, by the common-area rule.
  uint32_t currentInstruction() const;

  // Window events.
  void create();  // field closed, views at their first positions
  void show();    // machine stopped, runs disarmed, listing at the current instruction
  void hide();    // field closed, machine resumes after the delay

  // View setters with their fallbacks.
  void setListView(uint32_t address);
  void setHexView(uint32_t address);

  // Focus moves to g: its caption turns blue and any field closes.
  void activate(Group g);
  void closeField() { view_.editMode = EditMode::None; }

  // The rows of a pane as they are drawn, and its scroll bar. Drawing the
  // disassembly also sets its page step to the bytes the page covered.
  PaneText paint(Pane p);
  // The scroll bar as the last paint left it.
  ScrollRange scrollRange(Pane p) const;

  // The user moved the pane's scroll bar to position.
  void scrolled(Pane p, int position);
  // A scroll key in the pane's edit box. Only with no field open, and only
  // when the view moves; returns whether it moved (the key is used up).
  bool scrollKey(Pane p, ScrollKey key);

  // The field under a character cell of a pane, or nothing. Changes no
  // state (the disassembly decodes with the processor state restored).
  std::optional<EditField> hitTest(Pane p, int row, int column);
  // A mouse press: activates the pane's group, then opens the field under
  // the cell or toggles the flag under it. Returns the field opened.
  std::optional<EditField> click(Pane p, int row, int column);

  // Case and digit filter of an edit box whose text the user changed.
  TypedText typed(EditBox box, TypedText text) const;
  // Enter and Escape in a pane's edit box.
  EnterResult enter(std::u16string_view text);
  void escape() { closeField(); }
  // Tab (or Shift+Tab, backward) in a hex-byte or hex-character field:
  // commits as Enter, then opens the same kind of field on the next (or
  // previous) byte, moving the view by one row when that byte is outside
  // it. Nothing opens past either end of the region. Returns the field
  // opened; in any other field nothing happens (see tabAdvances).
  std::optional<EditField> tab(std::u16string_view text, bool backward);
  bool tabAdvances() const {
    return view_.editMode == EditMode::HexByte || view_.editMode == EditMode::HexCharacter;
  }

  // The Go to box: five hex digits (a full address), up to four, a label or
  // label+HEX (in the current code segment) set the view of the hex editor
  // when it is the active pane, else of the disassembly, and activate that
  // pane. False, with *error set, when the text is none of these or names
  // an address the pane cannot show (no memory; not RAM for the hex editor).
  bool goTo(std::string_view text, std::string* error = nullptr);

  // The three Run buttons. traceRun and breakpointRun return whether the
  // window is to hide now (the run is armed).
  void singleStep();
  bool traceRun(std::u16string_view text);
  bool breakpointRun(std::u16string_view text);

 private:
  struct Size {
    int rows = 0;
    int columns = 0;
  };

  EnterResult assembleAndStore(std::u16string_view text);
  bool wordOrganised(uint32_t address);
  void moveTo(Pane p, int position);

  Machine& m_;
  RunControl& run_;
  DebugView view_;
  std::array<Size, kPaneCount> size_{};
  std::optional<Group> active_;
  int listPageStep_ = 1;
  const SymbolTable* symbols_ = nullptr;
};

}  // namespace tarvo
