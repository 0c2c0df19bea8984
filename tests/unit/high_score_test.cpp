#include "shell/high_score.h"

#include <fcntl.h>
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

    // Nothing ever writes into the pipe: an open that waited for a writer
    // would never return.
    ASSERT_EQ(mkfifo(real(kHighScorePath).c_str(), 0644), 0);
    EXPECT_EQ(run_in_child([] { return load_high_score() == 0 ? 0 : 1; }, 10), 0)
        << "a pipe in its place";
    unlink(real(kHighScorePath).c_str());

    store("99\n");
    const emu::Fault faults[] = {
        {emu::Call::Open, "brikon.hi", 1, emu::Action::Fail, EACCES},
        {emu::Call::Fstat, "brikon.hi", 1, emu::Action::Fail, EIO},
        {emu::Call::Read, "brikon.hi", 1, emu::Action::Fail, EIO},
    };
    for (const emu::Fault& fault : faults) {
        SCOPED_TRACE(emu::call_name(fault.call));
        emu::add_fault(fault);
        EXPECT_EQ(load_high_score(), 0) << "unreadable";
        EXPECT_EQ(load_high_score(), 99) << "and readable again";
    }
    std::remove(real(kHighScorePath).c_str());
    ASSERT_EQ(symlink("elsewhere/best", real(kHighScorePath).c_str()), 0);
    EXPECT_EQ(load_high_score(), 0) << "a link that leads nowhere";
    make_dirs(dir_ + kHighScoreDir + "/elsewhere");
    std::ofstream(dir_ + kHighScoreDir + "/elsewhere/best") << "77\n";
    EXPECT_EQ(load_high_score(), 77) << "a link is followed";

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
}

TEST_F(HighScore, ANewFileGetsReadAndWriteForAllLessTheUmask) {
    for (mode_t mask : {022, 027, 077, 0}) {
        SCOPED_TRACE(mask);
        std::remove(real(kHighScorePath).c_str());
        mode_t before = umask(mask);
        save_high_score(1);
        umask(before);
        struct stat info;
        ASSERT_EQ(stat(real(kHighScorePath).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
    }
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

ino_t inode_of(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

struct SaveFault {
    const char* what;
    emu::Fault fault;
    const char* stored_after;
    // Whether the file was replaced by the renamed temporary, rather than
    // rewritten in place or left alone.
    bool replaced;
};

// Whatever fails, the temporary is gone afterwards, and the new best is
// stored whenever a plain rewrite of the file could store it: a save that
// cannot go through the temporary rewrites the file in place.
TEST_F(HighScore, AFailedSaveLeavesNoTemporaryAndRewritesTheFileWhereItCan) {
    using emu::Action;
    using emu::Call;
    const SaveFault cases[] = {
        {"temporary cannot be created (disk full)",
         {Call::Open, "brikon.hi.tmp", 1, Action::Fail, ENOSPC},
         "900\n",
         false},
        {"read-only file system",
         {Call::Open, "brikon.hi", 0, Action::Fail, EROFS},
         "-12345\n",
         false},
        {"write fails", {Call::Write, "brikon.hi.tmp", 1, Action::Fail, EIO}, "900\n", false},
        {"no space for any write",
         {Call::Write, "brikon.hi", 0, Action::Fail, ENOSPC},
         "-12345\n",
         false},
        {"flush to disk fails",
         {Call::Fsync, "brikon.hi.tmp", 1, Action::Fail, EIO},
         "900\n",
         false},
        {"no flush on this file system",
         {Call::Fsync, "brikon.hi.tmp", 1, Action::Fail, EINVAL},
         "900\n",
         true},
        {"close fails", {Call::Close, "brikon.hi.tmp", 1, Action::Fail, EIO}, "900\n", false},
        {"rename fails", {Call::Rename, "brikon.hi.tmp", 1, Action::Fail, EXDEV}, "900\n", false},
        {"the file cannot be looked at",
         {Call::Lstat, "brikon.hi", 1, Action::Fail, EACCES},
         "900\n",
         false},
        {"the cut after the rewrite fails",
         {Call::Ftruncate, "brikon.hi", 1, Action::Fail, EIO},
         "900\n",
         false},
    };
    for (const SaveFault& c : cases) {
        SCOPED_TRACE(c.what);
        emu::reset();
        emu::set_sandbox(dir_.c_str());
        store("-12345\n");
        ino_t before = inode_of(real(kHighScorePath));
        emu::add_fault(c.fault);
        if (c.fault.call == Call::Ftruncate)
            emu::add_fault({Call::Rename, "brikon.hi.tmp", 1, Action::Fail, EXDEV});
        save_high_score(900);
        std::string after = stored();
        if (c.fault.call == Call::Ftruncate) {
            // Cut short of its length: the old tail stays behind the newline.
            EXPECT_EQ(after, "900\n45\n");
        } else {
            EXPECT_EQ(after, c.stored_after);
        }
        EXPECT_EQ(inode_of(real(kHighScorePath)) != before, c.replaced);
        EXPECT_FALSE(exists(kHighScoreTempPath));
        EXPECT_STREQ(emu::stderr_text(), "");
    }
}

TEST_F(HighScore, AFolderThatRefusesNewFilesGetsTheOldFileRewritten) {
    store("500 and a long tail\n");
    emu::add_fault({emu::Call::Open, "brikon.hi.tmp", 1, emu::Action::Fail, EACCES});
    save_high_score(900);
    // Written over the old line, then cut to its length.
    EXPECT_EQ(stored(), "900\n");
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
    // The link was removed like any leftover temporary, and the save went on.
    EXPECT_EQ(stored(), "900\n");
    EXPECT_FALSE(exists(kHighScoreTempPath));
}

// A link at the file is followed, as a plain open follows it: the file it
// leads to is replaced, beside itself, and the link stays a link.
TEST_F(HighScore, ALinkAtTheFileIsFollowedAndItsTargetReplaced) {
    const std::string data = dir_ + kHighScoreDir;
    make_dirs(data + "/kept");
    make_dirs(dir_ + "/record/vemlo-x/other");
    struct LinkCase {
        const char* what;
        std::string link;    // the text of the link at the high-score path
        std::string target;  // where the best ends up (sandbox path)
        const char* tail;    // a second link that the first one leads to, if any
    };
    const std::string sandboxed = dir_ + "/record/vemlo-x/other/best";
    const LinkCase cases[] = {
        {"relative, same folder", "brikon.best", data + "/brikon.best", nullptr},
        {"relative, into a folder", "kept/best", data + "/kept/best", nullptr},
        {"relative, up and across", "../other/best", sandboxed, nullptr},
        {"absolute", sandboxed, sandboxed, nullptr},
        {"a chain: relative from the link's own folder", "kept/step", data + "/kept/best", "best"},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(real(kHighScorePath).c_str());
        std::remove(c.target.c_str());
        std::remove((data + "/kept/step").c_str());
        ASSERT_EQ(symlink(c.link.c_str(), real(kHighScorePath).c_str()), 0);
        if (c.tail != nullptr) {
            ASSERT_EQ(symlink(c.tail, (data + "/kept/step").c_str()), 0);
        }

        save_high_score(300);  // the target does not exist yet: it is made
        EXPECT_EQ(read_file(c.target), "300\n");
        std::ofstream(c.target) << "-12345\n";
        ino_t before = inode_of(c.target);
        save_high_score(400);
        EXPECT_EQ(read_file(c.target), "400\n");
        EXPECT_NE(inode_of(c.target), before) << "replaced, not rewritten";
        EXPECT_EQ(load_high_score(), 400);

        struct stat info;
        ASSERT_EQ(lstat(real(kHighScorePath).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays";
        EXPECT_FALSE(exists(kHighScoreTempPath));
        EXPECT_NE(stat((c.target + kHighScoreTempSuffix).c_str(), &info), 0);
    }

    // A loop of links, or a link into a missing folder, saves nothing and
    // makes nothing.
    std::remove(real(kHighScorePath).c_str());
    ASSERT_EQ(symlink("brikon.hi", real(kHighScorePath).c_str()), 0);
    save_high_score(500);
    std::remove(real(kHighScorePath).c_str());
    ASSERT_EQ(symlink("missing/best", real(kHighScorePath).c_str()), 0);
    save_high_score(500);
    EXPECT_FALSE(exists("/record/vemlo-x/data/missing"));
    EXPECT_STREQ(emu::stderr_text(), "");
}

// Anything but a regular file at the path, or at the end of its link, is
// neither waited on nor written through nor replaced.
TEST_F(HighScore, ASaveLeavesAPipeOrAFolderInThePlaceOfTheFileAlone) {
    for (bool pipe : {true, false}) {
        for (bool linked : {false, true}) {
            SCOPED_TRACE(std::string(pipe ? "a pipe" : "a folder") +
                         (linked ? " behind a link" : ""));
            std::string thing = linked ? real(kHighScorePath) + ".thing" : real(kHighScorePath);
            if (linked) {
                ASSERT_EQ(symlink("brikon.hi.thing", real(kHighScorePath).c_str()), 0);
            }
            ASSERT_EQ(pipe ? mkfifo(thing.c_str(), 0644) : mkdir(thing.c_str(), 0755), 0);
            for (bool refuse_temporary : {false, true}) {
                EXPECT_EQ(run_in_child(
                              [refuse_temporary] {
                                  if (refuse_temporary)
                                      emu::add_fault({emu::Call::Lstat, "brikon.hi", 1,
                                                      emu::Action::Fail, EACCES});
                                  save_high_score(900);
                                  return 0;
                              },
                              10),
                          0)
                    << "no hang";
                struct stat info;
                ASSERT_EQ(lstat(thing.c_str(), &info), 0);
                EXPECT_TRUE(pipe ? S_ISFIFO(info.st_mode) : S_ISDIR(info.st_mode));
                EXPECT_FALSE(exists(kHighScoreTempPath));
            }
            if (pipe) {
                // With a reader waiting on the pipe, the rewrite may open it,
                // and still writes nothing into it.
                int reader = open(thing.c_str(), O_RDONLY | O_NONBLOCK);
                ASSERT_GE(reader, 0);
                emu::add_fault({emu::Call::Lstat, "brikon.hi", 1, emu::Action::Fail, EACCES});
                save_high_score(900);
                char byte;
                EXPECT_EQ(read(reader, &byte, 1), 0) << "nothing came through the pipe";
                close(reader);
            }
            pipe ? unlink(thing.c_str()) : rmdir(thing.c_str());
            if (linked)
                unlink(real(kHighScorePath).c_str());
        }
    }
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
        // The temporary's flush fails first, so the save ends in place.
        bool in_place = false;
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
        {"before removing the failed temporary",
         {Call::Unlink, "brikon.hi.tmp", 1, Action::Kill, 9, false},
         "500\n",
         true},
        {"after removing the failed temporary",
         {Call::Unlink, "brikon.hi.tmp", 1, Action::Kill, 9, true},
         "500\n",
         true},
        {"before the rewrite",
         {Call::Write, "brikon.hi", 2, Action::Kill, 9, false},
         "500\n",
         true},
        // "900\n" over "500\n": the whole file; a longer old line keeps its
        // tail behind the newline until the cut (see below).
        {"after the rewrite", {Call::Write, "brikon.hi", 2, Action::Kill, 9, true}, "900\n", true},
        {"after the cut", {Call::Ftruncate, "brikon.hi", 1, Action::Kill, 9, true}, "900\n", true},
    };
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.what);
        store("500\n");
        std::string sandbox = dir_;
        int status = run_in_child([&] {
            emu::reset();
            emu::set_sandbox(sandbox.c_str());
            if (c.in_place)
                emu::add_fault({Call::Fsync, "brikon.hi.tmp", 1, Action::Fail, EIO});
            emu::add_fault(c.fault);
            save_high_score(900);
            return 0;
        });
        EXPECT_EQ(status, 9) << "the kill came";
        EXPECT_EQ(stored(), c.stored_after);
    }

    // A kill between the rewrite and the cut leaves the old tail behind the
    // newline, where the reader never looks.
    store("-12345\n");
    std::string sandbox = dir_;
    int status = run_in_child([&] {
        emu::reset();
        emu::set_sandbox(sandbox.c_str());
        emu::add_fault({Call::Fsync, "brikon.hi.tmp", 1, Action::Fail, EIO});
        emu::add_fault({Call::Ftruncate, "brikon.hi", 1, Action::Kill, 9, false});
        save_high_score(900);
        return 0;
    });
    EXPECT_EQ(status, 9);
    EXPECT_EQ(stored(), "900\n45\n");
    EXPECT_EQ(load_high_score(), 900);
}

}  // namespace
