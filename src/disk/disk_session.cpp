#include "disk/disk_session.h"

namespace tarvo::disk {

namespace {

constexpr uint8_t ok = static_cast<uint8_t>(Status::Ok);

void appendLength(std::vector<uint8_t>& out, std::size_t n) {
  out.push_back(static_cast<uint8_t>(n & 0xFF));
  out.push_back(static_cast<uint8_t>(n >> 8));
}

}  // namespace

void DiskSession::logged(Status status) {
  if (log_) log_(static_cast<char>(command_), name_, status);
}

// After an error every byte is answered with it, until the machine hangs
// up: a machine that went on sending the rest of a command sees the error
// in every answer and never has its bytes taken for a new command.
uint8_t DiskSession::fail(Status status) {
  logged(status);
  failure_ = static_cast<uint8_t>(status);
  state_ = State::Failed;
  data_.clear();
  reply_.clear();
  return failure_;
}

uint8_t DiskSession::answer(uint8_t byte) {
  switch (state_) {
    case State::Command:
      command_ = byte;
      name_.clear();
      if (byte == kFiles) {
        reply_.clear();
        for (const Entry& e : store_.list()) {
          reply_.insert(reply_.end(), e.name.begin(), e.name.end());
          reply_.push_back(0);
          appendLength(reply_, static_cast<std::size_t>(e.size));
        }
        reply_.push_back(0);
        replied_ = 0;
        state_ = State::Reply;
        logged(Status::Ok);
        return ok;
      }
      if (byte == kSave || byte == kLoad || byte == kKill) {
        state_ = State::NameLength;
        return ok;
      }
      return fail(Status::BadCommand);

    case State::NameLength:
      if (byte == 0 || byte > kMaxNameLength) return fail(Status::BadName);
      nameLength_ = byte;
      state_ = State::Name;
      return ok;

    case State::Name:
      name_.push_back(static_cast<char>(byte));
      // Every start of a valid name is valid: a character that no name may
      // hold there is refused at once.
      if (!validName(name_)) return fail(Status::BadName);
      if (name_.size() < nameLength_) return ok;
      return nameDone();

    case State::SaveLengthLow:
      saveLength_ = byte;
      state_ = State::SaveLengthHigh;
      return ok;

    case State::SaveLengthHigh: {
      saveLength_ |= static_cast<std::size_t>(byte) << 8;
      const Status room = store_.canStore(name_, saveLength_);
      if (room != Status::Ok) return fail(room);
      data_.clear();
      data_.reserve(saveLength_);
      if (saveLength_ == 0) return finishSave();
      state_ = State::SaveData;
      return ok;
    }

    case State::SaveData:
      data_.push_back(byte);
      if (data_.size() < saveLength_) return ok;
      return finishSave();

    case State::Reply: {
      const uint8_t b = reply_[replied_++];
      if (replied_ == reply_.size()) {
        reply_.clear();
        state_ = State::Command;
      }
      return b;
    }

    case State::Failed:
      return failure_;
  }
  return failure_;
}

// The last character of the name has come: its answer tells whether the
// command can go on (SAVE, LOAD) or how it ended (KILL).
uint8_t DiskSession::nameDone() {
  switch (command_) {
    case kSave:
      state_ = State::SaveLengthLow;
      return ok;
    case kLoad: {
      std::vector<uint8_t> bytes;
      const Status status = store_.load(name_, bytes);
      if (status != Status::Ok) return fail(status);
      reply_.clear();
      appendLength(reply_, bytes.size());
      reply_.insert(reply_.end(), bytes.begin(), bytes.end());
      replied_ = 0;
      state_ = State::Reply;
      logged(Status::Ok);
      return ok;
    }
    default: {  // kKill
      const Status status = store_.remove(name_);
      if (status != Status::Ok) return fail(status);
      logged(Status::Ok);
      state_ = State::Command;
      return ok;
    }
  }
}

uint8_t DiskSession::finishSave() {
  const Status status = store_.save(name_, data_);
  data_.clear();
  if (status != Status::Ok) return fail(status);
  logged(Status::Ok);
  state_ = State::Command;
  return ok;
}

}  // namespace tarvo::disk
