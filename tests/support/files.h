// The program's file calls as a test makes them, each with a patience of
// its own (a run has one for all its calls).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/filesave.h"
#include "runtime/linelist.h"
#include "winsys/platform.h"

namespace pm::test {

inline constexpr std::uint32_t HiddenSystem = plat::AttributeHidden | plat::AttributeSystem;

// The file's attributes, 0 where they cannot be asked.
inline std::uint32_t AttributesOf(const std::string& path) {
    std::uint32_t attributes = 0;
    return plat::GetFileAttributes(path, attributes) ? attributes : 0;
}

inline void ReadLines(LineList& list, const std::string& path) {
    Patience patience;
    list.ReadLines(path, patience);
}
inline SaveWay Save(const std::string& path, std::string_view text) {
    Patience patience;
    return SaveTextFile(path, text.data(), text.size(), patience);
}
inline void WriteLines(LineList& list, const std::string& path) { Save(path, list.ComposeText()); }
inline std::vector<std::string> Recover(const std::string& path) {
    Patience patience;
    return RecoverInterruptedSave(path, patience).backups;
}

// A next run's save, as the configuration's: recovery first, the backups
// beside the file removed after the save (their lines are the text's here).
inline void NextSave(const std::string& path, std::string_view text) {
    Patience patience;
    const std::vector<std::string> backups = RecoverInterruptedSave(path, patience).backups;
    SaveTextFile(path, text.data(), text.size(), patience);
    for (const std::string& backup : backups) DiscardBackup(backup, patience);
}

}  // namespace pm::test
