// The map forms as rows: adding a form is one file with its writer and row, and one line here.
#include <algorithm>
#include <cctype>

#include "maps/map_text.h"

namespace dosemap {
namespace {

const MapFormRow* const kForms[] = {&kKmlForm,  &kKmzForm, &kGeoJsonForm, &kGpxForm,    &kCsvForm,
                                    &kHtmlForm, &kLogForm, &kPmtilesForm, &kMbtilesForm};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

const FormOption kLabelsOption{"--labels", "", "show the dose beside every point",
                               &MapOptions::labels};
const FormOption kTimeOption{"--time", "",
                             "give points a TimeStamp and cells a TimeSpan, for a time slider "
                             "(off: a globe with a clock shows the whole drive)",
                             &MapOptions::time};
const FormOption kIconUrlOption{"--icon-url", "URL",
                                "a web icon instead of the icon and legend written beside the map",
                                nullptr, &MapOptions::icon_url};
const FormOption kIconsBesideOption{"--icons-beside", "",
                                    "also write the icons into files/ beside it (for Marble)",
                                    &MapOptions::icons_beside};

std::span<const MapFormRow* const> MapForms() { return kForms; }

std::vector<const FormOption*> FormOptions() {
  std::vector<const FormOption*> options;
  for (const MapFormRow* form : kForms) {
    for (const FormOption* option : form->options) {
      if (std::find(options.begin(), options.end(), option) == options.end())
        options.push_back(option);
    }
  }
  return options;
}

std::string FormsTaking(const FormOption& option) {
  std::vector<std::string_view> extensions;
  for (const MapFormRow* form : kForms) {
    if (std::find(form->options.begin(), form->options.end(), &option) != form->options.end())
      extensions.push_back(form->extensions[0]);
  }
  std::string list;
  for (std::size_t i = 0; i < extensions.size(); ++i) {
    list += i == 0 ? "" : i + 1 == extensions.size() ? " and " : ", ";
    list += extensions[i];
  }
  return list;
}

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
