// Saving a text file in place of the old one without ever losing it.
//
// The promise, on every Windows the program runs on:
// - When SaveTextFile returns, the file holds exactly the new bytes.
// - When it raises, the file holds exactly the old bytes, or there is no
//   file where there was none. One exception: the old file was renamed to
//   a backup name (the 95 way, or ReplaceFileA answering 1177), and then
//   neither file could take the file's name within the patience. The old
//   bytes then stay under the backup name; the next run puts them back.
// - After a cut (the process ended, the power lost), the file holds the
//   old or the new bytes, once the next run's RecoverInterruptedSave ran.
// No line is lost, and no line appears that was in neither text.
//
// The rewrite in place is the exception to the cut rule: a cut while it
// overwrites the old bytes leaves part old text, part new. It is taken
// only where no new file can take the file's place:
// - the folder takes no new file (two temporary names refused, although
//   nothing has them);
// - every temporary name is taken;
// - the disk has room for the growth only;
// - on 95, 98 and Me, every backup name is taken by something that cannot
//   be removed.
// It is never taken while a temporary file is merely held by another
// program. A failure in it puts the old bytes back before it is raised.
//
// Once the new file has its place, the backup is removed, or marked as a
// finished save's leftover where it cannot be (DiscardBackup). A cut
// between the two leaves it unmarked, beside a file that holds its lines.
// The next run removes it, unless a line was deleted from the file by
// hand in between: that run takes the line back.
//
// The save fails only where the file itself may not be written, or the
// text does not fit. EFCreateError: missing folder, read-only, in use,
// access denied, a complete new file that another program holds beyond
// the patience, or an old file under the backup name that cannot be put
// back (the exception above). EWriteError: the text does not fit. Hidden and system
// attributes stay; the archive attribute is set, as for any changed file.
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
// under a backup name; tells whether the file is there now, and gives the
// backups beside it whose lines the caller must weigh. A backup marked read-only is a finished save's
// leftover: a copy of a text whose lines the file received. Each row is
// what the folder may hold when a run starts:
//
//   file   backups              action
//   ----   -------------------  ------------------------------------------
//   yes    none                 nothing
//   yes    marked               removed; its lines are never taken back
//   yes    unmarked             given to the caller, who keeps the lines the
//                               file lacks and removes it after the save
//                               (or at once, where the file holds them all;
//                               one it cannot read it leaves for a later run)
//   no     none                 nothing: the file is made anew
//   no     one or more          one is renamed back (an unmarked one first,
//                               cleared of its mark, with the hidden and
//                               system bits of every backup); the others
//                               are then beside the file, as above
//   either one that cannot be   left as it is, its name not used; where
//          seen (no rights)     no other backup and no file is there,
//                               EFOpenError for it: the run writes nothing
//   unknown                     EFOpenError for the file
//
// Where a backup cannot be renamed back, EFOpenError names it.
struct Recovery {
    bool fileThere = false;
    std::vector<std::string> backups;
};
Recovery RecoverInterruptedSave(const std::string& path, Patience& patience);
// Removes a backup whose lines the file holds. Where it stays (another
// program holds it), it is marked read-only, so that no later run takes
// its lines back; a marked one is removed by way of a temporary name, so
// that no moment finds it under a backup name unmarked.
void DiscardBackup(const std::string& backup, Patience& patience);

// The temporary file's name for try `n` (from 0): the path with the last
// three characters of its file name replaced by "~" and two digits, so it is
// never longer than the path itself. Empty when the name is too short or
// `n` is past the last try.
std::string TemporaryName(const std::string& path, unsigned n);
// The backup names, `n` from 0 to BackupNames - 1: the same with "~BK",
// "~BL" and "~BM". The old file takes the first that is free: a backup of
// an earlier run, or a folder, may have the others. Empty when the name is
// too short.
inline constexpr unsigned BackupNames = 3;
std::string BackupName(const std::string& path, unsigned n = 0);

}  // namespace pm
