#ifndef DOSEMAP_COMMON_FILE_PATHS_H_
#define DOSEMAP_COMMON_FILE_PATHS_H_

#include <filesystem>

namespace dosemap {

// True when both paths exist and name the same file (through a link, a hard link, or two
// spellings). Never throws.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// True when a and b name one file, whether it exists yet or not: the same file, or the same path
// once links (dangling ones too) and "." and ".." are resolved. Never throws.
bool SamePlace(const std::filesystem::path& a, const std::filesystem::path& b);

// Where OpenForReplace stages the new text of path: "<path>.<process id>.tmp".
std::filesystem::path ReplacementTempPath(const std::filesystem::path& path);

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_FILE_PATHS_H_
