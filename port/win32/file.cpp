// File operations on Windows: the C runtime's calls and the Win32 ones the
// tools have always used, with Windows paths as they are.
#include "port/file.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "port/text.h"
#include "port/win32/handle.h"
#include "port/win32/reparse_point.h"

namespace port {

using win32::is_reparse_point;
using win32::UniqueHandle;

namespace {

int errno_of(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
}

void fill_info(const struct _stat64& st, FileInfo* info) {
  if (info == nullptr) return;
  info->is_directory = (st.st_mode & _S_IFMT) == _S_IFDIR;
  info->is_regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  info->is_device = (st.st_mode & _S_IFMT) == _S_IFCHR;
  info->size = st.st_size;
  info->modified = static_cast<long long>(st.st_mtime);
}

}  // namespace

int file_identity(const char* path, FileIdentity* identity) {
  // No access asked: the file's attributes are readable whoever holds it.
  UniqueHandle file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION data{};
  if (!file.valid() || !GetFileInformationByHandle(file.get(), &data)) {
    errno = errno_of(GetLastError());
    return -1;
  }
  identity->device = data.dwVolumeSerialNumber;
  identity->index = (static_cast<unsigned long long>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  identity->size = static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  identity->modified = static_cast<long long>(
      (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
  return 0;
}

int file_stat(const char* path, FileInfo* info) {
  // The 64-bit form of _stat, so that a file past 2 GB reports its size.
  struct _stat64 st{};
  if (_stat64(path, &st) == 0) {
    fill_info(st, info);
    return 0;
  }
  // The runtime refuses a name that ends in a separator, while C:\gw\ names
  // the directory C:\gw to every other call (and to the registry's Path00).
  // It is looked at without its final separators, and only a directory
  // answers to it, as on POSIX. A root (C:\, \) is the runtime's own case.
  const int stat_error = errno;
  const std::string_view whole(path);
  const std::string_view directory = without_final_separators(whole, "\\/");
  if (directory.size() == whole.size() || directory.empty() || directory.back() == ':') {
    errno = stat_error;
    return -1;
  }
  if (_stat64(std::string(directory).c_str(), &st) != 0) return -1;
  if ((st.st_mode & _S_IFMT) != _S_IFDIR) {
    errno = ENOENT;
    return -1;
  }
  fill_info(st, info);
  return 0;
}

int entry_stat(const char* path, FileInfo* info) {
  if (is_reparse_point(path)) {
    *info = FileInfo{};
    info->is_link = true;
    return 0;
  }
  return file_stat(path, info);
}

int stream_stat(std::FILE* stream, FileInfo* info) {
  const int fd = stream != nullptr ? _fileno(stream) : -1;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  struct _stat64 st{};
  if (_fstat64(fd, &st) != 0) return -1;
  fill_info(st, info);
  return 0;
}

bool is_readable(const char* path) { return _access(path, 4) == 0; }

bool exists(const char* path) { return _access(path, 0) == 0; }

bool is_directory(const char* path) {
  FileInfo info;
  return file_stat(path, &info) == 0 && info.is_directory;
}

int make_writable(const char* path) {
  if (is_reparse_point(path)) {
    errno = EACCES;
    return -1;
  }
  return _chmod(path, _S_IWRITE);
}

int remove_file(const char* path) { return _unlink(path); }

int remove_plain_file(const char* path) {
  // Opened as the entry itself (a reparse point is not followed), examined
  // and removed through that one handle, so that no other entry can take the
  // name's place in between.
  UniqueHandle file(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    errno = errno_of(GetLastError());
    return -1;
  }
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) {
    errno = errno_of(GetLastError());
    return -1;
  }
  if ((basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    errno = EPERM;
    return -1;
  }
  // A read-only file refuses to be removed: the attribute goes first (zero
  // times leave the times as they are).
  if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    FILE_BASIC_INFO writable{};
    writable.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file.get(), FileBasicInfo, &writable, sizeof writable)) {
      errno = errno_of(GetLastError());
      return -1;
    }
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
    errno = errno_of(GetLastError());
    return -1;
  }
  return 0;
}

int rename_file(const char* from, const char* to) { return std::rename(from, to); }

namespace {

HANDLE open_for_flush(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int flush_file(const char* path) {
  UniqueHandle file(open_for_flush(path));
  // FlushFileBuffers needs a handle that may write, which a read-only file
  // refuses: it is made writable first, as before every other change.
  if (!file.valid() && GetLastError() == ERROR_ACCESS_DENIED && make_writable(path) == 0) {
    file.reset(open_for_flush(path));
  }
  if (!file.valid() || !FlushFileBuffers(file.get())) {
    errno = errno_of(GetLastError());
    return -1;
  }
  return 0;
}

int flush_directory(const char*) { return 0; }

int replace_file(const char* from, const char* to) {
  // The data first, so that the name never leads to a file the disk has not got.
  if (flush_file(from) != 0) return -1;
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  errno = errno_of(GetLastError());
  return -1;
}

namespace {

constexpr char kWorkSuffix[] = ".new";

void fail_with_last_error() { errno = errno_of(GetLastError()); }

}  // namespace

int write_whole_file(const char* path, const char* data, std::size_t size) {
  const std::string work = std::string(path) + kWorkSuffix;
  // A work file left by a run that was cut off goes (a link goes itself).
  if (!DeleteFileA(work.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    fail_with_last_error();
    return -1;
  }
  // Made new, and never opened through a reparse point in its place.
  UniqueHandle file(CreateFileA(work.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    fail_with_last_error();
    return -1;
  }
  bool written = true;
  for (std::size_t done = 0; written && done < size;) {
    DWORD count = 0;
    const DWORD chunk = static_cast<DWORD>(size - done > 0x10000000 ? 0x10000000 : size - done);
    written = WriteFile(file.get(), data + done, chunk, &count, nullptr) != 0;
    done += count;
  }
  written = written && FlushFileBuffers(file.get());
  if (!written) fail_with_last_error();
  const int error = errno;
  file.reset();
  if (written && MoveFileExA(work.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  if (written) fail_with_last_error();
  const int failure = written ? errno : error;
  DeleteFileA(work.c_str());
  errno = failure;
  return -1;
}

SmallRead read_small_file(const char* path, std::size_t limit, SmallFile* out) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    errno = errno_of(error);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SmallRead::kMissing
                                                                          : SmallRead::kUnreadable;
  }
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return SmallRead::kNotRegular;
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    fail_with_last_error();
    return SmallRead::kUnreadable;
  }
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return SmallRead::kNotRegular;
  BY_HANDLE_FILE_INFORMATION data{};
  if (!GetFileInformationByHandle(file.get(), &data)) {
    fail_with_last_error();
    return SmallRead::kUnreadable;
  }
  const unsigned long long bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  out->identity.device = data.dwVolumeSerialNumber;
  out->identity.index = (static_cast<unsigned long long>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  out->identity.size = static_cast<long long>(bytes);
  out->identity.modified = static_cast<long long>(
      (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
  if (bytes > limit) return SmallRead::kTooLarge;
  out->bytes.assign(static_cast<std::size_t>(bytes), '\0');
  DWORD count = 0;
  if (!out->bytes.empty() && !ReadFile(file.get(), out->bytes.data(), static_cast<DWORD>(bytes), &count, nullptr)) {
    fail_with_last_error();
    return SmallRead::kUnreadable;
  }
  out->bytes.resize(count);
  return SmallRead::kRead;
}

// Windows tells no owner by a number: the folders' rights decide who writes.
unsigned long owner_of(const char*) { return 0; }

int change_dir(const char* path) { return _chdir(path); }

int create_exclusive(const char* path) {
  int fd = _open(path, _O_CREAT | _O_EXCL | _O_RDONLY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return -1;
  _close(fd);
  return 0;
}

}  // namespace port
