#include "admin/cyclerun/trees.h"

#include <string>
#include <utility>
#include <vector>

#include "admin/common/change_refusal.h"
#include "admin/common/diagnostics.h"

bool trees_are_roots(const char* settings_path, const SettingsStore& settings) {
  std::vector<UsedPath> paths;
  if (const char* data = settings.get(Setting::kDataDirectory)) paths.push_back({"Data-Directory", data});
  if (const char* work = settings.get(Setting::kWorkingDirectory)) paths.push_back({"Working-Directory", work});
  // KESTREL_HOME as the settings left it in the environment the tools inherit.
  const auto refusal =
      refusal_as_root(with_framework_of_environment(std::move(paths)), command_for_shell({"cyclerun", settings_path}));
  if (!refusal) return true;
  Diagnostics("cyclerun").error("%s", refusal->c_str());
  return false;
}
