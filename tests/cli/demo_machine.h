// The demo machine as the build makes it (machine-template/ of the build
// tree), copied into a scratch machine directory per test, and tarvo-run
// started on it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvo::demo {

namespace fs = std::filesystem;

// The build tree holds the tools in src/cli and the template at its top.
inline fs::path templateDir() {
  return fs::path(TARVO_BIN_DIR).parent_path().parent_path() / "machine-template";
}

inline bool templateHas(const char* name) {
  return fs::exists(templateDir() / name);
}

// The template's settings, which announce the disk drive, with another
// clock.
inline std::string settingsWithClock(const std::string& oscFreq) {
  std::ifstream in(templateDir() / "tarvo.ini");
  std::string out, line;
  bool clock = false;
  while (std::getline(in, line)) {
    if (line.rfind("OscFreq=", 0) == 0) {
      line = "OscFreq=" + oscFreq;
      clock = true;
    }
    out += line + "\n";
  }
  return clock ? out : "[Settings]\nOscFreq=" + oscFreq + "\n";
}

class MachineDir {
 public:
  // A fresh directory with the template's character set, ROMs and settings
  // (and the face bitmaps when the build made them); no RAM, no register
  // file.
  MachineDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
    for (const char* name : {"charset.bin", "rom0.bin", "rom1.bin", "face.bmp", "keys.bmp",
                             "overlay.bmp", "charmap.txt", "tarvo.ini"}) {
      std::error_code ec;
      if (templateHas(name)) fs::copy_file(templateDir() / name, path_ / name, ec);
    }
  }
  ~MachineDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  MachineDir(const MachineDir&) = delete;
  MachineDir& operator=(const MachineDir&) = delete;

  const fs::path& path() const { return path_; }
  bool has(const char* name) const { return fs::exists(path_ / name); }

 private:
  fs::path path_;
};

struct RunResult {
  int status = -1;
  std::vector<std::string> lines;  // stdout, line by line
};

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// tarvo-run on dir with the given arguments.
inline RunResult runTool(const fs::path& dir, const std::vector<std::string>& args) {
  std::string cmd =
      shellQuote(std::string(TARVO_BIN_DIR) + "/tarvo-run") + " --dir " + shellQuote(dir.string());
  for (const std::string& a : args) cmd += " " + shellQuote(a);
  RunResult r;
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe) return r;
  std::string out;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) r.lines.push_back(line);
  return r;
}

// tarvo-run types from run tick 100 on, one key every 10 ticks; the ticks
// needed for text of n keys plus time to work on them afterwards.
inline std::string ticksFor(std::size_t keys, int extra = 200) {
  return std::to_string(100 + 10 * keys + extra);
}

// Number of keys in a --type text: one per character or {NAME}.
inline std::size_t keyCount(const std::string& text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i, ++n) {
    if (text[i] == '{') i = text.find('}', i);
  }
  return n;
}

// The four LCD lines after typing text (empty: just booting).
inline RunResult screenAfter(const fs::path& dir, const std::string& text,
                             std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--ticks", ticksFor(keyCount(text)), "--lcd-chars"};
  if (!text.empty()) {
    args.push_back("--type");
    args.push_back(text);
  }
  args.insert(args.end(), more.begin(), more.end());
  return runTool(dir, args);
}

// A right-aligned result line as the calculator prints it.
inline std::string resultLine(const std::string& value) {
  return std::string(32 - value.size(), ' ') + value;
}

}  // namespace tarvo::demo
