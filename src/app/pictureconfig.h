// The picture configuration, CFG\PictoCfg.cfg: one "Address=PicturePath"
// line per entry, kept in case-insensitive order without repeated lines
// being added. Existing lines are never removed, rewritten or validated.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/filesave.h"
#include "runtime/linelist.h"
#include "runtime/runlock.h"

namespace pm {

inline constexpr const char* ConfigurationFileName = "CFG\\PictoCfg.cfg";

// The configuration file's whole life in one run, in one place: a save cut
// short by an earlier run is finished first, the file's lines are read
// where there is a file, and the new text is saved in its place. From Load
// until Save has placed it (or the object goes), the run holds the file's
// lock: another run waits for it (runlock.h). The run's patience for calls
// refused a moment (a scanner) serves all of it.
//
// What is done with the backups found beside the file is the table of
// RecoverInterruptedSave (filesave.h); the weighing of their lines is done
// here, in Load.
class ConfigurationFile {
public:
    ConfigurationFile(std::string path, Patience& patience) : path_(std::move(path)), patience_(patience) {}
    // Finishes a save cut short, then loads the file's lines as they are,
    // where there is a file, prepares them (PrepareConfiguration), and adds
    // those of any backup beside it that the file lacks. Where it cannot be
    // told whether the file or its backup is there, EFOpenError: the run
    // must not build the file from the index alone.
    void Load(LineList& configuration);
    // Writes every line, CR LF ended, in place of the file; then removes
    // the backups whose lines it holds, and gives up the lock.
    void Save(const LineList& configuration);

private:
    std::string path_;
    Patience& patience_;
    RunLock lock_;
    std::vector<std::string> backups_;  // beside the file, lines of theirs loaded
};

// Sorts the lines and switches the list to sorted mode, repeats ignored.
// That sorts twice: once here, and again as the list enters sorted mode.
// The sort is not stable, so the second pass moves again the lines that
// compare equal (they differ only in letter case, or in what word sort
// passes over): the two passes together decide their order in the saved
// file, as they always have, so a file keeps the order it was saved in.
void PrepareConfiguration(LineList& configuration);
// Adds the line Address=Path at its place unless an equal line is present
// (merged in with the others by the list's FinishMerges). It
// keeps its line buffer from one pair to the next.
class PairMerger {
public:
    explicit PairMerger(LineList& configuration) : configuration_(configuration) {}
    void operator()(std::string_view address, std::string_view picturePath);

private:
    LineList& configuration_;
    std::string line_;
};

}  // namespace pm
