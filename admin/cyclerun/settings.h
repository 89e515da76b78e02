#pragma once
// The settings of one gathering cycle, read from its settings file.

// The names the cycle keeps (every other recognised name is exported).
enum class Setting {
  kAccessDelay, kDataDirectory, kDebugOptions, kEssenceOptions, kGathererOptions, kExportdInetd,
  kGathererHost, kGathererName, kGathererPort, kGathererVersion, kHttpBasicAuth, kFtpAuth,
  kKeepCache, kLibDirectory, kLocalMapping, kLogFile, kErrorlogFile, kPostSummarizing,
  kRefreshRate, kTimeToLive, kTopDirectory, kWorkingDirectory, kLorvexLang, kLinkprunecmd,
  kKeybuildcmd, kAgecullcmd, kSeedcmd, kEssencecmd, kStoresealcmd, kExportdcmd,
  kCount
};

// One slot per kept name, each empty or holding its own copy of the value.
class SettingsStore {
 public:
  SettingsStore() = default;
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;
  ~SettingsStore() { release(); }

  // The value, or null when the file did not give the name.
  const char* get(Setting name) const { return slots_[static_cast<int>(name)]; }
  // Replaces the slot's value with a copy; false when there is no memory.
  bool set(Setting name, const char* value);
  void release();

 private:
  char* slots_[static_cast<int>(Setting::kCount)] = {};
};

// Reads the settings file: exports the environment lines, keeps the cycle's
// names and warns about the rest. Ends the program with status 1 when the
// file cannot be opened or a line cannot be taken.
void read_settings(const char* path, SettingsStore* store);
