#include <gtest/gtest.h>

#include <sys/time.h>
#include <unistd.h>

#include <filesystem>

#include "app/conversion.h"
#include "app/pictureindex.h"
#include "base/failure.h"
#include "support.h"
#include "hostplatform/hostplatform.h"
#include "support/failure_of.h"
#include "support/faults.h"
#include "support/save_ways.h"

namespace pm {
namespace {

constexpr const char* Cfg = "CFG\\PictoCfg.cfg";
constexpr const char* Inf = "BMP\\fmmp0000.inf";

struct Outcome {
    std::string box;         // text of the one box shown, empty if none
    std::uint32_t style = 0;
    std::string failure;     // "Kind: message" of a failure, empty if none
};

class Conversion : public ::testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        faults::Reset();
        host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, dir.Home() + std::string(1, '\0'));
        dir.MakeDir("BMP");
        dir.MakeDir("CFG");
    }
    void TearDown() override { EXPECT_EQ(host::OpenFiles(), 0) << "a file was left open"; }

    Outcome Run() {
        Outcome outcome;
        outcome.failure = test::FailureOf(RunConversion);
        const auto& boxes = host::ShownBoxes();
        EXPECT_LE(boxes.size(), 1u);
        if (!boxes.empty()) {
            outcome.box = boxes[0].text;
            outcome.style = boxes[0].style;
            EXPECT_EQ(boxes[0].caption, boxes[0].style == plat::MbIconInformation ? "Information" : "Error");
        }
        return outcome;
    }

    // Every switch off for another run in the same home.
    void NewRun() {
        host::Reset();
        faults::Reset();
        host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, dir.Home());
    }

    test::ScratchDir dir;
};

TEST_F(Conversion, MergesTheIndexIntoTheConfiguration) {
    const struct {
        const char* what;
        const char* index;
        bool hasConfiguration;
        std::string configuration;
        const char* box;
        const char* written;        // null: file as it was
    } rows[] = {
        {"new file, two pictures for one address", "b.bmp,N,1:2/3\r\na.gif,N,1:2/3\r\n", false, "", TextConverted,
         "1:2/3=@BMP\\a.gif\r\n1:2/3=@BMP\\b.bmp\r\n"},
        {"existing lines kept, sorted", "", true, "B=x\r\na=y\r\n", TextConverted, "a=y\r\nB=x\r\n"},
        {"case variant not added", "A.BMP,N,1:2/3\r\n", true, "1:2/3=@BMP\\a.bmp\r\n", TextConverted,
         "1:2/3=@BMP\\a.bmp\r\n"},
        {"repeats and blank lines survive", "c.bmp,N,2:2/2\r\n", true, "x=1\r\n\r\nx=1\r\n", TextConverted,
         "\r\n2:2/2=@BMP\\c.bmp\r\nx=1\r\nx=1\r\n"},
        {"records all rejected, no file", "a.jpg,N,1:2/3\r\nb.bmp,,1:2/3\r\nc.bmp,N,bad\r\n", false, "",
         TextNothingFound, nullptr},
        {"existing empty file, nothing usable", "junk\r\n", true, "", TextNothingFound, nullptr},
        {"NUL-filled file gives no lines", "junk", true, std::string(4, '\0'), TextNothingFound, nullptr},
        {"rejected records still rewrite a file", "a.jpg,N,1:2/3", true, "z\r\ny", TextConverted, "y\r\nz\r\n"},
        {"addresses kept as written", "p.gif,N,02:5020/$64.0 2:5020/100", false, "", TextConverted,
         "02:5020/$64.0=@BMP\\p.gif\r\n2:5020/100=@BMP\\p.gif\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        NewRun();
        std::filesystem::remove(dir.Native(Cfg));
        dir.Write(Inf, row.index);
        std::string before = row.configuration;
        for (std::size_t at; (at = before.find('@')) != std::string::npos;) before.replace(at, 1, dir.Home());
        if (row.hasConfiguration) dir.Write(Cfg, before);
        const Outcome outcome = Run();
        EXPECT_EQ(outcome.failure, "");
        EXPECT_EQ(outcome.box, row.box);
        EXPECT_EQ(outcome.style, row.box == TextConverted ? plat::MbIconInformation : plat::MbIconError);
        if (row.written) {
            std::string expected = row.written;
            for (std::size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, dir.Home());
            EXPECT_EQ(dir.Read(Cfg), expected);
        } else {
            EXPECT_EQ(dir.Exists(Cfg), row.hasConfiguration);
            if (row.hasConfiguration) {
                EXPECT_EQ(dir.Read(Cfg), before);
            }
        }
        EXPECT_EQ(dir.EntryCount(), dir.Exists(Cfg) ? 4u : 3u) << "stray file";
    }
}

TEST_F(Conversion, IndexMissingTouchesNothing) {
    dir.Write(Cfg, "keep\r\n");
    EXPECT_EQ(Run().box, TextIndexMissing);
    EXPECT_EQ(host::ShownBoxes()[0].style, plat::MbIconError);
    EXPECT_EQ(dir.Read(Cfg), "keep\r\n");

    NewRun();
    dir.MakeDir("BMP\\fmmp0000.inf");  // a folder is not the index
    EXPECT_EQ(Run().box, TextIndexMissing);
}

TEST_F(Conversion, HomeWithoutTrailingBackslashIsUsedAsWritten) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    std::string home = dir.Home();
    home.pop_back();
    host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, home);
    EXPECT_EQ(Run().box, TextIndexMissing);
    // ...unless such a file exists: home + "BMP\fmmp0000.inf".
    std::filesystem::create_directories(std::filesystem::path(home + "BMP"));
    std::ofstream(home + "BMP/fmmp0000.inf") << "a.bmp,N,1:2/3";
    std::filesystem::create_directories(std::filesystem::path(home + "CFG"));
    host::Reset();
    faults::Reset();
    host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, home);
    EXPECT_EQ(Run().box, TextConverted);
    std::ifstream written(home + "CFG/PictoCfg.cfg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "1:2/3=" + home + "BMP\\a.bmp\r\n");
    std::filesystem::remove_all(home + "BMP");
    std::filesystem::remove_all(home + "CFG");
}

TEST_F(Conversion, NoHomeWorksInTheCurrentFolder) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Native(""));
    for (const bool valueExists : {false, true}) {
        host::Reset();
        faults::Reset();
        if (valueExists) host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, std::string(1, '\0'));
        std::filesystem::remove(dir.Native(Cfg));
        EXPECT_EQ(Run().box, TextConverted);
        EXPECT_EQ(dir.Read(Cfg), "1:2/3=BMP\\a.bmp\r\n");
    }
    std::filesystem::current_path(previous);
}

TEST_F(Conversion, FailuresEndTheRunWithoutABox) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    std::filesystem::remove_all(dir.Native("CFG"));
    EXPECT_EQ(Run().failure, "EFCreateError: Cannot create file " + dir.Path(Cfg));
    EXPECT_TRUE(host::ShownBoxes().empty());

    host::Reset();
    faults::Reset();
    host::SetRegistryValue(HomeKey, HomeValue, plat::RegDword, "\x01\0\0\0");
    EXPECT_EQ(Run().failure, "ERegistryException: Invalid data type for 'HomeDir'");
}

TEST_F(Conversion, ConfigurationInUseOrReadOnlyIsLeftAsItWas) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    dir.Write(Cfg, "old=1\r\n");
    {
        // Another program holds the file open for writing.
        const plat::FileHandle other = plat::CreateFile(dir.Path(Cfg), plat::GenericWrite,
                                                        plat::FileShareRead | plat::FileShareWrite, plat::OpenExisting);
        ASSERT_NE(other, plat::InvalidFile);
        EXPECT_EQ(Run().failure, "EFOpenError: Cannot open file " + dir.Path(Cfg));
        plat::CloseFile(other);
    }
    NewRun();
    dir.SetReadOnly(Cfg, true);
    EXPECT_EQ(Run().failure, "EFCreateError: Cannot create file " + dir.Path(Cfg));
    EXPECT_EQ(dir.Read(Cfg), "old=1\r\n");
    EXPECT_EQ(dir.EntryCount(), 4u);
}

// A backup beside the file (a save that failed or was cut short left the
// old lines under it, and the file was made again since, by hand or by
// the mail program): the lines it holds beyond the file's are kept, as the
// list compares lines (letter case aside, each repeat counted), and it
// goes only once the saved file holds them. A backup whose lines the file
// holds is a leftover; one marked read-only is a finished save's leftover,
// whose lines are never taken back; one that cannot be read is left for a
// later run.
TEST_F(Conversion, BackupBesideTheFileLosesNoLine) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    const std::string added = "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\n";
    const struct {
        const char* what;
        const char* backupName;
        const char* backup;
        const char* file;
        bool readOnly;
        std::string written;
        bool held = false;  // the backup held beyond the run's patience
    } rows[] = {
        {"empty file beside the backup", "PictoCfg.~BK", "b=2\r\na=1\r\n", "", false, added + "a=1\r\nb=2\r\n"},
        {"a line by hand beside the backup", "PictoCfg.~BK", "b=2\r\na=1\r\n", "c=3\r\n", false,
         added + "a=1\r\nb=2\r\nc=3\r\n"},
        {"the second backup name", "PictoCfg.~BL", "x=9\r\n", "c=3\r\n", false, added + "c=3\r\nx=9\r\n"},
        {"a leftover: its lines are in the file", "PictoCfg.~BK", "a=1\r\n", "a=1\r\nc=3\r\n", false,
         added + "a=1\r\nc=3\r\n"},
        {"a case variant is in the file", "PictoCfg.~BK", "a=1\r\n", "A=1\r\n", false, added + "A=1\r\n"},
        {"a repeat is kept", "PictoCfg.~BK", "x=1\r\nx=1\r\n", "X=1\r\n", false,
         added + "X=1\r\nx=1\r\n"},
        {"a marked leftover: a line deleted by hand stays deleted", "PictoCfg.~BK", "c=3\r\nd=4\r\n", "c=3\r\n",
         true, added + "c=3\r\n"},
        {"a held backup is left for a later run", "PictoCfg.~BK", "d=4\r\n", "c=3\r\n", false,
         added + "c=3\r\n", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        NewRun();
        const std::string backup = std::string("CFG\\") + row.backupName;
        dir.Write(backup, row.backup);
        dir.SetReadOnly(backup, row.readOnly);
        dir.Write(Cfg, row.file);
        if (row.held) faults::HoldFile(row.backupName, plat::ErrorSharingViolation, 1000);
        const Outcome outcome = Run();
        EXPECT_EQ(outcome.failure, "");
        EXPECT_EQ(dir.Read(Cfg), row.written);
        EXPECT_EQ(dir.Exists(backup), row.held);
        EXPECT_EQ(dir.EntryCount(), row.held ? 5u : 4u) << "stray file";
        if (!row.held) continue;
        EXPECT_EQ(dir.Read(backup), row.backup);
        // No longer held, its lines join the file.
        NewRun();
        EXPECT_EQ(Run().box, TextConverted);
        EXPECT_EQ(dir.Read(Cfg), added + "c=3\r\nd=4\r\n");
        EXPECT_FALSE(dir.Exists(backup));
    }
    // Its own old text beside the file, as a cut between placing the file
    // and removing the backup leaves it: the same bytes as without it.
    const std::string old =
        "x=y\r\nX=Y\r\n[section]\r\nco-op\r\nX=Y\r\n\r\nx=y\r\ncoop\r\nX=Y\r\n1:2/3=a\r\n[section]\r\n"
        "co-op\r\nx=y\r\n\r\nX=Y\r\ncoop\r\n[SECTION]\r\n";
    NewRun();
    dir.Write(Cfg, old);
    Run();
    const std::string once = dir.Read(Cfg);
    NewRun();
    Run();
    const std::string plain = dir.Read(Cfg);
    NewRun();
    dir.Write(Cfg, once);
    dir.Write("CFG\\PictoCfg.~BK", old);
    EXPECT_EQ(Run().box, TextConverted);
    EXPECT_EQ(dir.Read(Cfg), plain);
    EXPECT_EQ(dir.EntryCount(), 4u) << "stray file";
    // Where the save fails, the backup stays for the next run.
    NewRun();
    dir.Write("CFG\\PictoCfg.~BK", "a=1\r\n");
    dir.Write(Cfg, "");
    dir.SetReadOnly(Cfg, true);
    EXPECT_EQ(Run().failure, "EFCreateError: Cannot create file " + dir.Path(Cfg));
    EXPECT_EQ(dir.Read("CFG\\PictoCfg.~BK"), "a=1\r\n");
    dir.SetReadOnly(Cfg, false);
}

// The old file under the backup name cannot be removed after the save (a
// scanner holds it): it is marked as a finished save's leftover, so that a
// line the user then deletes by hand, or whose case the user changes, does
// not come back with the next run, on every way that makes a backup.
TEST_F(Conversion, AFinishedSavesLeftoverGivesNoLineBack) {
    for (const test::SaveWayCase& way : test::SaveWays) {
        SCOPED_TRACE(way.name);
        NewRun();
        std::filesystem::remove_all(dir.Native("CFG"));
        dir.MakeDir("CFG");
        dir.Write(Inf, "a.bmp,N,1:2/3");
        dir.Write(Cfg, "b=2\r\nc=3\r\n");
        way.setup(dir);
        faults::RefuseCalls("DeleteFile", plat::ErrorSharingViolation, 1000);
        EXPECT_EQ(Run().box, TextConverted);
        const std::size_t entries = dir.EntryCount();
        dir.Write(Cfg, "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\nC=3\r\n");  // b=2 deleted, c=3 now C=3
        NewRun();
        way.setup(dir);
        EXPECT_EQ(Run().box, TextConverted);
        EXPECT_EQ(dir.Read(Cfg), "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\nC=3\r\n");
        EXPECT_LE(dir.EntryCount(), entries);
        EXPECT_EQ(dir.EntryCount(), 4u + way.spareFiles) << "left beside";
    }
}

// A scanner holding the configuration or the index as the run reads it:
// refused up to six times (the waits of the run's second), as held or as
// access denied, the file is read; a seventh time, the run fails naming
// the held file and writes nothing. Both reads draw on the one second.
TEST_F(Conversion, AFileHeldAMomentIsReadAfterAWait) {
    const std::string expected = "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\nold=1\r\n";
    const struct {
        std::uint64_t configuration, index;  // refusals of each
        const char* held;                    // the file the run fails on (null: none)
    } cases[] = {
        {1, 0, nullptr}, {6, 0, nullptr}, {7, 0, Cfg},       {0, 1, nullptr}, {0, 6, nullptr},
        {0, 7, Inf},     {3, 3, nullptr}, {3, 4, Inf},       {6, 1, Inf},
    };
    for (const auto& c : cases) {
        for (const std::uint32_t error : {plat::ErrorSharingViolation, plat::ErrorAccessDenied}) {
            SCOPED_TRACE("configuration refused " + std::to_string(c.configuration) + " times, index " +
                         std::to_string(c.index) + ", with " + std::to_string(error));
            NewRun();
            dir.Write(Inf, "a.bmp,N,1:2/3");
            dir.Write(Cfg, "old=1\r\n");
            // The configuration is the run's first file opened.
            faults::HoldFile("fmmp0000.inf", error, c.index);
            faults::RefuseCalls("CreateFile", error, c.configuration);
            const Outcome outcome = Run();
            EXPECT_EQ(outcome.failure, c.held ? "EFOpenError: Cannot open file " + dir.Path(c.held) : "");
            EXPECT_EQ(outcome.box, c.held ? "" : TextConverted);
            EXPECT_EQ(dir.Read(Cfg), c.held ? "old=1\r\n" : expected);
            EXPECT_EQ(host::SleptMilliseconds(), c.configuration + c.index >= 6 ? 1000u : 20u * ((1u << (c.configuration + c.index)) - 1));
            EXPECT_EQ(dir.EntryCount(), 4u) << "stray file";
        }
    }
}

TEST_F(Conversion, ConfigurationDatedOutsideDosTimesIsStillLoaded) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    for (const long long seconds : {0LL, 4417977600LL /* 2110 */}) {
        NewRun();
        dir.Write(Cfg, "kept=1\r\n");
        const timeval times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
        ASSERT_EQ(::utimes(dir.Native(Cfg).c_str(), times), 0);
        EXPECT_EQ(Run().box, TextConverted);
        EXPECT_EQ(dir.Read(Cfg), "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\nkept=1\r\n");
    }
}

// A CFG folder that may not be listed: the configuration is asked for
// itself, read where it is, and made where it is not.
TEST_F(Conversion, ConfigurationInAFolderThatCannotBeListed) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present);
        NewRun();
        std::filesystem::permissions(dir.Native("CFG"), std::filesystem::perms(0755));
        std::filesystem::remove(dir.Native(Cfg));
        if (present) dir.Write(Cfg, "kept=1\r\n");
        std::filesystem::permissions(dir.Native("CFG"), std::filesystem::perms(0311));
        const Outcome outcome = Run();
        EXPECT_EQ(outcome.failure, "");
        EXPECT_EQ(outcome.box, TextConverted);
        EXPECT_EQ(dir.Read(Cfg), "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\n" + (present ? "kept=1\r\n" : ""));
    }
}

// Where neither the folder's listing nor the file's attributes tell whether
// the configuration is there, it is not taken as missing (which would
// rewrite it from the index alone): the run ends with EFOpenError and
// nothing is written.
TEST_F(Conversion, ConfigurationWhoseExistenceCannotBeTold) {
    dir.Write(Inf, "a.bmp,N,1:2/3");
    dir.Write(Cfg, "kept=1\r\nkept=2\r\n");
    std::filesystem::permissions(dir.Native("CFG"), std::filesystem::perms(0311));
    faults::FailEveryCall("GetFileAttributes");
    const Outcome outcome = Run();
    std::filesystem::permissions(dir.Native("CFG"), std::filesystem::perms(0755));
    EXPECT_EQ(outcome.failure, "EFOpenError: Cannot open file " + dir.Path(Cfg));
    EXPECT_EQ(outcome.box, "");
    EXPECT_EQ(dir.Read(Cfg), "kept=1\r\nkept=2\r\n");
}

TEST(PictureFilter, TrailByteOfADoubleByteCharacterIsNotABackslash) {
    host::Reset();
    faults::Reset();
    EXPECT_TRUE(PassesPictureFilter("C:\\a\x95.gif"));
    EXPECT_FALSE(PassesPictureFilter("C:\\a.gif\x95\\"));
    // With 0x95 a lead byte, the byte after it is the second half of one
    // character, never a full stop or a backslash.
    host::SetDbcsLeadBytes({0x95});
    EXPECT_FALSE(PassesPictureFilter("C:\\a\x95.gif"));
    EXPECT_TRUE(PassesPictureFilter("C:\\a\x95\\.gif"));
    EXPECT_TRUE(PassesPictureFilter("C:\\a.b\x95\\x\\y.BmP"));
    EXPECT_FALSE(PassesPictureFilter("C:\\a.gif\x95"));
    host::Reset();
    faults::Reset();
}

}  // namespace
}  // namespace pm
