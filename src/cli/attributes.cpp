#include "cli/attributes.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>

#include "files/netcdfwriter.h"

namespace cli {

namespace {

bool add(Attributes& out, const std::string& key, const std::string& value, std::string& error) {
  if (const std::string problem = files::userAttributeProblem(key); !problem.empty()) {
    error = problem;
    return false;
  }
  const auto same = std::find_if(out.begin(), out.end(), [&](const auto& a) { return a.first == key; });
  if (same != out.end()) same->second = value;
  else out.emplace_back(key, value);
  return true;
}

}  // namespace

bool readAttributes(const std::vector<std::string>& pairs, const std::string& file, Attributes& out,
                    std::string& error) {
  if (!file.empty()) {
    YAML::Node root;
    try {
      root = YAML::LoadFile(file);
    } catch (const YAML::BadFile&) {
      error = file + ": cannot be read";
      return false;
    } catch (const YAML::Exception& e) {
      error = file + ": line " + std::to_string(e.mark.line + 1) + ": " + e.msg;
      return false;
    }
    if (!root.IsMap() && !root.IsNull()) {
      error = file + ": line " + std::to_string(root.Mark().line + 1) + ": a map of attribute: value is expected";
      return false;
    }
    for (const auto& entry : root) {
      const std::string key = entry.first.Scalar();
      if (!entry.second.IsScalar()) {
        error = file + ": line " + std::to_string(entry.second.Mark().line + 1) + ": the value of '" + key +
                "' is not a single value";
        return false;
      }
      std::string why;
      if (!add(out, key, entry.second.Scalar(), why)) {
        error = file + ": line " + std::to_string(entry.first.Mark().line + 1) + ": " + why;
        return false;
      }
    }
  }
  for (const std::string& pair : pairs) {
    const size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) {
      error = "--attr '" + pair + "' is not KEY=VALUE";
      return false;
    }
    std::string why;
    if (!add(out, pair.substr(0, equals), pair.substr(equals + 1), why)) {
      error = "--attr '" + pair + "': " + why;
      return false;
    }
  }
  return true;
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
