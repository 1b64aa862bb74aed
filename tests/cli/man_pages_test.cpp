// Every option a program's --help shows is described in its manual page, and
// every option the page's OPTIONS section describes is one the program
// takes, so that neither can drift from the other.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  ::pclose(pipe);
  return out;
}

// The page with its escaped hyphens ("\-") made plain.
std::string manPage(const std::string& name) {
  std::ifstream in(std::string(TARVO_SOURCE_DIR) + "/docs/man/" + name + ".1");
  std::stringstream text;
  text << in.rdbuf();
  std::string page = text.str();
  for (std::size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at))
    page.erase(at, 1);
  return page;
}

bool optionChar(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-';
}

// Every "--name" in the line (a lower-case letter first, then letters,
// digits and hyphens).
void longOptions(const std::string& line, std::set<std::string>& options) {
  for (std::size_t at = line.find("--"); at != std::string::npos; at = line.find("--", at + 2)) {
    if (at + 2 >= line.size() || line[at + 2] < 'a' || line[at + 2] > 'z') continue;
    std::size_t end = at + 2;
    while (end < line.size() && optionChar(line[end])) ++end;
    options.insert(line.substr(at, end - at));
    at = end - 2;
  }
}

// The options of --help: the long ones anywhere on an option line (CLI11's
// "-h,--help", Qt's "-d, --dir <DIR>"), the short ones at its start.
std::set<std::string> helpOptions(const std::string& help) {
  std::set<std::string> options;
  std::istringstream in(help);
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == 0 || first == std::string::npos || line[first] != '-') continue;
    // A short option: "-h," or "-h " at the start.
    if (first + 2 < line.size() &&
        (std::isalpha(uint8_t(line[first + 1])) || line[first + 1] == '?') &&
        (line[first + 2] == ',' || line[first + 2] == ' '))
      options.insert(line.substr(first, 2));
    longOptions(line, options);
  }
  return options;
}

// The long options that head the entries (.TP) of the page's OPTIONS section.
std::set<std::string> pageOptions(const std::string& page) {
  std::set<std::string> options;
  std::istringstream in(page);
  bool inOptions = false, heading = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH", 0) == 0) inOptions = line.find("OPTIONS") != std::string::npos;
    if (!inOptions) continue;
    if (heading) longOptions(line, options);
    heading = line == ".TP";
  }
  return options;
}

bool mentions(const std::string& page, const std::string& option) {
  // The option as a word of its own: "--type" is not found in "--type-pace".
  for (std::size_t at = page.find(option); at != std::string::npos;
       at = page.find(option, at + 1)) {
    const std::size_t after = at + option.size();
    const bool endsThere = after == page.size() || !(std::isalnum(uint8_t(page[after])) ||
                                                     page[after] == '-' || page[after] == '_');
    const bool startsThere = at == 0 || page[at - 1] != '-';
    if (endsThere && startsThere) return true;
  }
  return false;
}

struct Program {
  std::string name, path;
};

std::vector<Program> programs() {
  std::vector<Program> list;
  for (const char* tool : {"tarvo-run", "tarvo-asm", "tarvo-dis", "tarvo-dap"})
    list.push_back({tool, std::string(TARVO_BIN_DIR) + "/" + tool});
#ifdef TARVO_GUI_BIN
  list.push_back({"tarvo", TARVO_GUI_BIN});
#endif
  return list;
}

TEST(ManPages, DescribeEveryOptionOfHelpAndNoOther) {
  for (const Program& program : programs()) {
    SCOPED_TRACE(program.name);
    // The window's help needs no display.
    const std::string help =
        output("env -u DISPLAY -u WAYLAND_DISPLAY '" + program.path + "' --help 2>&1");
    const std::string page = manPage(program.name);
    ASSERT_FALSE(page.empty()) << "no manual page";
    ASSERT_NE(help.find("Usage"), std::string::npos) << help;
    const std::set<std::string> shown = helpOptions(help);
    for (const std::string& option : shown)
      EXPECT_TRUE(mentions(page, option)) << option << " is missing from " << program.name << ".1";
    for (const std::string& option : pageOptions(page))
      EXPECT_TRUE(shown.count(option))
          << program.name << ".1 describes " << option << ", which --help does not show";
  }
}

}  // namespace
