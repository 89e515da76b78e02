#pragma once

namespace lxtool {

extern const char kSjisMessage[];
extern const char kSjisTable[];

}  // namespace lxtool
