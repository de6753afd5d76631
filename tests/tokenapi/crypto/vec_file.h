// Reader of the text vector files under data/: "[Header]" lines name the
// algorithm of the cases below them, "Name = value" lines fill a case, "#"
// starts a comment, and the key "Out" ends a case.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace merro::crypto::test {

struct VecCase {
  std::string file;
  int line = 0;  // line of the case's "Out"
  std::string header;
  std::map<std::string, std::string> fields;

  bool Has(const std::string& key) const { return fields.count(key) != 0; }
  const std::string& Get(const std::string& key) const { return fields.at(key); }
  // "<file>:<line> [<header>]", for failure messages.
  std::string Where() const;
};

// All cases of one file in the vector folder; a file that cannot be read
// gives no cases and an error text.
std::vector<VecCase> LoadVecFile(const std::string& name, std::string* error);

// The vector folder: MERRO_VECTOR_DIR if set in the environment, else the
// folder compiled in.
std::string VectorDir();

}  // namespace merro::crypto::test
