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
    // Made before any file is: once the temporary file exists, nothing
    // allocates until it has its place or is gone.
    std::string backup;
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
// sharing. A name already taken is a leftover of a save that was cut short
// (removed, and the name used) or belongs to a save running now (passed
// over: its file is open and cannot be removed). Invalid when the folder
// takes no new file.
UniqueFile MakeTemporary(const std::string& path, std::string& name) {
    const auto create = [&] { return plat::CreateFile(name, plat::GenericWrite, 0, plat::CreateNew); };
    for (unsigned n = 0;; ++n) {
        name = TemporaryName(path, n);
        if (name.empty()) return {};
        if (SameName(name, path)) continue;
        UniqueFile file(create());
        if (file.Valid()) return file;
        const std::uint32_t error = plat::LastError();
        if (error == plat::ErrorSharingViolation) continue;
        if (!Exists(error)) return {};
        if (plat::DeleteFile(name)) {
            *file.Put() = create();
            if (file.Valid()) return file;
        }
    }
}

// The whole text in a temporary file beside the file, flushed and closed,
// with the old file's hidden and system bits, so that no moment finds the
// file without them. Empty when no such file could be made or written (a
// full disk): the rewrite in place may still fit.
std::string WriteTemporary(const Save& save) {
    std::string name;
    UniqueFile file = MakeTemporary(save.path, name);
    if (!file.Valid()) return {};
    const bool written = WriteAll(file.Get(), save.text, save.length) && plat::FlushFileBuffers(file.Get());
    file.Reset();
    if (!written) {
        plat::DeleteFile(name);  // a leftover is reused by a later save
        return {};
    }
    if (save.existed && save.attributesKnown && (save.attributes & KeptAttributes))
        plat::SetFileAttributes(name, save.Wanted());
    return name;
}

// Puts the complete temporary file in the file's place. Every refusal
// leaves the old file under its name and goes on to the next way; when all
// refuse, the temporary file is removed and nothing is placed.
bool PlaceTemporary(const Save& save, const std::string& temporary, SaveWay& way) {
    if (!save.existed) {
        way = SaveWay::NewFile;
        if (plat::MoveFile(temporary, save.path)) return true;
        plat::DeleteFile(temporary);
        return false;
    }

    way = SaveWay::ReplaceFile;
    if (plat::ReplaceFile(save.path, temporary)) return true;
    if (plat::LastError() == plat::ErrorUnableToMoveReplacement) {
        // The old file is gone and the new text is still under the
        // temporary name: it takes the file's name, or failing that the
        // backup name, from which the next run restores it.
        if (plat::MoveFile(temporary, save.path)) return true;
        plat::MoveFile(temporary, save.backup);
        CannotWrite();
    }

    way = SaveWay::MoveFileEx;
    if (plat::MoveFileReplace(temporary, save.path)) return true;

    way = SaveWay::Backup;
    if (plat::MoveFile(save.path, save.backup)) {
        if (plat::MoveFile(temporary, save.path)) {
            plat::DeleteFile(save.backup);  // a later run removes it if this fails
            return true;
        }
        // The old file goes back; where even that is refused, the next run
        // renames it back.
        const bool back = plat::MoveFile(save.backup, save.path);
        plat::DeleteFile(temporary);
        if (!back) CannotWrite();
    }
    plat::DeleteFile(temporary);
    return false;
}

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
    if (!plat::FileSize(h, size) || size > 0x7FFFFFFF) CannotWrite();
    const auto oldLength = static_cast<std::uint32_t>(size);
    const auto old = std::make_unique<char[]>(oldLength + 1);
    if (!ReadAll(h, old.get(), oldLength)) CannotWrite();

    const std::uint32_t kept = std::min(oldLength, save.length);
    if (save.length > oldLength &&
        (!plat::SeekFile(h, oldLength) || !WriteAll(h, save.text + kept, save.length - kept))) {
        if (plat::SeekFile(h, oldLength)) plat::SetEndOfFile(h);
        CannotWrite();
    }
    const bool rewritten = plat::SeekFile(h, 0) && WriteAll(h, save.text, kept) &&
                           (save.length >= oldLength || (plat::SeekFile(h, save.length) && plat::SetEndOfFile(h))) &&
                           plat::FlushFileBuffers(h);
    if (!rewritten) {
        if (plat::SeekFile(h, 0) && WriteAll(h, old.get(), oldLength) && plat::SetEndOfFile(h))
            plat::FlushFileBuffers(h);
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

std::string BackupName(const std::string& path) { return SpareName(path, 'B', 'K'); }

void RecoverInterruptedSave(const std::string& path) {
    const std::string backup = BackupName(path);
    std::uint32_t attributes = 0;
    if (backup.empty() || SameName(backup, path) || !plat::GetFileAttributes(backup, attributes)) return;
    if (attributes & plat::AttributeDirectory) return;
    if (plat::GetFileAttributes(path, attributes)) plat::DeleteFile(backup);
    else if (plat::NoSuchFile(plat::LastError())) plat::MoveFile(backup, path);
}

SaveWay SaveTextFile(const std::string& path, const char* text, std::size_t length) {
    if (length > 0x7FFFFFFF) CannotWrite();
    Save save{path, text, static_cast<std::uint32_t>(length), BackupName(path)};

    // The file must be one we may write: refuse it exactly where rewriting
    // it would be refused (missing folder, read-only, in use, denied).
    {
        UniqueFile probe(plat::CreateFile(path, plat::GenericRead | plat::GenericWrite, 0, plat::OpenExisting));
        if (probe.Valid()) save.existed = true;
        else if (plat::LastError() != plat::ErrorFileNotFound) CannotCreate(save);
    }
    // The old file's attributes, for the file that takes its place; where
    // the file cannot be asked, its entry in the folder can.
    if (save.existed)
        save.attributesKnown =
            plat::GetFileAttributes(path, save.attributes) || plat::FindFirst(path, save.attributes);

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
