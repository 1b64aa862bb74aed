// tarvo-basic: programs of the demo machine's BASIC as text.
//
//   tarvo-basic list DIR            the program in DIR's RAM, as LIST shows it
//   tarvo-basic load DIR FILE.bas   FILE's program into DIR's RAM, replacing it
//   tarvo-basic check FILE.bas      FILE read as load reads it, nothing written
//
// A line of FILE that cannot be stored is reported as FILE:LINE: message,
// and then nothing is written. The machine directory's RAM must already
// hold the demo BASIC (it has run once), and no emulator may have it open.

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "frontpanel/files.h"
#include "tools/basic_text.h"

namespace {

namespace basic = tarvo::basic;
using tarvo::cli::UsageError;

// The RAM image that holds BASIC's memory (segment 1).
constexpr const char* kRamFile = "ram0.bin";

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError{"cannot read " + path};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> readRam(const std::string& dir) {
  std::vector<uint8_t> ram(basic::kRamSize);
  const std::string path = tarvo::machinePath(dir, kRamFile);
  if (tarvo::loadFile(path, ram.data(), ram.size()) != tarvo::LoadResult::Complete)
    throw UsageError{"cannot read " + path + " (run the machine once to make it)"};
  return ram;
}

// FILE's program, its errors reported; exits with status 1 when there are any.
basic::Program readProgram(const std::string& file) {
  basic::Program p = basic::parse(readText(file));
  for (const basic::TextError& e : p.errors)
    std::cerr << file << ':' << e.line << ": " << e.message << '\n';
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  return tarvo::cli::runTool("tarvo-basic", [&]() -> int {
    CLI::App app{"Programs of the demo machine's BASIC as text."};
    app.require_subcommand(1);
    std::string dir, file;
    CLI::App* list = app.add_subcommand("list", "Print the program in DIR's RAM as LIST shows it");
    list->add_option("DIR", dir, "Machine directory")->required();
    CLI::App* load =
        app.add_subcommand("load", "Store the program of FILE in DIR's RAM, replacing it");
    load->add_option("DIR", dir, "Machine directory")->required();
    load->add_option("FILE", file, "Program text")->required();
    CLI::App* check = app.add_subcommand("check", "Read FILE as load does, writing nothing");
    check->add_option("FILE", file, "Program text")->required();
    if (!tarvo::cli::parseCommandLine(app, argc, argv)) return 0;

    if (*list) {
      const basic::Listing l = basic::list(readRam(dir));
      if (!l.ok) {
        std::cerr << "tarvo-basic: " << dir << ": " << l.error << '\n';
        return 1;
      }
      std::cout << l.text;
      return 0;
    }
    const basic::Program p = readProgram(file);
    if (!p.errors.empty()) return 1;
    if (*check) {
      std::cout << file << ": " << p.lines.size() << " lines, " << basic::programBytes(p)
                << " bytes\n";
      return 0;
    }
    std::vector<uint8_t> ram = readRam(dir);
    const std::string error = basic::store(ram, p);
    if (!error.empty()) {
      std::cerr << "tarvo-basic: " << file << ": " << error << '\n';
      return 1;
    }
    const std::string path = tarvo::machinePath(dir, kRamFile);
    if (!tarvo::saveFile(path, ram.data(), ram.size())) throw UsageError{"cannot write " + path};
    return 0;
  });
}
