// The cross-assembler's line information checked against its own listing
// and image, and the JSON form of it written and read back.
#include "tools/debug_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tools/xasm.h"

namespace tarvo {
namespace {

std::string hex4(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v);
  return buf;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string trimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// One source line as the listing shows it: its address column, every byte
// listed for it and its text.
struct Listed {
  std::string address;
  std::vector<uint8_t> bytes;
  std::string text;
};

std::vector<Listed> parseListing(const std::string& listing) {
  std::vector<Listed> rows;
  for (const std::string& row : splitLines(listing)) {
    // Address (6 columns), four byte columns of 3, a blank, the source text.
    const bool continuation = row.size() > 6 && row.size() <= 18 && !rows.empty();
    if (!continuation) {
      rows.push_back({row.substr(0, std::min<std::size_t>(row.find(' '), 5)),
                      {},
                      row.size() > 19 ? row.substr(19) : std::string()});
    }
    for (std::size_t col = 6; col + 2 <= std::min<std::size_t>(row.size(), 18); col += 3) {
      if (row[col] == ' ') continue;
      rows.back().bytes.push_back(
          static_cast<uint8_t>(std::stoul(row.substr(col, 2), nullptr, 16)));
    }
  }
  return rows;
}

// The program's source lines in the order the assembler reads them, includes
// expanded in place, found independently of the assembler.
struct SourcePos {
  std::string file;
  int line = 0;
  std::string text;
};

void expand(const std::string& path, const SourceReader& reader, std::vector<SourcePos>& out,
            std::vector<std::string>& files) {
  if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
  const std::optional<std::string> text = reader(path);
  ASSERT_TRUE(text) << path;
  int number = 0;
  for (const std::string& line : splitLines(*text)) {
    out.push_back({path, ++number, line});
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t word = lower.find_first_not_of(" \t");
    if (word != std::string::npos && lower.compare(word, 8, "include ") == 0) {
      const std::size_t open = line.find('"');
      const std::size_t close = line.find('"', open + 1);
      const std::string name = line.substr(open + 1, close - open - 1);
      expand((std::filesystem::path(path).parent_path() / name).string(), reader, out, files);
    }
  }
}

// Every listed line with bytes has exactly one XasmLine, in the same order,
// with its file, line, address and length; the bytes of the ranges are the
// image's; the image outside the ranges is unfilled; the JSON round-trips.
void checkLineInformation(const std::string& path, const XasmOptions& options,
                          const SourceReader& reader) {
  SCOPED_TRACE(path);
  const XasmOutput out = assembleProgram(path, options, reader);
  ASSERT_TRUE(out.ok()) << formatXasmError(out.errors[0]);
  const uint32_t unit = options.word ? 2 : 1;

  std::vector<SourcePos> source;
  std::vector<std::string> files;
  expand(path, reader, source, files);
  EXPECT_EQ(out.files, files);
  const std::vector<Listed> listed = parseListing(out.listing);
  ASSERT_EQ(listed.size(), source.size());

  std::vector<bool> covered(out.image.size(), false);
  std::size_t next = 0;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(source[i].file + ":" + std::to_string(source[i].line));
    ASSERT_EQ(listed[i].text, trimRight(source[i].text));
    if (listed[i].bytes.empty()) continue;
    ASSERT_LT(next, out.lines.size());
    const XasmLine& l = out.lines[next++];
    ASSERT_GE(l.file, 0);
    ASSERT_LT(static_cast<std::size_t>(l.file), out.files.size());
    EXPECT_EQ(out.files[static_cast<std::size_t>(l.file)], source[i].file);
    EXPECT_EQ(l.line, source[i].line);
    EXPECT_EQ(hex4(l.address), listed[i].address);
    const std::size_t bytes = std::size_t{l.length} * unit;
    if (listed[i].bytes.size() != bytes) {
      // A long ds fill is listed by its first row only.
      EXPECT_NE(source[i].text.find("ds "), std::string::npos);
      EXPECT_EQ(listed[i].bytes.size(), 4u);
      EXPECT_GT(bytes, 4u);
    }
    ASSERT_GE(l.address, out.imageBase);
    const std::size_t first = std::size_t{l.address - out.imageBase} * unit;
    ASSERT_LE(first + bytes, out.image.size());
    for (std::size_t k = 0; k < bytes; ++k) {
      EXPECT_FALSE(covered[first + k]) << "overlap at image byte " << first + k;
      covered[first + k] = true;
      if (k < listed[i].bytes.size()) {
        EXPECT_EQ(out.image[first + k], listed[i].bytes[k]);
      }
    }
  }
  EXPECT_EQ(next, out.lines.size());
  for (std::size_t k = 0; k < out.image.size(); ++k) {
    if (!covered[k]) {
      ASSERT_EQ(out.image[k], 0xFF) << "image byte " << k << " stored by no line";
    }
  }

  std::string why;
  const std::optional<DebugInfo> info = parseDebugInfo(debugInfoJson(out, options.word), &why);
  ASSERT_TRUE(info) << why;
  EXPECT_EQ(info->word, options.word);
  EXPECT_EQ(info->files, out.files);
  ASSERT_EQ(info->lines.size(), out.lines.size());
  for (std::size_t i = 0; i < out.lines.size(); ++i) {
    const XasmLine& a = out.lines[i];
    const XasmLine& b = info->lines[i];
    EXPECT_EQ(std::tie(a.file, a.line, a.address, a.length),
              std::tie(b.file, b.line, b.address, b.length));
  }
  ASSERT_EQ(info->symbols.size(), out.symbols.size());
  for (std::size_t i = 0; i < out.symbols.size(); ++i) {
    EXPECT_EQ(info->symbols[i].name, out.symbols[i].name);
    EXPECT_EQ(info->symbols[i].value, out.symbols[i].value);
  }
}

TEST(DebugInfo, DemoFirmwareLinesMatchItsListingAndImage) {
  const std::string dir = std::string(TARVO_SOURCE_DIR) + "/firmware/demo/";
  XasmOptions rom0;
  rom0.word = true;
  rom0.base = 0;
  rom0.size = 6144;
  checkLineInformation(dir + "rom0.s", rom0, readSourceFile);
  XasmOptions rom1;
  rom1.base = 0;
  rom1.size = 65536;
  checkLineInformation(dir + "rom1.s", rom1, readSourceFile);
}

// Sources held in memory, by path.
SourceReader memoryReader(const std::map<std::string, std::string>& files) {
  return [files](const std::string& path) -> std::optional<std::string> {
    const auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  };
}

const std::map<std::string, std::string> kProgram = {
    {"prog/main.s",
     "; every kind of statement, and a file included twice\n"
     "        include \"lib/defs.s\"\n"
     "        org START\n"
     "start:  ld $1,COUNT\n"
     "loop:   sb $1,1\n"
     "\tjr nz,loop          ; tab before the mnemonic\n"
     "        cal sub\n"
     "        jp ($5)\n"
     "        ld $1,$2,jr loop\n"
     "        nop\n"
     "        include \"lib/table.s\"\n"
     "        ds 3\n"
     "        ds 0,&h55\n"
     "        ds 9,&hA5\n"
     "        org START+&h40\n"
     "sub:    ldw $4,&hBEEF\n"
     "        rtn\r\n"
     "        include \"lib/table.s\"\n"
     "        dw &h1234,-2,sub\n"
     "        db \"text\",0\n"},
    {"prog/lib/defs.s", "START   equ &h120\nCOUNT   equ 5\n\n"},
    {"prog/lib/table.s", "        db 1,2,3\n        ds 2,7\n"},
};

TEST(DebugInfo, IncludesOrgAndDataInByteAndWordMemory) {
  for (const bool word : {false, true}) {
    SCOPED_TRACE(word ? "word" : "byte");
    XasmOptions options;
    options.word = word;
    checkLineInformation("prog/main.s", options, memoryReader(kProgram));
    options.base = 0x100;
    options.size = 0x200;
    checkLineInformation("prog/main.s", options, memoryReader(kProgram));
  }
  // Spot checks of what the comparison above takes from the listing.
  const XasmOutput out = assembleProgram("prog/main.s", {}, memoryReader(kProgram));
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.files,
            (std::vector<std::string>{"prog/main.s", "prog/lib/defs.s", "prog/lib/table.s"}));
  ASSERT_FALSE(out.lines.empty());
  EXPECT_EQ(
      std::tie(out.lines[0].file, out.lines[0].line, out.lines[0].address, out.lines[0].length),
      std::make_tuple(0, 4, 0x120u, 3u));
  const auto table = std::count_if(out.lines.begin(), out.lines.end(),
                                   [](const XasmLine& l) { return l.file == 2; });
  EXPECT_EQ(table, 4);  // db and ds of each of the two inclusions
}

// A file name may hold any bytes; JSON only UTF-8.
TEST(DebugInfo, FileNamesThatAreNotUtf8StillGiveJson) {
  XasmOutput out;
  out.files = {"caf\xE9.s"};
  out.lines = {{0, 1, 0xFFFF, 1}};
  std::string why;
  const std::optional<DebugInfo> info = parseDebugInfo(debugInfoJson(out, true), &why);
  ASSERT_TRUE(info) << why;
  EXPECT_EQ(info->files, std::vector<std::string>{"caf\xEF\xBF\xBD.s"});
  EXPECT_EQ(info->lines[0].address, 0xFFFFu);
}

// A valid document to break.
std::string sampleJson() {
  XasmOutput out = assembleProgram("prog/main.s", {}, memoryReader(kProgram));
  out.lines.resize(2);
  out.symbols.resize(2);
  return debugInfoJson(out, false);
}

TEST(DebugInfo, ParsingRefusesWhatIsNotDebugInformation) {
  const std::string good = sampleJson();
  std::string why;
  ASSERT_TRUE(parseDebugInfo(good, &why)) << why;

  // Every truncation is refused with a reason.
  for (std::size_t n = 0; n + 2 < good.size(); ++n) {
    why.clear();
    EXPECT_FALSE(parseDebugInfo(good.substr(0, n), &why)) << n;
    EXPECT_FALSE(why.empty()) << n;
  }

  const std::string lines = R"("files": ["a.s"], "labels": [], "lines": )";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "not JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"word": false, "files": [], "lines": [], "labels": []})", "\"version\" is missing"},
      {R"({"version": 2, "word": false, "files": [], "lines": [], "labels": []})",
       "unsupported version 2"},
      {R"({"version": 1, "word": 0, "files": [], "lines": [], "labels": []})",
       "\"word\" is not true or false"},
      {R"({"version": 1, "word": true, "files": [7], "lines": [], "labels": []})",
       "files[0] is not a string"},
      {R"({"version": 1, "word": true, "files": []})", "\"lines\" is missing"},
      {R"({"version": 1, "word": true, )" + lines + "[3]}", "lines[0]: not an object"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": 8192, "length": 1, "file": 0, "line": 1}]})",
       "lines[0]: \"address\" is not 1 to 4 hex digits"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": "2000", "length": 0, "file": 0, "line": 1}]})",
       "lines[0]: \"length\" out of range 1..65536"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": "2000", "length": 1.5, "file": 0, "line": 1}]})",
       "lines[0]: \"length\" is not a whole number"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": "FFFF", "length": 2, "file": 0, "line": 1}]})",
       "lines[0]: the range runs past address FFFF"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": "2000", "length": 1, "file": 1, "line": 1}]})",
       "lines[0]: \"file\" out of range 0..0"},
      {R"({"version": 1, "word": true, "files": [], "labels": [], "lines": )"
       R"([{"address": "2000", "length": 1, "file": 0, "line": 1}]})",
       "lines[0]: \"file\" names no entry (the list is empty)"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": "2000", "length": 1, "file": 0, "line": 18446744073709551615}]})",
       "lines[0]: \"line\" out of range 1..2147483647"},
      {R"({"version": 1, "word": true, )" + lines +
           R"([{"address": "2000", "length": 1, "file": 0}]})",
       "lines[0]: \"line\" is missing"},
      {R"({"version": 1, "word": true, "files": [], "lines": [], "labels": [{"name": ""}]})",
       "labels[0]: \"name\" is not a name"},
      {std::string(100000, '['), "nested too deeply"},
      {"{\"version\": 1, \"files\": [\"\xFF\"]}", "not JSON"},
  };
  for (const auto& [text, message] : cases) {
    why.clear();
    EXPECT_FALSE(parseDebugInfo(text, &why)) << text.substr(0, 80);
    EXPECT_NE(why.find(message), std::string::npos) << text.substr(0, 80) << "\n" << why;
  }
  EXPECT_FALSE(parseDebugInfo("nonsense", nullptr));

  // Any single changed character gives either a message or information that
  // keeps its promises; never an exception.
  const std::string replacements = std::string("\"{}[]:,0-9x \\", 13) + '\0' + '\xFF';
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (const char c : replacements) {
      std::string text = good;
      text[i] = c;
      why.clear();
      const std::optional<DebugInfo> info = parseDebugInfo(text, &why);
      if (!info) {
        EXPECT_FALSE(why.empty()) << text;
        continue;
      }
      for (const XasmLine& l : info->lines) {
        EXPECT_LT(static_cast<std::size_t>(l.file), info->files.size()) << text;
        EXPECT_GT(l.length, 0u) << text;
        EXPECT_LE(l.address + l.length, 0x10000u) << text;
        EXPECT_GE(l.line, 1) << text;
      }
    }
  }
}

}  // namespace
}  // namespace tarvo
