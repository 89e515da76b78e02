// HKEY_LOCAL_MACHINE on POSIX: a registry file. It is parsed once per
// process and kept (an exported registry can be tens of megabytes); every open
// still looks at the file, so that a changed file is seen by the next reader
// as a changed registry is.
#include "port/registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "port/change_rule.h"
#include "port/posix/registry_file.h"
#include "port/posix/syscalls.h"
#include "port/posix/table_stream.h"
#include "port/stream.h"

namespace port {

namespace {

constexpr char kDefaultRegistryFile[] = "/etc/lorvex/registry.reg";
constexpr char kRoot[] = "HKEY_LOCAL_MACHINE";
constexpr long kRegInvalidHandle = 6;
constexpr long kRegInvalidParameter = 87;

// The registry as one reading of the file gave it.
struct Registry {
  // kRegSuccess, or kRegAccessDenied when the file exists but could not be
  // read or decoded: that is no empty registry, and callers must say so.
  long status = kRegSuccess;
  std::vector<posix::RegistryKey> keys;
};

using RegistryPtr = std::shared_ptr<const Registry>;

struct OpenKey {
  RegistryPtr registry;                       // kept alive while the key is open
  const posix::RegistryKey* key = nullptr;  // null: a parent without values of its own
};

// What tells one state of a file from another.
struct FileIdentity {
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileIdentity& other) const {
    return name == other.name && device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

// The last file read and what it gave.
struct Cache {
  std::mutex lock;
  FileIdentity identity;
  RegistryPtr registry;
};

Cache& cache() {
  static Cache the_cache;
  return the_cache;
}

RegistryPtr with_status(long status) {
  auto registry = std::make_shared<Registry>();
  registry->status = status;
  return registry;
}

// The file's bytes; false on a read error.
bool read_all(std::FILE* file, std::string* text) {
  // On the heap: a program may run with a stack no larger than this.
  constexpr std::size_t kReadSize = 65536;
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadSize]);
  if (buffer == nullptr) {
    errno = ENOMEM;
    return false;
  }
  size_t got = 0;
  while ((got = std::fread(buffer.get(), 1, kReadSize, file)) > 0) text->append(buffer.get(), got);
  return std::ferror(file) == 0;
}

// The registry file last refused because another user can change it.
struct Refusal {
  std::mutex lock;
  std::string file;
  PathVerdict verdict;
};

Refusal& refusal() {
  static Refusal the_refusal;
  return the_refusal;
}

RegistryPtr load_registry() {
  const char* name = posix::sys().getenv("LORVEX_REGISTRY");
  if (name == nullptr || *name == '\0') name = kDefaultRegistryFile;
  // The registry names the programs' tools and directories: a file another
  // user can change is no registry to follow.
  PathVerdict verdict;
  std::FILE* file = open_instructions(name, "rb", &verdict);
  if (file == nullptr) {
    const int error = errno;
    if (verdict.exposure != Exposure::kNone) {
      Refusal& refused = refusal();
      std::lock_guard<std::mutex> hold(refused.lock);
      refused.file = name;
      refused.verdict = verdict;
    }
    // Only a missing file means no keys at all.
    return with_status(error == ENOENT || error == ENOTDIR ? kRegSuccess : kRegAccessDenied);
  }
  FileIdentity identity;
  identity.name = name;
  struct stat info {};
  const int fd = posix::stream_fd(file);
  const bool known = fd >= 0 && posix::sys().fstat(fd, &info) == 0;
  if (known) {
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modified = info.st_mtim;
  }
  Cache& kept = cache();
  std::lock_guard<std::mutex> hold(kept.lock);
  if (known && kept.registry != nullptr && kept.identity == identity) {
    std::fclose(file);
    return kept.registry;
  }
  std::string text;
  const bool read = read_all(file, &text);
  std::fclose(file);
  // A read error may pass: it is not kept.
  if (!read) return with_status(kRegAccessDenied);
  auto registry = std::make_shared<Registry>();
  if (posix::decode_registry_bytes(&text)) {
    registry->keys = posix::parse_registry_text(text);
  } else {
    registry->status = kRegAccessDenied;
  }
  if (known) {
    kept.identity = identity;
    kept.registry = registry;
  }
  return registry;
}

// Copies the data as RegQueryValueExA does: the size is always reported,
// the bytes only when a buffer is given and they fit.
long copy_data(const posix::RegistryValue& value, unsigned long* type, unsigned char* data,
               unsigned long* data_size) {
  if (data != nullptr && data_size == nullptr) return kRegInvalidParameter;
  if (type != nullptr) *type = value.type;
  if (data_size == nullptr) return kRegSuccess;
  const unsigned long needed = static_cast<unsigned long>(value.data.size());
  const unsigned long capacity = *data_size;
  *data_size = needed;
  if (data == nullptr) return kRegSuccess;
  if (needed > capacity) return kRegMoreData;
  if (needed > 0) std::memcpy(data, value.data.data(), needed);
  return kRegSuccess;
}

}  // namespace

bool registry_refused(std::string* file, PathVerdict* verdict) {
  Refusal& refused = refusal();
  std::lock_guard<std::mutex> hold(refused.lock);
  if (refused.file.empty()) return false;
  *file = refused.file;
  *verdict = refused.verdict;
  return true;
}

RegKey::~RegKey() { close(); }

long RegKey::open_local_machine(const char* subkey) {
  close();
  std::string path = kRoot;
  if (subkey != nullptr && *subkey != '\0') path += std::string("\\") + subkey;
  const std::string_view wanted = posix::without_trailing_separators(path);
  RegistryPtr registry = load_registry();
  if (registry->status != kRegSuccess) return registry->status;
  if (!posix::registry_key_exists(registry->keys, wanted)) return kRegFileNotFound;
  auto* key = new OpenKey;
  key->key = posix::find_registry_key(registry->keys, wanted);
  key->registry = std::move(registry);
  impl_ = key;
  return kRegSuccess;
}

long RegKey::enum_value(unsigned long index, char* name, unsigned long* name_size, unsigned long* type,
                        unsigned char* data, unsigned long* data_size) {
  const auto* key = static_cast<const OpenKey*>(impl_);
  if (key == nullptr) return kRegInvalidHandle;
  if (name == nullptr || name_size == nullptr) return kRegInvalidParameter;
  if (key->key == nullptr || index >= key->key->values.size()) return kRegNoMoreItems;
  const posix::RegistryValue& value = key->key->values[index];
  // The name must fit with its terminating zero.
  if (value.name.size() + 1 > *name_size) return kRegMoreData;
  const long rc = copy_data(value, type, data, data_size);
  if (rc != kRegSuccess) return rc;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *name_size = static_cast<unsigned long>(value.name.size());
  return kRegSuccess;
}

long RegKey::query_value(const char* name, unsigned long* type, unsigned char* data, unsigned long* data_size) {
  const auto* key = static_cast<const OpenKey*>(impl_);
  if (key == nullptr) return kRegInvalidHandle;
  if (key->key == nullptr) return kRegFileNotFound;
  const std::string wanted = name ? name : "";
  for (const posix::RegistryValue& value : key->key->values) {
    if (posix::registry_names_equal(value.name, wanted)) return copy_data(value, type, data, data_size);
  }
  return kRegFileNotFound;
}

void RegKey::close() {
  delete static_cast<OpenKey*>(impl_);
  impl_ = nullptr;
}

}  // namespace port
