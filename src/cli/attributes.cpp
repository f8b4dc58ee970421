#include "cli/attributes.h"

#include <algorithm>

#include <CLI/CLI.hpp>
#include "files/netcdfwriter.h"
#include "measure/boundedfile.h"
#include "qc/yamldocument.h"

namespace cli {

namespace {

// "" when `key` = `value` can be a global attribute of a NetCDF file; else why not.
std::string problemOf(const std::string& key, const std::string& value) {
  if (std::string problem = files::userAttributeProblem(key); !problem.empty()) return problem;
  return files::userAttributeValueProblem(key, value);
}

// The "variables:" map: VARIABLE or PATTERN: {ATTRIBUTE: VALUE, ...}.
template <typename Fault>
bool readVariables(const qc::YamlNode& map, const std::string& file, VariableAttributes& out, Fault fault) {
  if (map.isNull()) return true;
  if (!map.isMap()) return fault(map.line, "'variables' must be a map of variable: {attribute: value, ...}");
  for (size_t i = 0; i < map.keys.size(); ++i) {
    const qc::YamlNode& variable = map.keys[i];
    const qc::YamlNode& attributes = map.items[i];
    if (!variable.isScalar() || variable.text.empty())
      return fault(variable.line, "a key of 'variables' must be a variable's name or a pattern");
    if (attributes.isNull()) continue;
    if (!attributes.isMap())
      return fault(attributes.line, "the attributes of variable '" + variable.text + "' must be a map of attribute: value");
    for (size_t j = 0; j < attributes.keys.size(); ++j) {
      const qc::YamlNode& name = attributes.keys[j];
      const qc::YamlNode& value = attributes.items[j];
      const std::string where = "variable '" + variable.text + "': ";
      if (!name.isScalar()) return fault(name.line, where + "a key must be an attribute name");
      if (!value.isScalar()) return fault(name.line, where + "the value of '" + name.text + "' is not a single value");
      if (const std::string why = files::userVariableAttributeProblem(name.text, value.text); !why.empty())
        return fault(name.line, where + why);
      out.push_back({variable.text, name.text, value.text, file + ": line " + std::to_string(name.line)});
    }
  }
  return true;
}

}  // namespace

bool parseAttributes(const std::string& text, const std::string& file, Attributes& out,
                     VariableAttributes& variables, std::string& error) {
  const qc::YamlResult yaml = qc::readYaml(text);
  const auto fault = [&](int line, const std::string& why) {
    error = file + ": line " + std::to_string(line) + ": " + why;
    return false;
  };
  if (!yaml.error.empty()) return fault(yaml.errorLine, yaml.error);
  if (!yaml.root || yaml.root->isNull()) return true;  // no attributes
  if (!yaml.root->isMap()) return fault(yaml.root->line, "a map of attribute: value is expected");
  // The reader has refused a key given twice.
  for (size_t i = 0; i < yaml.root->keys.size(); ++i) {
    const qc::YamlNode& key = yaml.root->keys[i];
    const qc::YamlNode& value = yaml.root->items[i];
    if (!key.isScalar()) return fault(key.line, "a key must be an attribute name");
    if (key.text == "variables") {
      if (!readVariables(value, file, variables, fault)) return false;
      continue;
    }
    if (!value.isScalar()) return fault(key.line, "the value of '" + key.text + "' is not a single value");
    if (const std::string why = problemOf(key.text, value.text); !why.empty()) return fault(key.line, why);
    out.emplace_back(key.text, value.text);
  }
  return true;
}

bool readAttributes(const std::vector<std::string>& pairs, const std::string& file, Attributes& out,
                    VariableAttributes& variables, std::string& error) {
  if (!file.empty()) {
    std::string text;
    if (measure::readBoundedFile(file, text, error) != measure::FileRead::Done) return false;
    if (!parseAttributes(text, file, out, variables, error)) return false;
  }
  const size_t fromFile = out.size();
  for (const std::string& pair : pairs) {
    const size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) {
      error = "--attr '" + pair + "' is not KEY=VALUE";
      return false;
    }
    const std::string key = pair.substr(0, equals);
    const std::string value = pair.substr(equals + 1);
    if (const std::string why = problemOf(key, value); !why.empty()) {
      error = "--attr '" + pair + "': " + why;
      return false;
    }
    // An --attr replaces the file's value; the same key twice on the command line is a slip.
    const auto same = std::find_if(out.begin(), out.end(), [&](const auto& a) { return a.first == key; });
    if (same != out.end() && same - out.begin() >= static_cast<std::ptrdiff_t>(fromFile)) {
      error = "--attr '" + pair + "': '" + key + "' is given twice";
      return false;
    }
    if (same != out.end()) same->second = value;
    else out.emplace_back(key, value);
  }
  return true;
}

std::string historyWord(int argc, char** argv, int i) {
  if (i < 0 || i >= argc) return {};
  const std::string word = argv[i];
  if (word.starts_with("--meter-tz=") || (i > 0 && std::string(argv[i - 1]) == "--meter-tz")) return word;
  // A port under /dev is a device's name, not somebody's folder ("/dev/pts/0", not "0").
  const bool port = word.starts_with("--port=") || (i > 0 && std::string(argv[i - 1]) == "--port");
  if (port && word.find("/dev/") != std::string::npos) return word;
  return withoutFolders(word);
}

void addPositionOptions(CLI::App& app, std::vector<std::string>& pairs, bool platform) {
  struct Option {
    const char* name;
    const char* key;
    const char* help;
    const char* type;
  };
  static const Option kOptions[] = {
      {"--lat", "geospatial_lat", "netcdf: the meter's latitude, -90 to 90 (degrees north)", "DEGREES"},
      {"--lon", "geospatial_lon", "netcdf: the meter's longitude, -180 to 360 (degrees east)", "DEGREES"},
      {"--depth", "geospatial_vertical", "netcdf: the meter's depth, -100 to 11000 (metres, positive down)", "METRES"},
      {"--platform", "platform_name", "netcdf: the name of the platform the meter is on", "NAME"},
  };
  for (const Option& option : kOptions) {
    const std::string key = option.key;
    if (!platform && key == "platform_name") continue;
    app.add_option_function<std::string>(
           option.name, [&pairs, key](const std::string& value) { pairs.push_back(key + "=" + value); }, option.help)
        ->check(CLI::Validator(
            [key](std::string& value) { return files::userAttributeValueProblem(key, value); }, ""))
        ->type_name(option.type);
  }
}

std::string withoutFolders(const std::string& word) {
  // An option's value after '=' keeps its option ("--attrs=/a/b.yml" -> "--attrs=b.yml").
  const size_t equals = word.rfind('=', word.find('/'));
  const std::string head = equals == std::string::npos || word.find('/') == std::string::npos ? "" : word.substr(0, equals + 1);
  const std::string path = word.substr(head.size());
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return word;
  return head + path.substr(slash + 1);
}

}  // namespace cli
