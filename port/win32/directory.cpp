// The one path of a directory that several steps use, and the system's limit
// on paths.
#include <windows.h>

#include <cerrno>
#include <string>

#include "port/file.h"

namespace port {

namespace {

// The wide form of text in the ANSI code page; false when it holds bytes
// that are no characters of it.
bool to_wide(const char* text, std::wstring* wide) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide->data(), length) != length) return false;
  wide->resize(static_cast<std::size_t>(length - 1));
  return true;
}

// The ANSI form of a wide path, only when it names the same characters: a
// character the code page holds only by a best fit (a yen sign becoming
// the code of "\", a letter losing its accent) would name another file.
bool to_exact_ansi(const std::wstring& wide, std::string* ansi) {
  // The UTF-8 code page takes no best-fit flag; the way back tells alone.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* const defaulted = utf8 ? nullptr : &used_default;
  const int length = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, nullptr, 0, nullptr, defaulted);
  if (length <= 0 || used_default) return false;
  ansi->assign(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, ansi->data(), length, nullptr, defaulted) != length ||
      used_default) {
    return false;
  }
  ansi->resize(static_cast<std::size_t>(length - 1));
  std::wstring back;
  return to_wide(ansi->c_str(), &back) && back == wide;
}

}  // namespace

// MAX_PATH holds the terminating zero.
std::size_t max_path_length() { return MAX_PATH - 1; }

int resolve_directory(const char* path, std::string* resolved) {
  // Resolved in wide characters: the ANSI call converts the result with a
  // best fit, and a directory named with a yen sign would come back naming
  // its neighbour with a "\" in that place.
  std::wstring wide;
  if (!to_wide(path, &wide)) {
    errno = EILSEQ;
    return -1;
  }
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    errno = ENOENT;
    return -1;
  }
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) {
    errno = ENOENT;
    return -1;
  }
  full.resize(length);
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = ENOENT;
    return -1;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
    return -1;
  }
  std::string ansi;
  if (!to_exact_ansi(full, &ansi)) {
    errno = EILSEQ;
    return -1;
  }
  if (ansi.size() > max_path_length()) {
    errno = ENAMETOOLONG;
    return -1;
  }
  *resolved = ansi;
  return 0;
}

int current_directory(std::string* dir) {
  char buffer[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) {
    errno = length == 0 ? ENOENT : ENAMETOOLONG;
    return -1;
  }
  dir->assign(buffer, length);
  return 0;
}

int absolute_path(const char* path, std::string* absolute) {
  const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
  if (path[0] == '\\' || path[0] == '/' || drive) {
    *absolute = path;
    return 0;
  }
  std::string here;
  if (current_directory(&here) != 0) return -1;
  *absolute = !here.empty() && (here.back() == '\\' || here.back() == '/') ? here + path : here + "\\" + path;
  return 0;
}

}  // namespace port
