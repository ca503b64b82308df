#include "runtime/filesave.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "base/failure.h"
#include "winsys/handles.h"
#include "winsys/platform.h"

namespace pm {
namespace {

constexpr unsigned TemporaryTries = 100;
constexpr std::uint32_t KeptAttributes = plat::AttributeHidden | plat::AttributeSystem;
constexpr std::uint32_t SetAttributes = KeptAttributes | plat::AttributeArchive;

struct Save {
    const std::string& path;
    const char* text;
    std::uint32_t length;
    Patience& patience;
    // Made before any file is: once the temporary file exists, nothing
    // allocates until it has its place or is gone.
    std::string backups[BackupNames];
    // A free backup name for ReplaceFileA, which would overwrite a file of
    // that name (a backup kept from an earlier run); null: none is free.
    const std::string* replaceBackup = nullptr;
    bool existed = false;
    bool attributesKnown = false;
    std::uint32_t attributes = 0;  // the old file's

    // What the file's hidden, system and archive bits are to be after the
    // save; only for a file that was there and whose attributes are known.
    std::uint32_t Wanted() const { return (attributes & KeptAttributes) | plat::AttributeArchive; }
};

[[noreturn]] void CannotCreate(const Save& save) {
    Raise<EFCreateError>(FormatText("Cannot create file %s", save.path));
}
[[noreturn]] void CannotWrite() { Raise<EWriteError>("Stream write error"); }

bool WriteAll(plat::FileHandle file, const char* bytes, std::uint32_t count) {
    std::uint32_t done = 0;
    return count == 0 || (plat::WriteFile(file, bytes, count, done) && done == count);
}

bool ReadAll(plat::FileHandle file, char* bytes, std::uint32_t count) {
    std::uint32_t done = 0;
    return count == 0 || (plat::ReadFile(file, bytes, count, done) && done == count);
}

bool Exists(std::uint32_t error) { return error == plat::ErrorFileExists || error == plat::ErrorAlreadyExists; }

// What has the name `name`, by its attributes: every question the save
// and its recovery ask of a name. Unknown where they are refused otherwise
// than as for a missing file: such a name may be taken, and is neither
// used nor counted as free. With a patience, a refusal for a moment is
// asked again.
//
// The only other such question is the run's of the index (FileExists, in
// conversion.cpp), which differs on purpose: it is a search, as the index
// was always looked for (a name with wildcards finds a match), and an
// index that cannot be seen is reported missing, since nothing is written
// then. Here a name that cannot be seen could hold a user's lines.
enum class There { File, Folder, Nothing, Unknown };
There WhatIsThere(const std::string& name, std::uint32_t& attributes, Patience* patience = nullptr) {
    const auto ask = [&] { return plat::GetFileAttributes(name, attributes); };
    if (patience ? Retried(*patience, ask) : ask())
        return attributes & plat::AttributeDirectory ? There::Folder : There::File;
    return plat::NoSuchFile(plat::LastError()) ? There::Nothing : There::Unknown;
}

bool NothingThere(const std::string& name) {
    std::uint32_t attributes = 0;
    return WhatIsThere(name, attributes) == There::Nothing;
}

// Sets `attributes` without the read-only bit on the file `name`.
bool ClearReadOnly(const std::string& name, std::uint32_t attributes) {
    const std::uint32_t plain = attributes & ~plat::AttributeReadOnly;
    return plat::SetFileAttributes(name, plain ? plain : plat::AttributeNormal);
}

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

// `path` with the last three characters of its file name replaced.
std::string SpareName(const std::string& path, char a, char b) {
    const std::size_t name = path.find_last_of("\\/:") + 1;  // npos + 1 is 0
    if (path.size() - name < 3) return {};
    std::string spare = path.substr(0, path.size() - 3);
    spare += '~';
    spare += a;
    spare += b;
    return spare;
}

// A new temporary file of one of our names, open for writing with no
// sharing; invalid when none can be made.
//
// A name that is taken is passed over, or reused where its file is a
// leftover of a save cut short that can be removed. Passed over are: a
// file that another save or program holds, a folder, and a read-only file.
// A name refused although nothing has it means the folder takes no new
// file. That answer may also be a moment's (a scanner), so the save gives
// up only when a second name is refused the same way.
UniqueFile MakeTemporary(const Save& save, std::string& name) {
    const auto create = [&] { return plat::CreateFile(name, plat::GenericWrite, 0, plat::CreateNew); };
    bool refusedOnce = false;
    for (unsigned n = 0;; ++n) {
        name = TemporaryName(save.path, n);
        if (name.empty()) return {};
        if (SameName(name, save.path)) continue;
        UniqueFile file(create());
        if (file.Valid()) return file;
        const std::uint32_t error = plat::LastError();
        if (error == plat::ErrorSharingViolation) continue;
        if (error == plat::ErrorAccessDenied) {
            if (!NothingThere(name)) continue;
            if (refusedOnce) return {};
            refusedOnce = true;
            continue;
        }
        if (!Exists(error)) return {};
        // Not waited for: another name is as good.
        if (plat::DeleteFile(name)) {
            *file.Put() = create();
            if (file.Valid()) return file;
        }
    }
}

// Removes the temporary file after it could not be written or placed.
// A refusal leaves it for a later save, and the rewrite in place may still
// do. Raises EFCreateError, the file keeping its old bytes, where another
// program holds it: its place would have been had a moment later.
void GiveUpTemporaryOrRaise(const Save& save, const std::string& temporary) {
    if (!Retried(save.patience, [&] { return plat::DeleteFile(temporary); }) &&
        AskIfHeldByAnother(temporary, plat::LastError()))
        CannotCreate(save);
}

// The whole text in a temporary file beside the file, flushed and closed,
// with the old file's hidden and system bits, so that no moment finds the
// file without them. Empty when no such file could be made or written (a
// full disk): the rewrite in place may still fit.
std::string WriteTemporary(const Save& save) {
    std::string name;
    UniqueFile file = MakeTemporary(save, name);
    if (!file.Valid()) return {};
    const bool written = WriteAll(file.Get(), save.text, save.length) && plat::FlushFileBuffers(file.Get());
    file.Reset();
    if (!written) {
        GiveUpTemporaryOrRaise(save, name);  // a leftover is reused by a later save
        return {};
    }
    if (save.existed && save.attributesKnown && (save.attributes & KeptAttributes))
        plat::SetFileAttributes(name, save.Wanted());
    return name;
}

// Puts the complete temporary file in the file's place. Every refusal
// leaves the old file under its name and goes on to the next way; when all
// refuse, the temporary file is removed (GiveUpTemporaryOrRaise) and
// nothing is placed. While the old file stands under the backup name, the new text is
// under the temporary one and the file has none: a cut there is finished
// by the next run's recovery, and a refusal puts the old file back or,
// where even that is refused, raises EFCreateError and leaves it to the
// recovery.
bool PlaceTemporary(const Save& save, const std::string& temporary, SaveWay& way) {
    const auto rename = [&](const std::string& from, const std::string& to) {
        return Retried(save.patience, [&] { return plat::MoveFile(from, to); });
    };
    // The new text in the file's place while the old stands under the
    // backup name; false once the old file is back under its own.
    const auto install = [&](const std::string& backup) {
        if (rename(temporary, save.path)) {
            DiscardBackup(backup, save.patience);
            return true;
        }
        // The file has no name of its own now: it is not made, and the
        // next run's recovery puts the old one back.
        if (!rename(backup, save.path)) CannotCreate(save);
        return false;
    };

    if (!save.existed) {
        way = SaveWay::NewFile;
        if (rename(temporary, save.path)) return true;
        GiveUpTemporaryOrRaise(save, temporary);
        return false;
    }

    way = SaveWay::ReplaceFile;
    if (const std::string* backup = save.replaceBackup) {
        if (Retried(save.patience, [&] { return plat::ReplaceFile(save.path, temporary, *backup); })) {
            DiscardBackup(*backup, save.patience);
            return true;
        }
        // Refused partway (1177, or 1176 as some systems answer it): the old
        // file may stand under the backup name already.
        std::uint32_t attributes = 0;
        if (NothingThere(save.path) && plat::GetFileAttributes(*backup, attributes) && install(*backup))
            return true;
    }

    way = SaveWay::MoveFileEx;
    if (Retried(save.patience, [&] { return plat::MoveFileReplace(temporary, save.path); })) return true;

    // A backup of an earlier run, or something that cannot be moved, may
    // have a backup name: the old file takes the first that is free.
    way = SaveWay::Backup;
    for (const std::string& backup : save.backups) {
        if (backup.empty() || !rename(save.path, backup)) continue;
        if (install(backup)) return true;
        break;
    }
    GiveUpTemporaryOrRaise(save, temporary);
    return false;
}

// How often the old bytes are put back after a failure in place before the
// save gives up: a fault may strike the putting back too.
constexpr int PutBackTries = 3;

// The file itself is rewritten. A new file is removed again if it cannot
// be written whole. An old file is read first; the bytes beyond its old
// end are written before any old byte is overwritten, so that a full disk
// is met while every old byte is still there; a failure after that puts the
// old bytes back.
void RewriteInPlace(const Save& save) {
    if (!save.existed) {
        UniqueFile file(plat::CreateFile(save.path, plat::GenericRead | plat::GenericWrite, 0, plat::CreateNew));
        if (!file.Valid()) CannotCreate(save);
        if (!WriteAll(file.Get(), save.text, save.length) || !plat::FlushFileBuffers(file.Get())) {
            file.Reset();
            plat::DeleteFile(save.path);
            CannotWrite();
        }
        return;
    }

    UniqueFile file(plat::CreateFile(save.path, plat::GenericRead | plat::GenericWrite, 0, plat::OpenExisting));
    if (!file.Valid()) CannotCreate(save);
    const plat::FileHandle h = file.Get();
    std::uint64_t size = 0;
    if (!plat::BytesToEnd(h, size) || size > 0x7FFFFFFF) CannotWrite();
    const auto oldLength = static_cast<std::uint32_t>(size);
    const auto old = std::make_unique<char[]>(oldLength + 1);
    if (!ReadAll(h, old.get(), oldLength)) CannotWrite();

    const std::uint32_t kept = std::min(oldLength, save.length);
    if (save.length > oldLength &&
        (!plat::SeekFile(h, oldLength) || !WriteAll(h, save.text + kept, save.length - kept))) {
        for (int tries = 0; tries < PutBackTries; ++tries)
            if (plat::SeekFile(h, oldLength) && plat::SetEndOfFile(h)) break;
        CannotWrite();
    }
    const bool rewritten = plat::SeekFile(h, 0) && WriteAll(h, save.text, kept) &&
                           (save.length >= oldLength || (plat::SeekFile(h, save.length) && plat::SetEndOfFile(h))) &&
                           plat::FlushFileBuffers(h);
    if (!rewritten) {
        for (int tries = 0; tries < PutBackTries; ++tries)
            if (plat::SeekFile(h, 0) && WriteAll(h, old.get(), oldLength) && plat::SetEndOfFile(h) &&
                plat::FlushFileBuffers(h))
                break;
        CannotWrite();
    }
}

// The file keeps its hidden and system bits and is marked for backup: a
// replacing file may bring its own (Wine's ReplaceFileA does). Content is
// what the save is for, so a refusal here does not undo it.
void FinishAttributes(const Save& save) {
    if (!save.existed || !save.attributesKnown) return;
    std::uint32_t now = 0;
    if (!plat::GetFileAttributes(save.path, now) || (now & SetAttributes) == save.Wanted()) return;
    plat::SetFileAttributes(save.path, (now & ~(SetAttributes | plat::AttributeNormal)) | save.Wanted());
}

}  // namespace

std::string TemporaryName(const std::string& path, unsigned n) {
    if (n >= TemporaryTries) return {};
    return SpareName(path, static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10));
}

std::string BackupName(const std::string& path, unsigned n) {
    return n < BackupNames ? SpareName(path, 'B', static_cast<char>('K' + n)) : std::string();
}

Recovery RecoverInterruptedSave(const std::string& path, Patience& patience) {
    // Whether a file of that name is there; a folder is not.
    const auto fileThere = [&](const std::string& name, std::uint32_t& attributes) {
        const There there = WhatIsThere(name, attributes, &patience);
        return there == There::Folder ? There::Nothing : there;
    };
    std::uint32_t attributes = 0;
    const There file = fileThere(path, attributes);
    if (file == There::Unknown) RaiseCannotOpen(path);
    struct Found {
        std::string name;
        std::uint32_t attributes;
    };
    std::vector<Found> found;
    std::string unseen;  // the first backup name that cannot be asked
    for (unsigned n = 0; n < BackupNames; ++n) {
        std::string name = BackupName(path, n);
        if (name.empty() || SameName(name, path)) continue;
        const There saved = fileThere(name, attributes);
        if (saved == There::File) found.push_back({std::move(name), attributes});
        else if (saved == There::Unknown && unseen.empty()) unseen = std::move(name);
    }
    const auto marked = [](const Found& backup) { return (backup.attributes & plat::AttributeReadOnly) != 0; };

    Recovery recovery;
    recovery.fileThere = true;
    if (file == There::Nothing) {
        if (found.empty()) {
            if (!unseen.empty()) RaiseCannotOpen(unseen);
            recovery.fileThere = false;
            return recovery;
        }
        // Every backup is an old text of the file: any of them may take its
        // name, and the others' lines are weighed beside it. An unmarked one
        // is the text of a save cut short. Before it takes the name it is
        // cleared of any mark, so that no moment finds the file read-only,
        // and given the hidden and system bits of every backup: the one the
        // cut save made has the file's, one kept from an earlier run may
        // lack them.
        const auto unmarked = std::find_if_not(found.begin(), found.end(), marked);
        const auto back = unmarked != found.end() ? unmarked : found.begin();
        const Found restored = *back;
        found.erase(back);
        std::uint32_t wanted = restored.attributes & ~plat::AttributeNormal;
        for (const Found& backup : found) wanted |= backup.attributes & KeptAttributes;
        if ((marked(restored) || wanted != (restored.attributes & ~plat::AttributeNormal)) &&
            !ClearReadOnly(restored.name, wanted) && marked(restored))
            RaiseCannotOpen(restored.name);
        if (!Retried(patience, [&] { return plat::MoveFile(restored.name, path); })) RaiseCannotOpen(restored.name);
    }
    for (Found& backup : found) {
        if (marked(backup)) DiscardBackup(backup.name, patience);
        else recovery.backups.push_back(std::move(backup.name));
    }
    return recovery;
}

void DiscardBackup(const std::string& backup, Patience& patience) {
    const auto remove = [&] { return plat::DeleteFile(backup); };
    if (remove()) return;
    const std::uint32_t refusal = plat::LastError();
    std::uint32_t attributes = 0;
    if (WhatIsThere(backup, attributes) != There::File) return;
    if (!(attributes & plat::AttributeReadOnly)) {
        // Tried again, after a wait, while another program holds it.
        if (!patience.WaitAfter(refusal) || !Retried(patience, remove))
            plat::SetFileAttributes(backup, attributes | plat::AttributeReadOnly);
        return;
    }
    for (unsigned n = 0; n < TemporaryTries; ++n) {
        const std::string name = TemporaryName(backup, n);
        if (name.empty()) return;
        if (!NothingThere(name)) continue;
        if (!Retried(patience, [&] { return plat::MoveFile(backup, name); })) return;
        ClearReadOnly(name, attributes);
        plat::DeleteFile(name);  // else a later save removes it
        return;
    }
}

SaveWay SaveTextFile(const std::string& path, const char* text, std::size_t length, Patience& patience) {
    if (length > 0x7FFFFFFF) CannotWrite();
    Save save{path, text, static_cast<std::uint32_t>(length), patience, {}};
    for (unsigned n = 0; n < BackupNames; ++n) save.backups[n] = BackupName(path, n);

    // The file must be one we may write: refuse it exactly where rewriting
    // it would be refused (missing folder, read-only, in use, denied).
    // A file held for a moment is asked again; a read-only file is a
    // refusal no wait will change.
    {
        UniqueFile probe;
        for (;;) {
            *probe.Put() = plat::CreateFile(path, plat::GenericRead | plat::GenericWrite, 0, plat::OpenExisting);
            if (probe.Valid()) break;
            const std::uint32_t error = plat::LastError();
            std::uint32_t attributes = 0;
            if (error == plat::ErrorFileNotFound) break;
            if ((error == plat::ErrorAccessDenied && plat::GetFileAttributes(path, attributes) &&
                 (attributes & plat::AttributeReadOnly)) ||
                !patience.WaitAfter(error))
                CannotCreate(save);
        }
        save.existed = probe.Valid();
    }
    // The old file's attributes, for the file that takes its place; where
    // the file cannot be asked, its entry in the folder can.
    if (save.existed)
        save.attributesKnown =
            plat::GetFileAttributes(path, save.attributes) || plat::FindFirst(path, save.attributes);
    for (const std::string& backup : save.backups)
        if (!save.replaceBackup && !backup.empty() && NothingThere(backup)) save.replaceBackup = &backup;

    SaveWay way = SaveWay::InPlace;
    const std::string temporary = WriteTemporary(save);
    if (temporary.empty() || !PlaceTemporary(save, temporary, way)) {
        way = SaveWay::InPlace;
        RewriteInPlace(save);
    }
    FinishAttributes(save);
    return way;
}

}  // namespace pm
