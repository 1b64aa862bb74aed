// The VS Code extension in editors/vscode: a manifest VS Code can read,
// declaring the tarvo debug type with exactly the launch arguments the
// adapter reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kExtension = fs::path(TARVO_SOURCE_DIR) / "editors" / "vscode";

// The launch arguments tarvo-dap takes.
const std::set<std::string> kLaunchArguments = {"machine", "program", "segment", "registers",
                                                "stopOnEntry"};

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

json readJson(const fs::path& path) {
  const std::string text = readText(path);
  EXPECT_FALSE(text.empty()) << path;
  const json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(j.is_discarded()) << path << " is not well-formed JSON";
  return j;
}

// A launch configuration: type, request, name and known arguments only, with
// the machine given.
void checkConfiguration(const json& c, const json& properties) {
  ASSERT_TRUE(c.is_object()) << c;
  EXPECT_EQ(c.value("type", ""), "tarvo");
  EXPECT_EQ(c.value("request", ""), "launch");
  EXPECT_TRUE(c.contains("name"));
  EXPECT_TRUE(c.contains("machine")) << c;
  for (const auto& [key, value] : c.items()) {
    if (key == "type" || key == "request" || key == "name") continue;
    EXPECT_EQ(kLaunchArguments.count(key), 1u) << key;
    ASSERT_TRUE(properties.contains(key)) << key;
    // The value has the type the manifest declares for it.
    static const std::map<std::string, json::value_t> kTypes = {
        {"string", json::value_t::string},
        {"integer", json::value_t::number_unsigned},
        {"boolean", json::value_t::boolean},
        {"object", json::value_t::object}};
    const auto it = kTypes.find(properties[key].value("type", ""));
    ASSERT_NE(it, kTypes.end()) << key;
    EXPECT_EQ(value.type(), it->second) << key;
  }
}

TEST(EditorExtension, ManifestDeclaresTheTarvoDebugType) {
  const json manifest = readJson(kExtension / "package.json");
  ASSERT_TRUE(manifest.is_object());
  for (const char* key : {"name", "displayName", "version", "publisher", "engines"}) {
    EXPECT_TRUE(manifest.contains(key)) << key;
  }
  const json& contributes = manifest.at("contributes");

  // Breakpoints in assembly sources.
  const json& languages = contributes.at("languages");
  ASSERT_EQ(languages.size(), 1u);
  EXPECT_EQ(languages[0].at("id"), "tarvo-asm");
  EXPECT_EQ(languages[0].at("extensions"), json({".s", ".asm"}));
  const std::string configuration = languages[0].at("configuration");
  EXPECT_FALSE(readJson(kExtension / configuration).is_discarded());
  EXPECT_EQ(contributes.at("breakpoints"), json::parse(R"([{"language": "tarvo-asm"}])"));

  const json& debuggers = contributes.at("debuggers");
  ASSERT_EQ(debuggers.size(), 1u);
  const json& d = debuggers[0];
  EXPECT_EQ(d.at("type"), "tarvo");
  EXPECT_EQ(d.at("label"), "Tarvo");
  EXPECT_EQ(d.at("linux").at("program"), "tarvo-dap");
  EXPECT_EQ(d.at("languages"), json({"tarvo-asm"}));

  // The launch arguments, exactly.
  const json& launch = d.at("configurationAttributes").at("launch");
  EXPECT_EQ(launch.at("required"), json({"machine"}));
  const json& properties = launch.at("properties");
  std::set<std::string> names;
  for (const auto& [key, value] : properties.items()) names.insert(key);
  EXPECT_EQ(names, kLaunchArguments);
  EXPECT_EQ(properties.at("machine").at("type"), "string");
  EXPECT_EQ(properties.at("program").at("type"), "string");
  EXPECT_EQ(properties.at("segment").at("type"), "integer");
  EXPECT_EQ(properties.at("segment").at("default"), 1);
  EXPECT_EQ(properties.at("registers").at("type"), "object");
  EXPECT_EQ(properties.at("stopOnEntry").at("type"), "boolean");

  ASSERT_FALSE(d.at("initialConfigurations").empty());
  for (const json& c : d.at("initialConfigurations")) checkConfiguration(c, properties);
  ASSERT_FALSE(d.at("configurationSnippets").empty());
  for (const json& s : d.at("configurationSnippets")) {
    EXPECT_TRUE(s.contains("label"));
    checkConfiguration(s.at("body"), properties);
  }
}

// Once the adapter's sources are in the tree, every launch argument of the
// manifest is a name they read.
TEST(EditorExtension, AdapterReadsEveryLaunchArgument) {
  std::string adapter;
  // The program (src/cli) and its protocol handling in the core (src/debugger).
  for (const char* dir : {"cli", "debugger"}) {
    const fs::path folder = fs::path(TARVO_SOURCE_DIR) / "src" / dir;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().filename().string().rfind("dap", 0) == 0) adapter += readText(entry.path());
    }
  }
  if (adapter.empty()) GTEST_SKIP() << "no adapter sources (src/*/dap*) in this tree";
  for (const std::string& name : kLaunchArguments) {
    EXPECT_NE(adapter.find('"' + name + '"'), std::string::npos) << name;
  }
}

}  // namespace
