// tarvo-disk: the disk server for the drive on the machine's I/O port. It
// keeps each program that BASIC saves as a file in DIR and serves SAVE,
// LOAD, FILES and KILL over the byte protocol of docs/disk.md.
//
//   tarvo-disk DIR [--port N] [--address A] [--timeout SECONDS]
//              [--max-file BYTES] [--max-files N] [--max-bytes BYTES]
//
// It listens on 127.0.0.1 unless told otherwise, prints the address it
// serves on once it does, logs each command on stderr, and stops on SIGINT
// or SIGTERM.

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/cli_common.h"
#include "disk/disk_server.h"
#include "disk/disk_store.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
  stopRequested = true;
}

const char* statusText(tarvo::disk::Status s) {
  using tarvo::disk::Status;
  switch (s) {
    case Status::Ok:
      return "done";
    case Status::BadCommand:
      return "bad command";
    case Status::BadName:
      return "bad name";
    case Status::NotFound:
      return "not found";
    case Status::TooBig:
      return "too big";
    case Status::DiskFull:
      return "disk full";
    case Status::IoError:
      return "i/o error";
  }
  return "?";
}

const char* commandText(char c) {
  switch (c) {
    case 'S':
      return "SAVE";
    case 'L':
      return "LOAD";
    case 'F':
      return "FILES";
    case 'K':
      return "KILL";
  }
  return "command";
}

}  // namespace

int main(int argc, char** argv) {
  return tarvo::cli::runTool("tarvo-disk", [&] {
    CLI::App app{"Disk server for the Tarvo demo machine's drive"};
    std::string dir;
    tarvo::disk::ServerOptions options;
    tarvo::disk::Limits limits;
    double timeoutSeconds = options.idleTimeoutMs / 1000.0;
    app.add_option("DIR", dir, "Directory that holds the saved programs")->required();
    app.add_option("--port", options.port, "TCP port to listen on (0: any free one)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--address", options.address, "IPv4 address to listen on");
    app.add_option("--timeout", timeoutSeconds,
                   "Seconds a connection may stay silent before it is dropped")
        ->check(CLI::Range(0.01, 3600.0));
    app.add_option("--max-file", limits.maxFileBytes, "Largest file in bytes (at most 65535)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--max-files", limits.maxFiles, "Most files the directory may hold")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--max-bytes", limits.maxDirBytes, "Most bytes the directory may hold");
    if (!tarvo::cli::parseCommandLine(app, argc, argv)) return 0;
    options.idleTimeoutMs = static_cast<int>(timeoutSeconds * 1000);

    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) tarvo::cli::fail("not a directory: " + dir);

    tarvo::disk::DiskStore store(dir, limits);
    store.removeStaleTemporaries();
    tarvo::disk::DiskServer server(
        store, options, [](char command, const std::string& name, tarvo::disk::Status status) {
          std::cerr << commandText(command);
          if (!name.empty()) std::cerr << " \"" << name << '"';
          std::cerr << ": " << statusText(status) << std::endl;
        });
    std::string error;
    if (!server.listen(error)) tarvo::cli::fail(error);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::cout << "tarvo-disk: serving " << dir << " on " << options.address << ':' << server.port()
              << std::endl;
    server.run(stopRequested);
    return 0;
  });
}
