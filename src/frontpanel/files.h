// Settings and state files of the front panel: whole-file load and save, the
// processor state file, the character set and the settings file.
//
// Every file lives in the machine directory and is named by its bare name
// ("rom0.bin", "register.bin", ...); the caller joins the two with
// machinePath().
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

struct Lcd;
struct ProcessorState;

// Where the front panel reports file problems. The window shows each as a
// warning box; the headless runner prints it on stderr.
struct Messages {
  virtual ~Messages() = default;
  virtual void loadFailed(const std::string& file) = 0;
  virtual void saveFailed(const std::string& file) = 0;
};

inline constexpr const char* kLoadFailedText = "Failed to load the file ";
inline constexpr const char* kSaveFailedText = "Failed to save the file ";

inline std::string loadFailedMessage(const std::string& file) {
  return kLoadFailedText + file;
}
inline std::string saveFailedMessage(const std::string& file) {
  return kSaveFailedText + file;
}

// dir joined with a bare file name; "" and "." give the name itself.
std::string machinePath(const std::string& dir, const std::string& name);

enum class LoadResult {
  Complete,    // all n bytes were read (a longer file gives its first n)
  Short,       // the file is missing or shorter than n: the rest stays 0xFF
  Unreadable,  // the file exists but could not be read (no permission, not a
               // regular file, I/O error): the rest stays 0xFF
};

// Fills all n bytes with 0xFF, then reads up to n bytes of the file from its
// start. Never blocks: anything that is not a regular file is Unreadable.
LoadResult loadFile(const std::string& path, uint8_t* buffer, std::size_t n);

// Holds SIGTERM, SIGINT and SIGHUP back in the calling thread while it
// lives; one that arrives meanwhile acts when the guard goes.
class ShutdownSignalsHeld {
 public:
  ShutdownSignalsHeld();
  ~ShutdownSignalsHeld();
  ShutdownSignalsHeld(const ShutdownSignalsHeld&) = delete;
  ShutdownSignalsHeld& operator=(const ShutdownSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Writes the n bytes to a temporary file beside path, flushes it to disk and
// renames it over path. A symbolic link is followed and stays: the file it
// names is the one written. The file itself is written over in place
// (write, flush) when a new file would lose something the user set up: it
// has other hard links, it belongs to another user, or its directory takes
// no new files. On failure the old file is left as it was. A shutdown
// signal waits until the file is in place (or the temporary one removed),
// so none is ever left half written; the temporary files of a save that was
// killed all the same are removed by the next save of that file.
bool saveFile(const std::string& path, const uint8_t* buffer, std::size_t n);

// Saves files that belong together (a recording's start state and its
// events): each is first written whole beside its name, and only when all
// are written do they replace the old ones, one right after the other. A
// failure before that leaves every old file as it was. Files that saveFile
// would write in place are saved one by one as saveFile saves them.
struct FileToSave {
  std::string path;
  const uint8_t* data = nullptr;
  std::size_t size = 0;
};
bool saveFiles(const std::vector<FileToSave>& files);

// True when something other than a directory exists at path.
bool fileExists(const std::string& path);

// The files that make a folder a machine directory: the memory images, the
// processor state, the character set, the face bitmaps and the settings.
inline constexpr const char* kMachineFileNames[] = {
    "rom0.bin",     "rom1.bin",    "rom2.bin", "rom3.bin", "ram0.bin",    "ram1.bin",
    "register.bin", "charset.bin", "face.bmp", "keys.bmp", "overlay.bmp", "tarvo.ini"};

// True when dir holds at least one of the machine's files. A folder with
// none of them is not a machine directory: starting there would only show
// a row of load failures and then write fresh RAM images into it.
bool isMachineDirectory(const std::string& dir);

// "register.bin": the 32 main registers, then SS and US little-endian.
constexpr std::size_t kRegisterFileSize = 36;
// Missing bytes read as 0xFF, so a missing file gives 0xFF registers and
// 0xFFFF stack pointers.
LoadResult loadRegisters(ProcessorState& c, const std::string& path);
bool saveRegisters(const ProcessorState& c, const std::string& path);

// "charset.bin": 256 glyphs of 8 column bytes, expanded into the glyph table
// two nibbles a byte. The expansion runs after a failure too, so missing
// glyph bytes show every dot set.
constexpr std::size_t kCharsetFileSize = 2048;
LoadResult loadCharset(Lcd& lcd, const std::string& path);

// "tarvo.ini", read once at start and never written.
struct Settings {
  int32_t oscFreq = 910;     // [Settings] OscFreq: cycles per millisecond
  int32_t optionCode = 255;  // [Settings] OptionCode: only the low 8 bits count
  std::string address;       // [Floppy Disk Drive] Address: dotted-decimal IPv4
  int32_t port = 0;          // [Floppy Disk Drive] Port
  // [Settings] RewindMemory: megabytes of rewind history the window keeps;
  // 0 turns rewind off.
  int32_t rewindMegabytes = 64;
};

// Section and key names match without regard to case; a missing file, key or
// unusable value gives the default.
Settings readSettings(const std::string& path);

// Integer of the settings file: decimal, or hexadecimal after "0x", "0X" or
// "$", with an optional sign; blanks around it do not count. Anything else,
// or a value beyond 32 bits, gives false.
bool parseSettingsInteger(const std::string& text, int32_t& value);

}  // namespace tarvo
