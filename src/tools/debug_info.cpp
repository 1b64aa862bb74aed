#include "tools/debug_info.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>

#include "machine/hex.h"
#include "tools/json_shape.h"

namespace tarvo {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kVersion = 1;
constexpr uint32_t kAddressSpace = 0x10000;
// The document is an object of arrays of objects; anything much deeper is
// not debug information, and is refused before it is parsed.
constexpr int kMaxNesting = 16;

std::string hex4(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

// Compact JSON text; bytes that are not UTF-8 (a file name can hold any)
// become U+FFFD instead of failing the whole document.
std::string dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

class Reader {
 public:
  std::string error;

  bool fail(std::string message) {
    error = std::move(message);
    return false;
  }

  // An object's member that must be there.
  const Json* member(const Json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end()) {
      fail(where + "\"" + key + "\" is missing");
      return nullptr;
    }
    return &*it;
  }

  bool integer(const Json& object, const char* key, const std::string& where, int64_t lo,
               int64_t hi, int64_t& out) {
    const Json* j = member(object, key, where);
    if (j == nullptr) return false;
    if (!j->is_number_integer()) return fail(where + "\"" + key + "\" is not a whole number");
    if (j->is_number_unsigned()) {
      const uint64_t u = j->get<uint64_t>();
      if (u > static_cast<uint64_t>(hi)) return outOfRange(key, where, lo, hi);
      out = static_cast<int64_t>(u);
    } else {
      out = j->get<int64_t>();
    }
    if (out < lo || out > hi) return outOfRange(key, where, lo, hi);
    return true;
  }

  // An address: a string of one to four hex digits.
  bool address(const Json& object, const std::string& where, uint32_t& out) {
    const Json* j = member(object, "address", where);
    if (j == nullptr) return false;
    const std::string* text = j->is_string() ? j->get_ptr<const std::string*>() : nullptr;
    if (text == nullptr || text->empty() || text->size() > 4) {
      return fail(where + "\"address\" is not 1 to 4 hex digits");
    }
    out = 0;
    for (char c : *text) {
      const int d = hexDigit(static_cast<unsigned char>(c));
      if (d < 0) return fail(where + "\"address\" is not 1 to 4 hex digits");
      out = out * 16 + static_cast<uint32_t>(d);
    }
    return true;
  }

  const Json* array(const Json& object, const char* key) {
    const Json* j = member(object, key, "");
    if (j != nullptr && !j->is_array()) {
      fail(std::string("\"") + key + "\" is not an array");
      return nullptr;
    }
    return j;
  }

  bool read(std::string_view text, DebugInfo& info) {
    if (measureJson(text, kMaxNesting, SIZE_MAX).depth > kMaxNesting)
      return fail("nested too deeply to be debug information");
    Json doc;
    try {
      doc = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
      // "[json.exception.parse_error.101] parse error at ..." without the tag.
      std::string what = e.what();
      const std::size_t tag = what.find("] ");
      if (tag != std::string::npos) what.erase(0, tag + 2);
      return fail("not JSON: " + what);
    }
    if (!doc.is_object()) return fail("not a JSON object");
    int64_t version = 0;
    if (!integer(doc, "version", "", 0, std::numeric_limits<int32_t>::max(), version)) {
      return false;
    }
    if (version != kVersion) return fail("unsupported version " + std::to_string(version));
    const Json* word = member(doc, "word", "");
    if (word == nullptr) return false;
    if (!word->is_boolean()) return fail("\"word\" is not true or false");
    info.word = word->get<bool>();

    const Json* files = array(doc, "files");
    if (files == nullptr) return false;
    for (std::size_t i = 0; i < files->size(); ++i) {
      const Json& f = (*files)[i];
      if (!f.is_string()) return fail("files[" + std::to_string(i) + "] is not a string");
      info.files.push_back(f.get<std::string>());
    }

    const Json* lines = array(doc, "lines");
    if (lines == nullptr) return false;
    for (std::size_t i = 0; i < lines->size(); ++i) {
      const Json& l = (*lines)[i];
      const std::string where = "lines[" + std::to_string(i) + "]: ";
      if (!l.is_object()) return fail(where + "not an object");
      XasmLine line;
      int64_t length = 0;
      int64_t file = 0;
      int64_t number = 0;
      if (!address(l, where, line.address) ||
          !integer(l, "length", where, 1, kAddressSpace, length) ||
          !integer(l, "file", where, 0, static_cast<int64_t>(info.files.size()) - 1, file) ||
          !integer(l, "line", where, 1, std::numeric_limits<int>::max(), number)) {
        return false;
      }
      if (line.address + static_cast<uint64_t>(length) > kAddressSpace) {
        return fail(where + "the range runs past address FFFF");
      }
      line.length = static_cast<uint32_t>(length);
      line.file = static_cast<int>(file);
      line.line = static_cast<int>(number);
      info.lines.push_back(line);
    }

    const Json* labels = array(doc, "labels");
    if (labels == nullptr) return false;
    for (std::size_t i = 0; i < labels->size(); ++i) {
      const Json& l = (*labels)[i];
      const std::string where = "labels[" + std::to_string(i) + "]: ";
      if (!l.is_object()) return fail(where + "not an object");
      const Json* name = member(l, "name", where);
      if (name == nullptr) return false;
      if (!name->is_string() || name->get_ref<const std::string&>().empty()) {
        return fail(where + "\"name\" is not a name");
      }
      uint32_t value = 0;
      if (!address(l, where, value)) return false;
      info.symbols.push_back({name->get<std::string>(), static_cast<uint16_t>(value)});
    }
    return true;
  }

 private:
  bool outOfRange(const char* key, const std::string& where, int64_t lo, int64_t hi) {
    if (hi < lo) return fail(where + "\"" + key + "\" names no entry (the list is empty)");
    return fail(where + "\"" + key + "\" out of range " + std::to_string(lo) + ".." +
                std::to_string(hi));
  }
};

}  // namespace

std::string debugInfoJson(const XasmOutput& out, bool word) {
  std::string text = "{\"version\": " + std::to_string(kVersion) +
                     ", \"word\": " + (word ? "true" : "false") + ",\n \"files\": [";
  for (std::size_t i = 0; i < out.files.size(); ++i) {
    if (i) text += ", ";
    text += dump(Json(out.files[i]));
  }
  text += "],\n \"lines\": [";
  for (std::size_t i = 0; i < out.lines.size(); ++i) {
    const XasmLine& l = out.lines[i];
    Json j;
    j["address"] = hex4(l.address);
    j["length"] = l.length;
    j["file"] = l.file;
    j["line"] = l.line;
    text += i ? ",\n  " : "\n  ";
    text += dump(j);
  }
  text += "],\n \"labels\": [";
  for (std::size_t i = 0; i < out.symbols.size(); ++i) {
    Json j;
    j["name"] = out.symbols[i].name;
    j["address"] = hex4(out.symbols[i].value);
    text += i ? ",\n  " : "\n  ";
    text += dump(j);
  }
  text += "]}\n";
  return text;
}

std::optional<DebugInfo> parseDebugInfo(std::string_view json, std::string* error) {
  Reader reader;
  DebugInfo info;
  bool ok = false;
  try {
    ok = reader.read(json, info);
  } catch (const std::exception& e) {
    // Out of memory on a huge document, or a fault of the JSON library.
    reader.error = std::string("cannot read the debug information: ") + e.what();
  }
  if (ok) return info;
  if (error != nullptr) *error = reader.error;
  return std::nullopt;
}

}  // namespace tarvo
