// The settings store: the values the program remembers between runs.
//
// Per user, under the application name "Harrowgate" and the section
// "Quillmere".  On Linux that is the INI file
//     $XDG_CONFIG_HOME/Harrowgate/Harrowgate.conf   (usually ~/.config/...)
// with the section as its [Quillmere] group, written through QSettings.
// Every value is a string; a key never written reads as the empty string
// unless the reader names another default.  Each write goes to disk at once.
//
// The file holds the Access password in clear text, so it is kept readable
// by its owner only: the folder is made 0700 before anything is written into
// it and the file is set to 0600 after every write.
#pragma once

#include <QString>

namespace qm::shell {

inline constexpr const char* kSettingsApplication = "Harrowgate";
inline constexpr const char* kSettingsSection = "Quillmere";

// The keys, and no others.
namespace key {
inline constexpr const char* DBCFile = "DBCFile";
inline constexpr const char* FreeTableFolder = "FreeTableFolder";
inline constexpr const char* FoxproOption = "FoxproOption";
inline constexpr const char* AccessMDBFile = "AccessMDBFile";
inline constexpr const char* AccessPassword = "AccessPassword";
inline constexpr const char* WithDataTypeChange1 = "With Data Type Change 1";
inline constexpr const char* WithDataTypeChange2 = "With Data Type Change 2";
} // namespace key

QString GetSetting(const QString& key, const QString& defaultValue = QString());

// Writes the value and syncs the file.  Throws qm::Error naming the file
// when the value could not be stored or the file not protected.
void SaveSetting(const QString& key, const QString& value);

// The store's file.
QString SettingsFilePath();

} // namespace qm::shell
