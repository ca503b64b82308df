// Saving a text file in place of the old one without ever losing it.
//
// The promise, on every Windows the program runs on:
// - when SaveTextFile returns, the file holds exactly the new bytes;
// - when it raises, the file holds exactly the old bytes (or there is no
//   file, where there was none);
// - after a cut at any moment (the process ended, the power lost), the file
//   holds the old or the new bytes, or RecoverInterruptedSave, which the
//   next run calls before it looks for the file, puts one of them back.
// No line is lost, and no line appears that was in neither text.
//
// The one exception is the rewrite in place, taken only where no new file
// can be made beside the file (the folder takes no new file, every spare
// name is taken, the disk has room for the growth only): a cut while it
// overwrites the old bytes leaves part old text, part new. A failure there
// still puts the old bytes back before it is raised.
//
// The save fails only where the file itself may not be written
// (EFCreateError: missing folder, read-only, in use, access denied) or the
// text does not fit (EWriteError). Hidden and system attributes stay as
// they were; the archive attribute is set, as for any changed file.
//
// Another program may hold a file for a moment (a virus scanner opens a
// file just written): a call of the save or the recovery refused with a
// sharing violation or access denied is tried again, after 20, 40, 80 ...
// milliseconds, while the run's patience lasts: about a second in all, so
// that a real refusal (a read-only file, a folder without rights) costs no
// more than that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pm {

// The time a run may wait in all for refused calls; one for the run's
// recovery and save together.
class Patience {
public:
    // Waits before another try of a call refused with `error`; false, at
    // once, for any other error or when the time is used up.
    bool WaitAfter(std::uint32_t error);

private:
    std::uint32_t left_ = 1000;
    std::uint32_t next_ = 20;
};

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
// placed them. Without `patience`, with a patience of its own.
SaveWay SaveTextFile(const std::string& path, const char* text, std::size_t length, Patience& patience);
SaveWay SaveTextFile(const std::string& path, const char* text, std::size_t length);

// Finishes a save of `path` that was cut short while the old file stood
// under a backup name (the Backup way, or ReplaceFileA keeping a backup):
// a backup without the file is renamed back, backups beside the file
// (which is then whole) are removed. It never guesses: where it cannot tell
// whether a backup or the file is there, finds two backups, or cannot
// rename the backup back, it raises EFOpenError for `path`, and the run
// writes nothing. A backup it cannot remove is left for a later run.
void RecoverInterruptedSave(const std::string& path, Patience& patience);
void RecoverInterruptedSave(const std::string& path);

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
