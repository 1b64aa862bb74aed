// Every option a program's --help shows is described in its manual page, and
// every option the page's OPTIONS section describes is one the program
// takes, so that neither can drift from the other.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <regex>
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
  return std::regex_replace(text.str(), std::regex(R"(\\-)"), "-");
}

// The options of --help: the long ones anywhere on an option line (CLI11's
// "-h,--help", Qt's "-d, --dir <DIR>"), the short ones at its start.
std::set<std::string> helpOptions(const std::string& help) {
  std::set<std::string> options;
  std::istringstream in(help);
  const std::regex optionLine(R"(^\s+-)"), longOption(R"(--[a-z][a-z0-9-]*)"),
      shortOption(R"(^\s+(-[a-zA-Z?])[, ])");
  for (std::string line; std::getline(in, line);) {
    if (!std::regex_search(line, optionLine)) continue;
    std::smatch m;
    if (std::regex_search(line, m, shortOption)) options.insert(m[1]);
    for (std::sregex_iterator it(line.begin(), line.end(), longOption), end; it != end; ++it)
      options.insert(it->str());
  }
  return options;
}

// The long options that head the entries (.TP) of the page's OPTIONS section.
std::set<std::string> pageOptions(const std::string& page) {
  std::set<std::string> options;
  std::istringstream in(page);
  bool inOptions = false, heading = false;
  const std::regex longOption(R"(--[a-z][a-z0-9-]*)");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH", 0) == 0) inOptions = line.find("OPTIONS") != std::string::npos;
    if (!inOptions) continue;
    if (heading)
      for (std::sregex_iterator it(line.begin(), line.end(), longOption), end; it != end; ++it)
        options.insert(it->str());
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
