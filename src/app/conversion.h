// The program's one run: find the mail program's home directory, merge the
// picture index into the picture configuration, and tell the user the
// outcome in one message box.
#pragma once

#include <string>

namespace pm {

inline constexpr const char* HomeKey = "SoftWare\\Velkorware\\Quernpost";
inline constexpr const char* HomeValue = "HomeDir";

inline constexpr const char* TextIndexMissing = "Fmmp0000.inf not Found. See Pictomap.txt for Details.";
inline constexpr const char* TextNothingFound = "No Info in fmmp0000.inf.";
inline constexpr const char* TextConverted = "Convert Complete!.";
inline constexpr const char* CaptionError = "Error";
inline constexpr const char* CaptionInformation = "Information";

// True when the directory search finds an entry for `path` (wildcards
// match) that is not a directory.
bool FileExists(const std::string& path);

// The conversion run. Unexpected conditions are raised as failures.
void RunConversion();

}  // namespace pm
