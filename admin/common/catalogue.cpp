#include "admin/common/catalogue.h"

#include <cstdio>
#include <cstring>

#include "admin/common/catalogue_reader.h"
#include "admin/common/message_texts.h"
#include "admin/common/messages.h"
#include "admin/common/registry_settings.h"
#include "port/stream.h"
#include "port/text_reader.h"

int get_msg_text(const char* key, char* out) {
  // The installation directory, then "/lib/lorvex.msg".
  static char path[kRegPathSize];
  static char text[kMsgTextSize];

  if (key == nullptr || out == nullptr) {
    emit_msg_text(500, kQtrm001SystemError, key == nullptr ? 7 : 8);
    return -5;
  }

  std::memset(path, 0, sizeof path);
  if (const int found = get_install_path(path); found != 0) return found;
  static constexpr char kCatalogueName[] = "/lib/lorvex.msg";
  // A path that does not fit is reported as a catalogue that cannot be opened.
  std::FILE* file = nullptr;
  if (std::strlen(path) + sizeof kCatalogueName <= sizeof path) {
    std::strcat(path, kCatalogueName);
    file = port::open_file(path, "r");
  }
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
