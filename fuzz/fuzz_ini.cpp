// The settings reader on any file content, and the settings integer syntax
// on any text: a value it accepts prints and reads back as itself.
#include <cstdint>
#include <string>

#include "frontpanel/files.h"
#include "fuzz_support.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const fuzz::MemoryFile file(data, size);
  const Settings s = readSettings(file.path());
  // A value never reaches past its line.
  FUZZ_CHECK(s.address.find('\n') == std::string::npos);
  FUZZ_CHECK(s.address.find('\0') == std::string::npos);

  const std::string text(reinterpret_cast<const char*>(data), size);
  int32_t value = 0;
  if (parseSettingsInteger(text, value)) {
    int32_t again = 0;
    FUZZ_CHECK(parseSettingsInteger(std::to_string(value), again) && again == value);
  }
  return 0;
}
