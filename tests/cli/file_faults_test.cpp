// Permission faults made real: tarvo-run as the unprivileged user nobody
// (root would read and write anything), on a machine directory where no
// image can be read at all. The start reports every image that matters, the
// machine still runs, and the close writes over none of the state files it
// could not read, although it may write in the directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "spawn.h"

namespace {

namespace fs = std::filesystem;

const std::string kRun = std::string(TARVO_BIN_DIR) + "/tarvo-run";

using tarvo::test::Outcome;
using tarvo::test::spawn;

class OpenDir {
 public:
  OpenDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-perm-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    ::chmod(path_.c_str(), 0777);
  }
  ~OpenDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PermissionFaults, NoImageCanBeRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to nobody";
  if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv";
  OpenDir programDir, machine;
  const std::string bin = programDir.file("tarvo-run");
  fs::copy_file(kRun, bin);
  ::chmod(bin.c_str(), 0755);

  const std::map<std::string, std::size_t> images = {
      {"charset.bin", 2048}, {"register.bin", 36}, {"rom0.bin", 6144},
      {"rom1.bin", 65536},   {"ram0.bin", 65536},  {"ram1.bin", 32768},
      {"rom2.bin", 65536},   {"rom3.bin", 65536},  {"tarvo.ini", 40}};
  std::map<std::string, std::vector<uint8_t>> stored;
  for (const auto& [name, size] : images) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + name.size());
    std::ofstream(machine.file(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    ::chmod(machine.file(name).c_str(), 0);
    stored[name] = std::move(bytes);
  }

  const Outcome r =
      spawn({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", bin,
             "--dir", machine.path(), "--ticks", "20", "--save"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "Failed to load the file charset.bin\n"
            "Failed to load the file register.bin\n"
            "Failed to load the file rom0.bin\n"
            "Failed to load the file ram0.bin\n"
            "Failed to load the file ram1.bin\n"
            "Failed to save the file register.bin\n"
            "Failed to save the file ram0.bin\n"
            "Failed to save the file ram1.bin\n");
  for (const auto& [name, bytes] : stored) {
    struct stat st;
    ASSERT_EQ(::stat(machine.file(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, 0u) << name << " was replaced";
    EXPECT_EQ(readBytes(machine.file(name)), bytes) << name;
  }
  // Nothing else was written in the directory, not even a temporary file.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(machine.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, static_cast<int>(images.size()));
}

}  // namespace
