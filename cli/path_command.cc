#include "cli/commands.h"

namespace dosemap::cli {

int PathCommand(const std::vector<std::string>&) {
  PrintError("-o is not available yet");
  return 2;
}

}  // namespace dosemap::cli
