#pragma once
#include <memory>

class QSettings;

// Where the program keeps its settings.
namespace AppConfig {

// The settings file: INI in the user's configuration folder
// (~/.config/Zelvat/Velloria.ini). QSettings writes it atomically under a lock.
std::unique_ptr<QSettings> openSettings();
}
