// The project version, from the build (project(... VERSION ...)), for the
// --version line of every executable.
#pragma once

namespace kelbow {

#ifndef KELBOW_VERSION
#error "KELBOW_VERSION must be defined by the build"
#endif
inline constexpr const char* kVersion = KELBOW_VERSION;

}  // namespace kelbow
