#pragma once
#include <QString>

// The program's name and version as it introduces itself to the service.
namespace AppInfo {
inline constexpr auto Title = "Zelvat - Velloria";
inline constexpr int Major = 1;
inline constexpr int Minor = 0;
inline constexpr int Revision = 36;
inline constexpr auto Dedication = "Зэнора";
}
