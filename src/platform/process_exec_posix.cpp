#include "platform/process_exec.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvalink {

bool ExecProgram(const std::string& path, const std::vector<std::string>& argv,
                 const EnvironmentChanges& changes, std::string* err) {
  for (const auto& [name, value] : changes) {
    if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
      if (err != nullptr) *err = "cannot set " + name + ": " + std::strerror(errno);
      return false;
    }
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(path.c_str(), args.data());
  if (err != nullptr) *err = "cannot run " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace corvalink
