// The map forms as rows: adding a form is one file with its writer and row, and one line here.
#include <algorithm>
#include <cctype>

#include "maps/map_text.h"

namespace dosemap {
namespace {

const MapFormRow* const kForms[] = {&kKmlForm, &kKmzForm, &kGeoJsonForm,
                                    &kGpxForm, &kCsvForm, &kHtmlForm};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::span<const MapFormRow* const> MapForms() { return kForms; }

const MapFormRow* MapFormOf(const std::filesystem::path& out) {
  const std::string extension = Lower(out.extension().string());
  for (const MapFormRow* form : kForms) {
    for (const std::string_view known : form->extensions) {
      if (!known.empty() && extension == known) return form;
    }
  }
  return nullptr;
}

std::vector<std::filesystem::path> FilesWrittenBy(const std::filesystem::path& out,
                                                  const MapOptions& options) {
  std::vector<std::filesystem::path> files{out};
  const MapFormRow* form = MapFormOf(out);
  if (form != nullptr && form->companions != nullptr) form->companions(out, options, files);
  return files;
}

std::string MapFormExtensions() {
  std::string list;
  for (const MapFormRow* form : kForms) {
    for (const std::string_view known : form->extensions) {
      if (known.empty()) continue;
      if (!list.empty()) list += ", ";
      list += known;
    }
  }
  return list;
}

}  // namespace dosemap
