#pragma once
// Numbered messages, written to standard output as whole CGI responses with
// an HTML message page. Texts begin with a ten-character identifier ending in
// a colon ("QTRM001-E:"); the placeholders "%s" and "%d" take the arguments.
#include <cstddef>
#include <type_traits>

// One placeholder value: a string for "%s", an int for "%d".
struct MsgArg {
  MsgArg(const char* value) : is_text(true), text(value) {}  // NOLINT: implicit by design
  MsgArg(int value) : is_text(false), number(value) {}   // NOLINT: implicit by design
  bool is_text;
  const char* text = nullptr;
  int number = 0;
};

// Issues the catalogue message of key with its arguments. 0 when written;
// the catalogue lookup's result when the text cannot be had (the lookup has
// reported why); -1 without memory (after QTRM003-E); -3 when the text is no
// message or the key is longer than 36 characters (after QTRM008-E). The
// status (500 for errors, 200 for success notices) is the callers' word for
// the message's kind; no page shows it.
int emit_msg_args(int status, const char* key, const MsgArg* args, std::size_t count);
// Issues a message whose full text is given; 0 when written. A
// formatted text longer than 4095 characters is not cut: -3 after QTRM008-E.
int emit_msg_text_args(int status, const char* text, const MsgArg* args, std::size_t count);

template <class... Args>
int emit_msg(int status, const char* key, Args... args) {
  static_assert(((std::is_convertible_v<Args, const char*> || std::is_same_v<Args, int>) && ...),
                "message arguments are strings or ints");
  const MsgArg list[] = {MsgArg(args)..., MsgArg(0)};
  return emit_msg_args(status, key, list, sizeof...(Args));
}

template <class... Args>
int emit_msg_text(int status, const char* text, Args... args) {
  static_assert(((std::is_convertible_v<Args, const char*> || std::is_same_v<Args, int>) && ...),
                "message arguments are strings or ints");
  const MsgArg list[] = {MsgArg(args)..., MsgArg(0)};
  return emit_msg_text_args(status, text, list, sizeof...(Args));
}
