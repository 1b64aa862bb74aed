// One connection's side of the disk protocol (docs/disk.md): every byte
// the machine sends gets exactly one answer byte, and the answer to a byte
// depends only on the bytes before it and on the store.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/disk_store.h"

namespace tarvo::disk {

// Command bytes.
constexpr uint8_t kSave = 'S';
constexpr uint8_t kLoad = 'L';
constexpr uint8_t kFiles = 'F';
constexpr uint8_t kKill = 'K';

class DiskSession {
 public:
  // Told of every command that was carried out or refused: its letter, the
  // name (empty for FILES) and the status it ended with.
  using Log = std::function<void(char command, const std::string& name, Status status)>;

  explicit DiskSession(DiskStore& store, Log log = {}) : store_(store), log_(std::move(log)) {}

  uint8_t answer(uint8_t byte);
  // No command is under way: the next byte is read as a command.
  bool idle() const { return state_ == State::Command; }

 private:
  enum class State {
    Command,
    NameLength,
    Name,
    SaveLengthLow,
    SaveLengthHigh,
    SaveData,
    Reply,  // LOAD and FILES: the answers are the bytes of reply_
    Failed,
  };

  uint8_t fail(Status status);
  uint8_t nameDone();
  uint8_t finishSave();
  void logged(Status status);

  DiskStore& store_;
  Log log_;
  State state_ = State::Command;
  uint8_t command_ = 0;
  std::size_t nameLength_ = 0;
  std::string name_;
  std::size_t saveLength_ = 0;
  std::vector<uint8_t> data_;   // SAVE: the bytes received so far
  std::vector<uint8_t> reply_;  // LOAD, FILES: the bytes still to be answered
  std::size_t replied_ = 0;
  uint8_t failure_ = 0;
};

}  // namespace tarvo::disk
