// The UNC file system mounted for real on a temporary folder, with fake
// hooks, and used from Linux the way Wine uses it: walks in any case, one
// Send per write, nothing but NAME/mailslot/messngr, and answers kept no
// longer than they may be; the mount's keeper removes it at the end.
// Needs root and /dev/fuse; skipped without them.
#include "gateway/UncFs.h"
#include "gateway/UncMount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Sent {
    std::string Name, Bytes;
    bool operator==(const Sent &o) const { return Name == o.Name && Bytes == o.Bytes; }
};

class UncFsTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "needs root and /dev/fuse";
        char dir[] = "/tmp/uncfs-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        base_ = dir;
        mount_ = base_ + "/unc";
        ASSERT_EQ(symlink("/nonexistent", mount_.c_str()), 0) << "a link as tools/lan leaves it";
        UncHooks hooks;
        hooks.Exists = [this](const std::string &name) {
            const std::lock_guard<std::mutex> hold(lock_);
            asked_.push_back(name);
            std::string lower = name;
            for (auto &c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return names_.count(lower) > 0;
        };
        hooks.Send = [this](const std::string &name, const std::uint8_t *data, std::size_t size) {
            if (name == "thrower")
                throw std::runtime_error("from a hook");
            const std::lock_guard<std::mutex> hold(lock_);
            sent_.push_back({name, std::string(reinterpret_cast<const char *>(data), size)});
            return sendWorks_.load();
        };
        std::string error;
        Account root;
        root.Name = "root";
        unc_ = UncMount::Mount(mount_, root, error);
        ASSERT_TRUE(unc_) << error;
        fs_ = UncFs::Serve(*unc_, hooks, error);
        ASSERT_TRUE(fs_) << error;
    }
    void TearDown() override
    {
        if (unc_) {
            fs_.reset();
            unc_.reset();
            struct stat inside {}, outside {};
            EXPECT_EQ(stat(mount_.c_str(), &inside), 0);
            EXPECT_EQ(stat(base_.c_str(), &outside), 0);
            EXPECT_EQ(inside.st_dev, outside.st_dev) << "still mounted";
        }
        if (!base_.empty()) {
            rmdir(mount_.c_str());
            rmdir(base_.c_str());
        }
    }
    void Hold(const std::string &name)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        names_.insert(name);
    }
    void Drop(const std::string &name)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        names_.erase(name);
    }
    // Open, write each block, close, as the station does; errno of the first failure.
    int Write(const std::string &path, const std::vector<std::string> &blocks)
    {
        const int fd = open((mount_ + "/" + path).c_str(), O_WRONLY);
        if (fd < 0)
            return errno;
        int failure = 0;
        for (const auto &b : blocks)
            if (write(fd, b.data(), b.size()) != static_cast<ssize_t>(b.size()) && failure == 0)
                failure = errno;
        close(fd);
        return failure;
    }
    std::vector<Sent> TakeSent()
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(sent_, {});
    }
    std::vector<std::string> TakeAsked()
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(asked_, {});
    }

    std::string base_, mount_;
    std::unique_ptr<UncMount> unc_;
    std::unique_ptr<UncFs> fs_;
    std::mutex lock_;
    std::set<std::string> names_;
    std::vector<std::string> asked_;
    std::vector<Sent> sent_;
    std::atomic<bool> sendWorks_{true};
};

std::string Block(char fill) { return std::string(420, fill); }

TEST_F(UncFsTest, EachWriteIsOneSendToTheNameAsWritten)
{
    Hold("bob");
    EXPECT_EQ(Write("Bob/mailslot/messngr", {Block('a'), Block('b')}), 0);
    EXPECT_EQ(Write("BOB/MailSlot/MESSNGR", {Block('c')}), 0);
    EXPECT_EQ(Write("bob/mailslot/messngr", {std::string(1, 'd')}), 0);
    const std::vector<Sent> expected = {
        {"Bob", Block('a')}, {"Bob", Block('b')}, {"BOB", Block('c')}, {"bob", std::string(1, 'd')}};
    EXPECT_EQ(TakeSent(), expected);
    for (const auto &name : TakeAsked())
        EXPECT_TRUE(name == "Bob" || name == "BOB" || name == "bob") << name;
}

TEST_F(UncFsTest, OnlyTheMessengerMailslotOfAnExistingNameExists)
{
    Hold("bob");
    EXPECT_EQ(Write("Nobody/mailslot/messngr", {Block('a')}), ENOENT);
    EXPECT_EQ(TakeAsked(), std::vector<std::string>{"Nobody"});
    for (const char *path : {"Bob/mailslot/browse", "Bob/mailslots/messngr", "Bob/share/file", "Bob/messngr",
                             "Bob/mailslot/messngr/x"})
        EXPECT_NE(Write(path, {Block('a')}), 0) << path;
    EXPECT_LT(open((mount_ + "/Bob/mailslot/new").c_str(), O_WRONLY | O_CREAT, 0644), 0);
    EXPECT_LT(mkdir((mount_ + "/Carol").c_str(), 0755), 0);
    EXPECT_EQ(open((mount_ + "/Bob/mailslot/messngr").c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, EACCES) << "a mailslot client only writes";
    EXPECT_TRUE(TakeSent().empty());

    struct stat st {};
    ASSERT_EQ(stat((mount_ + "/Bob/mailslot/messngr").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(stat((mount_ + "/Bob/Mailslot").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(UncFsTest, AMissIsRememberedForHalfASecondAndAHitNotAtAll)
{
    struct stat st {};
    EXPECT_NE(stat((mount_ + "/Bob/mailslot/messngr").c_str(), &st), 0);
    EXPECT_EQ(Write("Bob/mailslot/messngr", {Block('a')}), ENOENT);
    EXPECT_EQ(TakeAsked(), std::vector<std::string>{"Bob"}) << "Wine's second look costs no query";
    Hold("bob");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(Write("Bob/mailslot/messngr", {Block('b')}), 0);
    Drop("bob");
    EXPECT_EQ(Write("Bob/mailslot/messngr", {Block('c')}), ENOENT) << "a name that left is gone at once";
    EXPECT_EQ(TakeSent(), (std::vector<Sent>{{"Bob", Block('b')}}));
}

TEST_F(UncFsTest, AFailedSendFailsTheWriteAndAThrowingHookCannotEscape)
{
    Hold("bob");
    Hold("thrower");
    sendWorks_ = false;
    EXPECT_EQ(Write("bob/mailslot/messngr", {Block('a')}), EIO);
    EXPECT_EQ(Write("thrower/mailslot/messngr", {Block('a')}), EIO);
    sendWorks_ = true;
    EXPECT_EQ(Write("bob/mailslot/messngr", {Block('b')}), 0) << "the mount still serves";
}

} // namespace
