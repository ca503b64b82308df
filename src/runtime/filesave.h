// Saving a text file in place of the old one without ever losing it.
//
// The promise, on every Windows the program runs on:
// - when SaveTextFile returns, the file holds exactly the new bytes;
// - when it raises, the file holds exactly the old bytes (or there is no
//   file, where there was none), with one exception: where the old file
//   has been renamed to a backup name (the 95 way, or ReplaceFileA
//   answering 1177) and then neither the new file nor the backup can take
//   the file's name within the patience, the old bytes stay under the
//   backup name, and the next run's RecoverInterruptedSave puts them back;
// - after a cut at any moment (the process ended, the power lost), the file
//   holds the old or the new bytes, or RecoverInterruptedSave, which the
//   next run calls before it looks for the file, puts one of them back.
// No line is lost, and no line appears that was in neither text.
//
// The one exception is the rewrite in place, taken only where no new file
// can be made beside the file (the folder takes no new file, every spare
// name is taken, the disk has room for the growth only), never while a
// temporary file is merely held by another program: a cut while it
// overwrites the old bytes leaves part old text, part new. A failure there
// still puts the old bytes back before it is raised.
//
// The save fails only where the file itself may not be written
// (EFCreateError: missing folder, read-only, in use, access denied, or a
// complete new file that another program holds beyond the patience) or the
// text does not fit (EWriteError). Hidden and system attributes stay as
// they were; the archive attribute is set, as for any changed file.
//
// Calls refused for a moment (a scanner holding a file) are tried again
// within the run's patience (patience.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/patience.h"

namespace pm {

// The ways a save can take. All but the last first write the whole text to
// a temporary file beside the file, flush it, and then put it in the file's
// place; they are tried in this order.
enum class SaveWay {
    NewFile,      // there was no file: the temporary file is renamed
    ReplaceFile,  // ReplaceFileA (Windows 2000 and later)
    MoveFileEx,   // MoveFileExA, replacing, write-through (NT 4.0)
    Backup,       // the old file renamed to the backup name, the temporary
                  // file to the file's name, the backup removed (95, 98, Me)
    InPlace,      // the file itself rewritten
};

// Saves `length` bytes of `text` as the file at `path`; gives the way that
// placed them.
SaveWay SaveTextFile(const std::string& path, const char* text, std::size_t length, Patience& patience);

// Finishes a save of `path` that was cut short while the old file stood
// under a backup name (the Backup way, or ReplaceFileA keeping a backup):
// a backup without the file is renamed back. It never guesses: where it
// cannot tell whether a backup or the file is there, finds two backups
// without the file, or cannot rename the backup back, it raises
// EFOpenError for `path`, and the run writes nothing.
// Gives the backups it found beside the file. They are not removed here:
// the file beside them may not be the one a save wrote (the mail program
// or the user may have made it since), and a backup may then hold the only
// copy of old lines. The caller keeps what they hold and removes them with
// RemoveBackup.
std::vector<std::string> RecoverInterruptedSave(const std::string& path, Patience& patience);
// Removes a backup (read-only or not); a refusal leaves it for a later run.
void RemoveBackup(const std::string& backup, Patience& patience);

// The temporary file's name for try `n` (from 0): the path with the last
// three characters of its file name replaced by "~" and two digits, so it is
// never longer than the path itself. Empty when the name is too short or
// `n` is past the last try.
std::string TemporaryName(const std::string& path, unsigned n);
// The backup names, `n` from 0 to BackupNames - 1: the same with "~BK", and
// "~BL" for the 95 way where something that cannot be moved (a folder, a
// read-only file) has the first. Empty when the name is too short.
inline constexpr unsigned BackupNames = 2;
std::string BackupName(const std::string& path, unsigned n = 0);

}  // namespace pm
