#include "shell/high_score.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
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
        emu::make_dirs((dir_ + kHighScoreDir).c_str());
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
        {"negative: no best", "-7", 0},
        {"plus sign", "+5\n", 5},
        {"sign without digits", "-", 0},
        {"sign then blank", "- 5", 0},
        {"text first", "abc 42", 0},
        {"only the first number", "12 34\n", 12},
        {"leading zeros", "0000000000000000000000000042\n", 42},
        {"largest int", "2147483647\n", INT_MAX},
        {"smallest int: no best", "-2147483648\n", 0},
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
    emu::make_dirs((dir_ + kHighScoreDir + "/elsewhere").c_str());
    std::ofstream(dir_ + kHighScoreDir + "/elsewhere/best") << "77\n";
    EXPECT_EQ(load_high_score(), 77) << "a link is followed";

    emu::set_sandbox((dir_ + "/nowhere").c_str());
    EXPECT_EQ(load_high_score(), 0) << "no folder";
    EXPECT_STREQ(emu::stderr_text(), "");
}

// Over a longer line, a shorter one, and one just as long: the usual case,
// where neither room is made nor anything cut.
TEST_F(HighScore, SaveWritesOneLineOverAnyOldOne) {
    const int values[] = {0, 250, 900, -3, INT_MAX, INT_MIN};
    const char* lines[] = {"0\n", "250\n", "900\n", "-3\n", "2147483647\n", "-2147483648\n"};
    store("123456789012 and more old text\n");
    for (int i = 0; i < 6; ++i) {
        save_high_score(values[i]);
        EXPECT_EQ(stored(), lines[i]);
        EXPECT_EQ(load_high_score(), values[i] < 0 ? 0 : values[i]);
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
    const char* old_text;  // nullptr: no file
    emu::Fault fault;
    // The file afterwards, "" for none. Whatever failed, it holds one whole
    // number: the old one, or the new one once its write went through.
    std::string stored_after;
};

// The save rewrites the file where it stands; a step that fails stops it
// with the number before that step still whole.
TEST_F(HighScore, AFailedStepOfTheSaveLeavesTheOldBestOrTheNewOneWhole) {
    using emu::Action;
    using emu::Call;
    const std::string lengthened("50\n\0", 4);  // "50\n" made room for "900\n"
    const SaveFault cases[] = {
        {"the file cannot be opened",
         "50\n",
         {Call::Open, "brikon.hi", 1, Action::Fail, EACCES},
         "50\n"},
        {"read-only file system",
         "50\n",
         {Call::Open, "brikon.hi", 1, Action::Fail, EROFS},
         "50\n"},
        {"a folder that refuses new files",
         nullptr,
         {Call::Open, "brikon.hi", 1, Action::Fail, EACCES},
         ""},
        {"the file cannot be looked at",
         "50\n",
         {Call::Fstat, "brikon.hi", 1, Action::Fail, EIO},
         "50\n"},
        {"no room to lengthen it",
         "50\n",
         {Call::Ftruncate, "brikon.hi", 1, Action::Fail, ENOSPC},
         "50\n"},
        {"its new length cannot be flushed",
         "50\n",
         {Call::Fsync, "brikon.hi", 1, Action::Fail, EIO},
         lengthened},
        {"the write fails", "50\n", {Call::Write, "brikon.hi", 1, Action::Fail, EIO}, lengthened},
        {"the number cannot be flushed",
         "50\n",
         {Call::Fsync, "brikon.hi", 2, Action::Fail, EIO},
         "900\n"},
        {"no flush on this file system",
         "50\n",
         {Call::Fsync, "brikon.hi", 0, Action::Fail, EINVAL},
         "900\n"},
        // A fault's target matches any path that holds it: the file's open is
        // the first with "data", the folder's the second.
        {"the folder cannot be opened",
         "50\n",
         {Call::Open, "data", 2, Action::Fail, EACCES},
         "900\n"},
        {"the folder cannot be flushed",
         nullptr,
         {Call::Fsync, "data", 1, Action::Fail, EIO},
         "900\n"},
        {"the write fails over a longer line",
         "1234567\n",
         {Call::Write, "brikon.hi", 1, Action::Fail, EIO},
         "1234567\n"},
        // Cut short of its length: the old tail stays behind the newline.
        {"the cut fails",
         "1234567\n",
         {Call::Ftruncate, "brikon.hi", 1, Action::Fail, EIO},
         "900\n567\n"},
    };
    for (const SaveFault& c : cases) {
        SCOPED_TRACE(c.what);
        emu::reset();
        emu::set_sandbox(dir_.c_str());
        std::remove(real(kHighScorePath).c_str());
        if (c.old_text != nullptr)
            store(c.old_text);
        emu::add_fault(c.fault);
        save_high_score(900);
        EXPECT_EQ(exists(kHighScorePath), !c.stored_after.empty());
        EXPECT_EQ(stored(), c.stored_after);
        EXPECT_EQ(load_high_score(), std::atoi(c.stored_after.c_str()));
        EXPECT_STREQ(emu::stderr_text(), "");
    }
}

// A link at the file is followed, as a plain open follows it: the file it
// leads to is rewritten, and the link stays a link.
TEST_F(HighScore, ALinkAtTheFileIsFollowedAndItsTargetRewritten) {
    const std::string data = dir_ + kHighScoreDir;
    emu::make_dirs((data + "/kept").c_str());
    emu::make_dirs((dir_ + "/record/vemlo-x/other").c_str());
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
        EXPECT_EQ(inode_of(c.target), before) << "rewritten where it stands";
        EXPECT_EQ(load_high_score(), 400);

        struct stat info;
        ASSERT_EQ(lstat(real(kHighScorePath).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays";
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
            for (bool unfollowed : {false, true}) {
                EXPECT_EQ(run_in_child(
                              [unfollowed] {
                                  if (unfollowed)
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

}  // namespace
