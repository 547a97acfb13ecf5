// The current user's registry key Software\Fallowmere\Wizards, kept as an INI file:
// $XDG_CONFIG_HOME/Fallowmere/Wizards.ini (~/.config when the variable is unset). Value names
// match without regard to case, as registry value names do.
#pragma once

#include <optional>
#include <string>

// The current user's folder of Fallowmere settings, ending in '/': $XDG_CONFIG_HOME/Fallowmere/
// (~/.config when the variable is unset).
std::string userSettingsFolder();

// The file that holds the key's values.
std::string registryFilePath();

// The value, or nothing when the file or the value is missing.
std::optional<std::string> readRegistryValue(const std::string& name);

// Stores the value, creating the folder and the file when missing. False when it cannot be written.
bool writeRegistryValue(const std::string& name, const std::string& value);
