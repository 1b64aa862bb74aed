// The disk server's store and protocol in one process: random commands, good
// and hostile, against a model of the server's rules written here, and the
// directory checked against the model afterwards.
#include "disk/disk_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../support/disk_client.h"
#include "disk/disk_store.h"

namespace tarvo::disk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-disk-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

Bytes readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The rule for names, as the documentation words it.
bool documentedName(const std::string& n) {
  if (n.empty() || n.size() > 16 || n[0] == '.') return false;
  for (std::size_t i = 0; i < n.size(); ++i) {
    const char c = n[i];
    const bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    if (!ok || (c & 0x80) || (c == '.' && i + 1 < n.size() && n[i + 1] == '.')) return false;
  }
  return true;
}

// A machine that hangs up after every refused command and calls again.
class Machine {
 public:
  explicit Machine(DiskStore& store) : store_(store) { call(); }
  test::DiskClient& client() { return *client_; }
  void hangUpIfRefused(int status) {
    if (status != 0) call();
  }

 private:
  void call() {
    session_ = std::make_unique<DiskSession>(store_);
    client_ = std::make_unique<test::DiskClient>(
        [this](uint8_t b) -> std::optional<uint8_t> { return session_->answer(b); });
  }
  DiskStore& store_;
  std::unique_ptr<DiskSession> session_;
  std::unique_ptr<test::DiskClient> client_;
};

TEST(DiskSession, RandomCommandsAgreeWithAModelOfTheRules) {
  ScratchDir dir;
  Limits limits;
  limits.maxFileBytes = 3000;
  limits.maxFiles = 5;
  limits.maxDirBytes = 9000;
  DiskStore store(dir.path(), limits);
  Machine machine(store);

  const std::vector<std::string> names = {
      "A", "PROG", "prog", "GAME-2", "x_y.z", "A1234567890BCDEF", "Z.", "SIX", "SEVEN",
      // and names no server may take
      "", "A1234567890BCDEFG", "../x", "..", ".", ".hidden", "a/b", "/etc", "A B", "a\\b", "A..B",
      "\xC3\xA9", "NUL\x01", std::string("Z\0Z", 3)};
  std::map<std::string, Bytes> model;
  std::mt19937 rng(271828);
  int stored = 0, refused = 0;

  for (int round = 0; round < 600; ++round) {
    const std::string& name = names[rng() % names.size()];
    const bool good = documentedName(name);
    test::DiskClient& c = machine.client();
    int status = 0;
    switch (rng() % 4) {
      case 0: {
        const std::size_t sizes[] = {0, 1, 17, 500, 2999, 3000, 3001, 5000};
        Bytes data(sizes[rng() % std::size(sizes)]);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        uint64_t others = 0;
        std::size_t files = 0;
        for (const auto& [n, d] : model) {
          if (n != name) {
            others += d.size();
            ++files;
          }
        }
        int expected = 0;
        if (!good)
          expected = 2;
        else if (data.size() > limits.maxFileBytes)
          expected = 4;
        else if (files + 1 > limits.maxFiles || others + data.size() > limits.maxDirBytes)
          expected = 5;
        status = c.save(name, data);
        ASSERT_EQ(status, expected) << "SAVE \"" << name << "\" of " << data.size();
        if (status == 0) {
          model[name] = data;
          ++stored;
        } else {
          ++refused;
        }
        break;
      }
      case 1: {
        Bytes data;
        status = c.load(name, data);
        const auto it = model.find(name);
        ASSERT_EQ(status, !good ? 2 : it == model.end() ? 3 : 0) << "LOAD \"" << name << '"';
        if (status == 0) {
          ASSERT_EQ(data, it->second) << "LOAD \"" << name << '"';
        }
        break;
      }
      case 2: {
        const auto it = model.find(name);
        status = c.kill(name);
        ASSERT_EQ(status, !good ? 2 : it == model.end() ? 3 : 0) << "KILL \"" << name << '"';
        if (status == 0) model.erase(it);
        break;
      }
      default: {
        std::vector<std::pair<std::string, int>> listing;
        ASSERT_EQ(c.files(listing), 0);
        std::vector<std::pair<std::string, int>> expected;
        for (const auto& [n, d] : model) expected.emplace_back(n, static_cast<int>(d.size()));
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(listing, expected);
        break;
      }
    }
    ASSERT_TRUE(c.errorsHeld()) << "an answer after an error was not that error";
    machine.hangUpIfRefused(status);
  }
  EXPECT_GT(stored, 25);
  EXPECT_GT(refused, 50);

  // The directory holds the model's files and nothing else: no temporary
  // file, nothing under another name, nothing outside.
  std::map<std::string, Bytes> onDisk;
  for (const auto& e : fs::directory_iterator(dir.path()))
    onDisk[e.path().filename().string()] = readFile(e.path());
  EXPECT_EQ(onDisk, model);
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / "x"));
}

TEST(DiskSession, StoreKeepsToPlainFilesOfItsDirectory) {
  ScratchDir dir;
  ScratchDir outside;
  DiskStore store(dir.path(), Limits{});
  const fs::path secret = outside.path() / "secret";
  std::ofstream(secret) << "keep";
  // Names that are valid, but are no plain file of the directory.
  fs::create_symlink(secret, dir.path() / "LINK");
  fs::create_directory(dir.path() / "SUB");
  std::ofstream(dir.path() / "README.txt~") << "not a program name";
  std::ofstream(dir.path() / ".tarvo-disk-OLD-abc123") << "left by a server that was killed";

  DiskSession session(store);
  test::DiskClient c([&](uint8_t b) -> std::optional<uint8_t> { return session.answer(b); });
  std::vector<std::pair<std::string, int>> listing;
  ASSERT_EQ(c.files(listing), 0);
  EXPECT_TRUE(listing.empty());
  Bytes data;
  for (const char* name : {"LINK", "SUB"}) {
    DiskSession s(store);
    test::DiskClient d([&](uint8_t b) -> std::optional<uint8_t> { return s.answer(b); });
    EXPECT_EQ(d.load(name, data), 6) << name;
    DiskSession s2(store);
    test::DiskClient e([&](uint8_t b) -> std::optional<uint8_t> { return s2.answer(b); });
    EXPECT_EQ(e.save(name, {1, 2, 3}), 6) << name;
    DiskSession s3(store);
    test::DiskClient f([&](uint8_t b) -> std::optional<uint8_t> { return s3.answer(b); });
    EXPECT_EQ(f.kill(name), 6) << name;
  }
  EXPECT_EQ(readFile(secret), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "LINK"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "SUB"));

  // A save broken off in the middle (the machine hangs up) leaves the old
  // program; one that completes replaces it whole.
  ASSERT_EQ(c.save("PROG", Bytes(100, 0xAA)), 0);
  {
    DiskSession cut(store);
    for (uint8_t b : Bytes{'S', 4, 'P', 'R', 'O', 'G', 200, 0}) ASSERT_EQ(cut.answer(b), 0);
    for (int i = 0; i < 150; ++i) ASSERT_EQ(cut.answer(0x55), 0);
    EXPECT_FALSE(cut.idle());
  }
  EXPECT_EQ(readFile(dir.path() / "PROG"), Bytes(100, 0xAA));
  ASSERT_EQ(c.save("PROG", Bytes(200, 0x55)), 0);
  EXPECT_EQ(readFile(dir.path() / "PROG"), Bytes(200, 0x55));

  // Leftover temporary files go when a server starts; nothing else does.
  store.removeStaleTemporaries();
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"LINK", "PROG", "README.txt~", "SUB"}));
}

}  // namespace
}  // namespace tarvo::disk
