#include "runtime/filesave.h"

#include <algorithm>
#include <cstdint>

#include "runtime/failure.h"
#include "winsys/handles.h"
#include "winsys/platform.h"

namespace pm {
namespace {

constexpr unsigned TemporaryTries = 100;
constexpr std::uint32_t KeptAttributes = plat::AttributeHidden | plat::AttributeSystem | plat::AttributeArchive;

struct Save {
    const std::string& path;
    const char* text;
    std::uint32_t length;
    bool existed = false;
    bool attributesKnown = false;
    std::uint32_t attributes = 0;  // the old file's
};

enum class Outcome { Placed, NotThisRoad };

[[noreturn]] void CannotCreate(const Save& save) {
    Raise<EFCreateError>(FormatText("Cannot create file %s", save.path));
}
[[noreturn]] void CannotWrite() { Raise<EWriteError>("Stream write error"); }

bool WriteAll(plat::FileHandle file, const char* bytes, std::uint32_t count) {
    std::uint32_t done = 0;
    return count == 0 || (plat::WriteFile(file, bytes, count, done) && done == count);
}

bool Exists(std::uint32_t error) { return error == plat::ErrorFileExists || error == plat::ErrorAlreadyExists; }

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

// A new temporary file of one of our names, open for writing with no
// sharing. A name already taken is a leftover of a save that was cut short
// (removed, and the name used) or belongs to a save running now (passed
// over: its file is open and cannot be removed). Invalid when the folder
// takes no new file.
UniqueFile MakeTemporary(const std::string& path, std::string& name) {
    const auto create = [&] {
        return plat::CreateFile(name, plat::GenericWrite, 0, plat::CreateNew);
    };
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

// The text goes to a temporary file beside the file, which then takes the
// file's place in one step: until then the old file is whole.
Outcome ReplaceRoad(Save& save) {
    std::string temporary;
    UniqueFile file = MakeTemporary(save.path, temporary);
    if (!file.Valid()) return Outcome::NotThisRoad;

    // Until it has taken the file's place, the temporary file is removed on
    // every way out.
    struct RemoveOnFailure {
        const std::string& name;
        UniqueFile& file;
        bool keep = false;
        ~RemoveOnFailure() {
            if (keep) return;
            file.Reset();
            plat::DeleteFile(name);
        }
    } guard{temporary, file};

    if (!WriteAll(file.Get(), save.text, save.length) || !plat::FlushFileBuffers(file.Get())) CannotWrite();
    file.Reset();

    // Before Windows 2000 there is no ReplaceFileA: the temporary file is
    // moved over the file, and its attributes are set again below. Where
    // moving over a file is not implemented either (95, 98, Me), the file is
    // rewritten in place.
    bool placed = save.existed && plat::ReplaceFile(save.path, temporary);
    if (!placed && (!save.existed || plat::LastError() == plat::ErrorFileNotFound ||
                    plat::LastError() == plat::ErrorCallNotImplemented))
        placed = plat::MoveFileReplace(temporary, save.path);
    if (!placed) return Outcome::NotThisRoad;
    guard.keep = true;
    return Outcome::Placed;
}

// The file itself is rewritten. The bytes beyond its old end are written
// first, so that a full disk is met while every old byte is still there;
// then the old bytes are overwritten, and the file is cut to the new length.
Outcome InPlaceRoad(Save& save) {
    UniqueFile file(plat::CreateFile(save.path, plat::GenericRead | plat::GenericWrite, 0, plat::OpenAlways));
    if (!file.Valid()) CannotCreate(save);
    const bool created = plat::LastError() != plat::ErrorAlreadyExists;

    // On a failure before the old bytes are touched, the file is put back
    // as it was: a file made here is removed, a longer one cut back.
    struct Undo {
        const Save& save;
        UniqueFile& file;
        bool created;
        std::uint64_t oldLength = 0;
        bool armed = true;
        ~Undo() {
            if (!armed) return;
            if (created) {
                file.Reset();
                plat::DeleteFile(save.path);
            } else if (file.Valid() && plat::SeekFile(file.Get(), oldLength)) {
                plat::SetEndOfFile(file.Get());
            }
        }
    } undo{save, file, created};

    std::uint64_t oldLength = 0;
    if (!plat::FileSize(file.Get(), oldLength)) CannotWrite();
    undo.oldLength = oldLength;
    const auto kept = static_cast<std::uint32_t>(std::min<std::uint64_t>(oldLength, save.length));
    if (save.length > oldLength &&
        (!plat::SeekFile(file.Get(), oldLength) || !WriteAll(file.Get(), save.text + kept, save.length - kept)))
        CannotWrite();
    undo.armed = created;  // from here on a file found here has lost old bytes
    if (!plat::SeekFile(file.Get(), 0) || !WriteAll(file.Get(), save.text, kept) ||
        !plat::FlushFileBuffers(file.Get()))
        CannotWrite();
    if (save.length < oldLength && (!plat::SeekFile(file.Get(), save.length) || !plat::SetEndOfFile(file.Get())))
        CannotWrite();
    undo.armed = false;
    return Outcome::Placed;
}

// The file keeps the attributes it had (hidden, system, archive): a
// replacing file brings its own. Content is what the save is for, so a
// refusal here does not undo it.
void KeepAttributes(const Save& save) {
    if (!save.existed || !save.attributesKnown) return;
    std::uint32_t now = 0;
    if (!plat::GetFileAttributes(save.path, now)) return;
    const std::uint32_t wanted = save.attributes & KeptAttributes;
    if ((now & KeptAttributes) == wanted) return;
    const std::uint32_t attributes = (now & ~(KeptAttributes | plat::AttributeNormal)) | wanted;
    plat::SetFileAttributes(save.path, attributes ? attributes : plat::AttributeNormal);
}

struct Road {
    SaveRoad road;
    Outcome (*take)(Save&);
};
// In order: the first road that places the text ends the save. The last
// one places it or raises.
constexpr Road Roads[] = {
    {SaveRoad::Replace, ReplaceRoad},
    {SaveRoad::InPlace, InPlaceRoad},
};

}  // namespace

std::string TemporaryName(const std::string& path, unsigned n) {
    const std::size_t name = path.find_last_of("\\/:") + 1;  // npos + 1 is 0
    if (path.size() - name < 3 || n >= TemporaryTries) return {};
    std::string temporary = path.substr(0, path.size() - 3);
    temporary += '~';
    temporary += static_cast<char>('0' + n / 10);
    temporary += static_cast<char>('0' + n % 10);
    return temporary;
}

SaveRoad SaveTextFile(const std::string& path, const char* text, std::size_t length) {
    if (length > 0x7FFFFFFF) CannotWrite();
    Save save{path, text, static_cast<std::uint32_t>(length)};

    // The file must be one we may write: refuse it exactly where rewriting
    // it would be refused (missing folder, read-only, in use, denied).
    {
        UniqueFile probe(plat::CreateFile(path, plat::GenericRead | plat::GenericWrite, 0, plat::OpenExisting));
        if (probe.Valid()) save.existed = true;
        else if (plat::LastError() != plat::ErrorFileNotFound) CannotCreate(save);
    }
    if (save.existed) save.attributesKnown = plat::GetFileAttributes(path, save.attributes);

    for (const Road& road : Roads) {
        if (road.take(save) == Outcome::Placed) {
            KeepAttributes(save);
            return road.road;
        }
    }
    CannotCreate(save);
}

}  // namespace pm
