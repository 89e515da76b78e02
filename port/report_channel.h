#pragma once
// The channel on which a program tells the program that started it its
// verdict as one typed line, apart from everything it writes for people:
// a descriptor that the caller made and named in an environment variable.

#include <string>

namespace port {

class ReportChannel {
 public:
  // Takes the descriptor named in the variable, and takes the variable out
  // of the environment, so that nothing this program starts sees it. Only a
  // descriptor above the standard ones that is a pipe is a channel; any
  // other number is passed over. The descriptor is not inherited by what
  // this program starts. Windows: never a channel (no caller makes one).
  explicit ReportChannel(const char* variable);
  ~ReportChannel();
  ReportChannel(const ReportChannel&) = delete;
  ReportChannel& operator=(const ReportChannel&) = delete;

  bool open() const { return fd_ >= 0; }
  // Writes the line and its line break, and closes the channel: one verdict
  // a run. Nothing happens without a channel or after the first.
  void tell(const std::string& line);

 private:
  int fd_ = -1;
};

}  // namespace port
