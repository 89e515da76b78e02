#include "admin/common/catalogue.h"

#include <cstdio>
#include <cstring>

#include "admin/common/catalogue_reader.h"
#include "admin/common/message_texts.h"
#include "admin/common/messages.h"
#include "admin/common/registry_settings.h"
#include "port/file.h"

namespace {

// The catalogue's path: the installation directory, then "/lib/lorvex.msg".
constexpr std::size_t kPathSize = 257;

}  // namespace

int get_msg_text(const char* key, char* out) {
  static char path[kPathSize];
  static char text[kMsgTextSize];

  if (key == nullptr || out == nullptr) {
    emit_msg_text(500, kQtrm001SystemError, key == nullptr ? 7 : 8);
    return -5;
  }

  std::memset(path, 0, sizeof path);
  if (const int found = get_install_path(path); found != 0) return found;
  static constexpr char kCatalogueName[] = "/lib/lorvex.msg";
  if (std::strlen(path) + sizeof kCatalogueName > sizeof path) {
    // The path does not fit: report it as a catalogue that cannot be opened.
    conv_path_sep(path, SEP_TO_BACKSLASH);
    emit_msg_text(500, kQtrm107CatalogueMissing, path);
    return -2;
  }
  std::strcat(path, kCatalogueName);

  std::FILE* file = port::open_file(path, "r");
  if (file == nullptr) {
    conv_path_sep(path, SEP_TO_BACKSLASH);
    emit_msg_text(500, kQtrm107CatalogueMissing, path);
    return -2;
  }
  port::TextReader reader(file);
  const bool complete = read_catalogue_entry(reader, key, text);
  std::fclose(file);

  if (!complete || text[0] == '\0') {
    emit_msg_text(500, kQtrm008BadCatalogue);
    return -3;
  }
  std::memcpy(out, text, std::strlen(text) + 1);
  return 0;
}
