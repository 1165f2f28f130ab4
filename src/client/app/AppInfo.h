#pragma once
#include <QString>

// The program's name and version as it introduces itself to the service.
// The numbers come from the build (the project's version in CMake).
namespace AppInfo {
inline constexpr auto Title = "Zelvat - Velloria";
inline constexpr int Major = VELLORIA_VERSION_MAJOR;
inline constexpr int Minor = VELLORIA_VERSION_MINOR;
inline constexpr int Revision = VELLORIA_VERSION_PATCH;
inline constexpr auto Dedication = "Зэнора";
}
