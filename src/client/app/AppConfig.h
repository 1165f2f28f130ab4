#pragma once
#include <memory>

class QSettings;

// Where the program keeps its settings.
namespace AppConfig {

// The settings file: INI in the user's configuration folder
// (~/.config/Zelvat/Velloria.ini). QSettings writes it atomically under a lock.
std::unique_ptr<QSettings> openSettings();

// The organization and application names (the folders of the settings, the
// journal and the e-mail history follow them) and the version: what both
// programs tell Qt before anything reads a file.
void setApplicationNames();
}
