// What the command-line tools share: argument errors that end the program
// with one line on stderr and exit status 2, hex digits, and the parse of
// the command line itself.
#pragma once

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <string>

#include "machine/hex.h"

namespace tarvo::cli {

// Something on the command line that cannot be used.
struct UsageError {
  std::string message;
};

[[noreturn]] inline void fail(std::string message) {
  throw UsageError{std::move(message)};
}

using tarvo::hexDigit;

// Parses the command line. Returns false when --help was asked for (the help
// is printed); a parse error becomes a one-line UsageError.
inline bool parseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return false;
  } catch (const CLI::ParseError& e) {
    std::string message = e.what();
    for (char& ch : message) {
      if (ch == '\n') ch = ' ';
    }
    fail(message);
  }
  return true;
}

// Runs a tool's main body: an argument error, or anything else thrown,
// ends it with "NAME: message" on stderr and exit status 2.
template <class Body>
int runTool(const char* name, Body&& body) {
  try {
    return body();
  } catch (const UsageError& e) {
    std::cout.flush();
    std::cerr << name << ": " << e.message << '\n';
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << name << ": " << e.what() << '\n';
  }
  return 2;
}

}  // namespace tarvo::cli
