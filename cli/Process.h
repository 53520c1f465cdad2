// What the command line does with its process first, one implementation per system.
#pragma once

#include <string>
#include <vector>

namespace kordel::cli {

// Before anything else: on Windows, libraries come from the system folder only.
void PrepareProcess();

// The program's arguments as UTF-8 texts, in the argc/argv form that getopt takes. On
// Windows they are read from the UTF-16 command line, so that no name depends on the
// system's 8-bit code page; elsewhere they are argv as given.
class TArguments {
  public:
    TArguments(int argc, char** argv);
    TArguments(const TArguments&) = delete;
    TArguments& operator=(const TArguments&) = delete;

    int Count() const { return static_cast<int>(pointers_.size()) - 1; }
    char** Values() { return pointers_.data(); }

  private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;  // into texts_, ending with nullptr
};

}  // namespace kordel::cli
