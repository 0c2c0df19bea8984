#include "game/high_score.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>

#include "emulator/emulator.h"
#include "support/run_game.h"

namespace {

class HighScore : public testing::Test {
  protected:
    void SetUp() override {
        emu::reset();
        dir_ = make_temp_dir();
        emu::set_sandbox(dir_.c_str());
        make_dirs(dir_ + kHighScoreDir);
    }
    void TearDown() override { emu::reset(); }

    std::string real(const char* game_path) const { return dir_ + game_path; }
    std::string stored() const { return read_file(real(kHighScorePath)); }
    bool exists(const char* game_path) const {
        struct stat info;
        return lstat(real(game_path).c_str(), &info) == 0;
    }
    void store(const std::string& bytes) const {
        std::ofstream(real(kHighScorePath), std::ios::binary | std::ios::trunc) << bytes;
    }

    std::string dir_;
};

struct LoadCase {
    const char* what;
    std::string bytes;
    int best;
};

TEST_F(HighScore, LoadReadsOneNumberLikePercentD) {
    const std::string ten_mb(10 * 1024 * 1024, '7');
    const LoadCase cases[] = {
        {"the usual line", "250\n", 250},
        {"no newline", "42", 42},
        {"empty", "", 0},
        {"leading blanks, trailing text", "  42abc", 42},
        {"all kinds of leading white space", "\t\n\v\f\r 12\n", 12},
        {"negative kept", "-7", -7},
        {"plus sign", "+5\n", 5},
        {"sign without digits", "-", 0},
        {"sign then blank", "- 5", 0},
        {"text first", "abc 42", 0},
        {"only the first number", "12 34\n", 12},
        {"leading zeros", "0000000000000000000000000042\n", 42},
        {"largest int", "2147483647\n", INT_MAX},
        {"smallest int", "-2147483648\n", INT_MIN},
        {"one past the largest: no number", "2147483648\n", 0},
        {"one past the smallest: no number", "-2147483649\n", 0},
        {"far too large", "99999999999999999999999999999\n", 0},
        {"binary junk", std::string("\x00\xff\x12\x80\x01", 5), 0},
        {"a NUL before the digits",
         std::string("\x00"
                     "42",
                     3),
         0},
        {"10 MB of digits", ten_mb, 0},
        {"a number then 10 MB", "31337\n" + ten_mb, 31337},
        {"10 MB of blanks then a number", std::string(10 * 1024 * 1024, ' ') + "9", 9},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.what);
        store(c.bytes);
        EXPECT_EQ(load_high_score(), c.best);
    }
    EXPECT_STREQ(emu::stderr_text(), "") << "nothing is ever reported";
}

TEST_F(HighScore, LoadWithoutAUsableFileGivesZero) {
    EXPECT_EQ(load_high_score(), 0) << "no file";

    mkdir(real(kHighScorePath).c_str(), 0755);
    EXPECT_EQ(load_high_score(), 0) << "a folder in its place";
    rmdir(real(kHighScorePath).c_str());

    store("99\n");
    emu::add_fault({emu::Call::Fopen, "brikon.hi", 1, emu::Action::Fail, EACCES});
    EXPECT_EQ(load_high_score(), 0) << "unreadable";
    EXPECT_EQ(load_high_score(), 99) << "and readable again";

    emu::set_sandbox((dir_ + "/nowhere").c_str());
    EXPECT_EQ(load_high_score(), 0) << "no folder";
    EXPECT_STREQ(emu::stderr_text(), "");
}

TEST_F(HighScore, SaveWritesOneLineAndLeavesNoTemporary) {
    const int values[] = {0, 250, -3, INT_MAX, INT_MIN};
    const char* lines[] = {"0\n", "250\n", "-3\n", "2147483647\n", "-2147483648\n"};
    store("123456789012 and more old text\n");
    for (int i = 0; i < 5; ++i) {
        save_high_score(values[i]);
        EXPECT_EQ(stored(), lines[i]);
        EXPECT_EQ(load_high_score(), values[i]);
        EXPECT_FALSE(exists(kHighScoreTempPath));
    }
    struct stat info;
    ASSERT_EQ(stat(real(kHighScorePath).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(HighScore, SaveCreatesTheFileButNeverTheFolder) {
    save_high_score(42);
    EXPECT_EQ(stored(), "42\n");

    std::string elsewhere = make_temp_dir();
    emu::set_sandbox(elsewhere.c_str());
    save_high_score(42);
    struct stat info;
    EXPECT_NE(stat((elsewhere + "/record").c_str(), &info), 0);
    EXPECT_STREQ(emu::stderr_text(), "");
}

struct SaveFault {
    const char* what;
    emu::Fault fault;
};

TEST_F(HighScore, AFailedSaveLeavesTheOldFileAsItWas) {
    using emu::Action;
    using emu::Call;
    const SaveFault cases[] = {
        {"temporary cannot be created (disk full)",
         {Call::Open, "brikon.hi.tmp", 1, Action::Fail, ENOSPC}},
        {"read-only file system", {Call::Open, "brikon.hi.tmp", 1, Action::Fail, EROFS}},
        {"write fails", {Call::Write, "brikon.hi.tmp", 1, Action::Fail, EIO}},
        {"write finds no space", {Call::Write, "brikon.hi.tmp", 1, Action::Fail, ENOSPC}},
        {"flush to disk fails", {Call::Fsync, "brikon.hi.tmp", 1, Action::Fail, EIO}},
        {"close fails", {Call::Close, "brikon.hi.tmp", 1, Action::Fail, EIO}},
        {"rename fails", {Call::Rename, "brikon.hi.tmp", 1, Action::Fail, EXDEV}},
    };
    for (const SaveFault& c : cases) {
        SCOPED_TRACE(c.what);
        emu::reset();
        emu::set_sandbox(dir_.c_str());
        store("500\n");
        emu::add_fault(c.fault);
        save_high_score(900);
        EXPECT_EQ(stored(), "500\n");
        EXPECT_EQ(load_high_score(), 500);
        EXPECT_STREQ(emu::stderr_text(), "");
    }
}

TEST_F(HighScore, AFolderThatRefusesNewFilesGetsTheOldFileRewritten) {
    store("500 and a long tail\n");
    emu::add_fault({emu::Call::Open, "brikon.hi.tmp", 1, emu::Action::Fail, EACCES});
    save_high_score(900);
    // Written over the old line, never truncated: the old tail stays behind
    // the newline, where the reader stops.
    EXPECT_EQ(stored(), "900\nand a long tail\n");
    EXPECT_EQ(load_high_score(), 900);

    // Without an old file there is nothing to rewrite.
    std::remove(real(kHighScorePath).c_str());
    emu::add_fault({emu::Call::Open, "brikon.hi.tmp", 1, emu::Action::Fail, EPERM});
    save_high_score(900);
    EXPECT_FALSE(exists(kHighScorePath));
}

TEST_F(HighScore, ALinkInPlaceOfTheTemporaryIsNotFollowed) {
    store("500\n");
    std::string victim = dir_ + "/victim";
    std::ofstream(victim) << "keep me\n";
    ASSERT_EQ(symlink(victim.c_str(), real(kHighScoreTempPath).c_str()), 0);
    save_high_score(900);
    EXPECT_EQ(read_file(victim), "keep me\n");
    EXPECT_EQ(stored(), "500\n");
}

// A kill at any point of the save leaves either the old best or the new one,
// never an empty or half-written file.
TEST_F(HighScore, KillDuringTheSaveNeverLosesTheStoredBest) {
    using emu::Action;
    using emu::Call;
    struct KillCase {
        const char* what;
        emu::Fault fault;
        const char* stored_after;
    };
    const KillCase cases[] = {
        {"after creating the temporary",
         {Call::Open, "brikon.hi.tmp", 1, Action::Kill, 9, true},
         "500\n"},
        {"before the write", {Call::Write, "brikon.hi.tmp", 1, Action::Kill, 9, false}, "500\n"},
        {"after the write", {Call::Write, "brikon.hi.tmp", 1, Action::Kill, 9, true}, "500\n"},
        {"after the flush", {Call::Fsync, "brikon.hi.tmp", 1, Action::Kill, 9, true}, "500\n"},
        {"before the rename", {Call::Rename, "brikon.hi.tmp", 1, Action::Kill, 9, false}, "500\n"},
        {"after the rename", {Call::Rename, "brikon.hi.tmp", 1, Action::Kill, 9, true}, "900\n"},
    };
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.what);
        store("500\n");
        std::string sandbox = dir_;
        int status = run_in_child([&] {
            emu::reset();
            emu::set_sandbox(sandbox.c_str());
            emu::add_fault(c.fault);
            save_high_score(900);
            return 0;
        });
        EXPECT_EQ(status, 9) << "the kill came";
        EXPECT_EQ(stored(), c.stored_after);
    }
}

}  // namespace
