#include "common/file_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <system_error>

namespace dosemap {

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat first, second;
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

namespace {

// The path a name leads to, following links even when their target does not exist yet.
std::filesystem::path Resolved(std::filesystem::path path) {
  std::error_code error;
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(path, error); ++hops) {
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path.lexically_normal();
  std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal() : canonical;
}

}  // namespace

bool SamePlace(const std::filesystem::path& a, const std::filesystem::path& b) {
  return SameFile(a, b) || Resolved(a) == Resolved(b);
}

std::filesystem::path ReplacementTempPath(const std::filesystem::path& path) {
  std::filesystem::path temp = path;
  temp += '.';
  temp += std::to_string(::getpid());
  temp += ".tmp";
  return temp;
}

}  // namespace dosemap
