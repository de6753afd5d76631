#include "tests/tokenapi/crypto/vec_file.h"

#include <cstdlib>
#include <fstream>

namespace merro::crypto::test {

namespace {
std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}
}  // namespace

std::string VecCase::Where() const {
  return file + ":" + std::to_string(line) + " [" + header + "]";
}

std::string VectorDir() {
  const char* env = std::getenv("MERRO_VECTOR_DIR");
  return env != nullptr ? env : MERRO_VECTOR_DIR_DEFAULT;
}

std::vector<VecCase> LoadVecFile(const std::string& name, std::string* error) {
  std::vector<VecCase> cases;
  std::ifstream in(VectorDir() + "/" + name);
  if (!in) {
    *error = "cannot read " + VectorDir() + "/" + name;
    return cases;
  }
  VecCase current;
  current.file = name;
  std::string raw;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    const std::string line = Trim(raw.substr(0, raw.find('#')));
    if (line.empty()) {
      continue;
    }
    if (line.front() == '[' && line.back() == ']') {
      current.header = line.substr(1, line.size() - 2);
      current.fields.clear();
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      *error = name + ":" + std::to_string(lineNo) + ": not a \"Name = value\" line";
      return {};
    }
    const std::string key = Trim(line.substr(0, eq));
    current.fields[key] = Trim(line.substr(eq + 1));
    if (key == "Out") {
      current.line = lineNo;
      cases.push_back(current);
      current.fields.clear();
    }
  }
  return cases;
}

}  // namespace merro::crypto::test
