// The single running copy (hand-over of paths, refusal of bad data, stale sockets) and the help command.
#include "host/display.h"
#include "host/dos.h"
#include "host/instance.h"

#include "support/TalTest.h"

#include <chrono>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <regex>
#include <set>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string testDir(const char* name) {
    const char* tmp = std::getenv("VELURA_TEST_TMP");
    std::string dir = std::string(tmp ? tmp : "/tmp") + "/" + name + "-" + std::to_string(getpid());
    EXPECT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    return dir;
}

// Paths the running copy received.
std::mutex receivedLock;
std::condition_variable receivedWake;
std::vector<std::string> received;

void collect(const char* path) {
    std::lock_guard guard(receivedLock);
    received.push_back(path);
    receivedWake.notify_all();
}

bool receivedCount(size_t n) {
    std::unique_lock guard(receivedLock);
    return receivedWake.wait_for(guard, std::chrono::seconds(20), [&] { return received.size() >= n; });
}

sockaddr_un socketAddress() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    EXPECT_EQ(host_InstanceSocketPath(address.sun_path, sizeof address.sun_path), 1u);
    return address;
}

// Sends raw bytes to the socket like a foreign program would; the one-byte answer, or 0 when none came.
char sendRaw(const std::string& bytes) {
    sockaddr_un address = socketAddress();
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    char answer = 0;
    if (recv(fd, &answer, 1, 0) != 1) answer = 0;
    close(fd);
    return answer;
}

class InstanceTest : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        dir = testDir("instance");
        setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
        mkdir((dir + "/run").c_str(), 0700);
        setenv("VELURA_HOME", (dir + "/home/").c_str(), 1);
        host__ResetDirectories();
        std::lock_guard guard(receivedLock);
        received.clear();
    }
    void TearDown() override {
        host_StopSingleInstance();
        TalFixture::TearDown();
    }
    std::string dir;
};

TEST_F(InstanceTest, LaterStartsHandOverTheirPaths) {
    ASSERT_EQ(host_StartSingleInstance("/first.bmp"), host_InstanceRole::First);
    ASSERT_TRUE(host_ListenSingleInstance(collect));
    EXPECT_EQ(host_StartSingleInstance("/pictures/a b.bmp"), host_InstanceRole::HandedOver);
    EXPECT_EQ(host_StartSingleInstance(""), host_InstanceRole::HandedOver); // "come forward"
    EXPECT_EQ(host_StartSingleInstance(std::string(PATH_MAX, 'p').c_str()), host_InstanceRole::Refused);
    ASSERT_TRUE(receivedCount(2));
    std::lock_guard guard(receivedLock);
    EXPECT_EQ(received, (std::vector<std::string>{"/pictures/a b.bmp", ""}));
}

TEST_F(InstanceTest, BadDataIsRefusedAndGoodPathsStillArrive) {
    ASSERT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
    ASSERT_TRUE(host_ListenSingleInstance(collect));
    const std::string magic = "VLR1";
    EXPECT_NE(sendRaw(magic + std::string(5000, 'a')), '1');            // unterminated, longer than PATH_MAX
    EXPECT_NE(sendRaw(magic + std::string(PATH_MAX, 'a') + '\0'), '1'); // terminated too late
    EXPECT_NE(sendRaw(magic + "/x.bmp"), '1');                          // never terminated
    EXPECT_NE(sendRaw("XXXX/x.bmp" + std::string(1, '\0')), '1');       // not ours
    EXPECT_NE(sendRaw(magic + "/x.bmp" + '\0' + "more"), '1');          // more after the path
    EXPECT_NE(sendRaw(""), '1');
    EXPECT_EQ(sendRaw(magic + std::string(PATH_MAX - 1, 'b') + '\0'), '1'); // the longest path that fits
    EXPECT_EQ(host_StartSingleInstance("/good.bmp"), host_InstanceRole::HandedOver);
    ASSERT_TRUE(receivedCount(2));
    std::lock_guard guard(receivedLock);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], std::string(PATH_MAX - 1, 'b'));
    EXPECT_EQ(received[1], "/good.bmp");
}

TEST_F(InstanceTest, AStaleSocketDoesNotBlockTheNextFirstCopy) {
    // What a crashed copy leaves: a socket file nobody listens on.
    sockaddr_un address = socketAddress();
    const char* name = address.sun_path;
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    struct stat st {};
    ASSERT_EQ(lstat(name, &st), 0);

    ASSERT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
    ASSERT_TRUE(host_ListenSingleInstance(collect));
    EXPECT_EQ(host_StartSingleInstance("/after.bmp"), host_InstanceRole::HandedOver);
    ASSERT_TRUE(receivedCount(1));
    host_StopSingleInstance();
    EXPECT_NE(lstat(name, &st), 0); // a copy that ends cleanly takes its socket with it
    EXPECT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
}

// The running copy listens once its window is open: until then there is no socket, and a later start
// waits for it. A copy that ends meanwhile (its window never opened) leaves the lock to that start.
TEST_F(InstanceTest, ALaterStartWaitsWhileTheRunningCopyOpensItsWindow) {
    char socketName[PATH_MAX];
    ASSERT_EQ(host_InstanceSocketPath(socketName, sizeof socketName), 1u);
    for (bool opens : {true, false}) {
        SCOPED_TRACE(opens ? "the window opens" : "the window never opens");
        ASSERT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
        struct stat st {};
        EXPECT_NE(lstat(socketName, &st), 0);
        auto later = std::async(std::launch::async, [] { return host_StartSingleInstance("/later.bmp"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // it waits meanwhile
        if (opens)
            ASSERT_TRUE(host_ListenSingleInstance(collect));
        else
            host_StopSingleInstance();
        EXPECT_EQ(later.get(), opens ? host_InstanceRole::HandedOver : host_InstanceRole::First);
        host_StopSingleInstance();
    }
    std::lock_guard guard(receivedLock);
    EXPECT_EQ(received, std::vector<std::string>{"/later.bmp"});
}

// A running copy that takes the connection but never answers (hung) does not keep a later start from
// running: it runs on its own.
TEST_F(InstanceTest, ARunningCopyThatDoesNotAnswerInTimeLetsTheLaterStartRun) {
    ASSERT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
    sockaddr_un address = socketAddress();
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    EXPECT_EQ(host_StartSingleInstance("/x.bmp"), host_InstanceRole::Alone);
    close(fd);
    unlink(address.sun_path);
}

// The lock file and the socket live in the runtime directory, else in the user directory (never in a
// folder shared with other users), and a copy that ends takes both with it.
TEST_F(InstanceTest, LockAndSocketLiveInTheUsersOwnDirectoryAndGoAtTheEnd) {
    const std::string user = dir + "/user";
    setenv("VELURA_USER_DIR", user.c_str(), 1);
    for (bool runtime : {true, false}) {
        SCOPED_TRACE(runtime ? "XDG_RUNTIME_DIR" : "the user directory");
        if (!runtime) unsetenv("XDG_RUNTIME_DIR");
        host__ResetDirectories();
        const std::string place = runtime ? dir + "/run" : user;
        ASSERT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
        ASSERT_TRUE(host_ListenSingleInstance(collect));
        char socketName[PATH_MAX];
        ASSERT_EQ(host_InstanceSocketPath(socketName, sizeof socketName), 1u);
        const std::string socketPath = socketName;
        ASSERT_EQ(socketPath.rfind(place + "/velura-", 0), 0u) << socketPath;
        const std::string lock = socketPath.substr(0, socketPath.size() - 5) + ".lock";
        struct stat st {};
        EXPECT_EQ(stat(lock.c_str(), &st), 0);
        EXPECT_EQ(host_StartSingleInstance("/x.bmp"), host_InstanceRole::HandedOver);
        host_StopSingleInstance();
        EXPECT_NE(lstat(socketPath.c_str(), &st), 0);
        EXPECT_NE(lstat(lock.c_str(), &st), 0);
        const std::string tmpName = "/tmp/" + socketPath.substr(socketPath.rfind('/') + 1);
        EXPECT_NE(lstat(tmpName.c_str(), &st), 0);
    }
    // The next copy takes over as the first again.
    ASSERT_EQ(host_StartSingleInstance(nullptr), host_InstanceRole::First);
    host_StopSingleInstance();
    unsetenv("VELURA_USER_DIR");
}

class HelpTest : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        dir = testDir("help");
        setenv("VELURA_HOME", (dir + "/home/").c_str(), 1);
        host__ResetDirectories();
        ASSERT_EQ(std::system(("mkdir -p '" + dir + "/home/Help'").c_str()), 0);
        std::ofstream(dir + "/home/Help/TableOfContents.htm") << "<html></html>\n";
        viewer = dir + "/viewer.sh";
        std::ofstream(viewer) << "#!/bin/sh\necho \"$1\" > '" << dir << "/seen.tmp' && mv '" << dir
                              << "/seen.tmp' '" << dir << "/seen'\n";
        chmod(viewer.c_str(), 0755);
    }
    void TearDown() override {
        host_SetHelpViewer("xdg-open");
        TalFixture::TearDown();
    }
    std::string dir, viewer;
};

TEST_F(HelpTest, StartsTheViewerDetachedOnThePage) {
    host_SetHelpViewer(viewer.c_str());
    host_OpenHelp();
    // The viewer is nobody's child here: nothing to reap, no zombie left behind.
    int status;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    std::string seen;
    const auto limit = Clock::now() + std::chrono::seconds(20);
    while (seen.empty() && Clock::now() < limit) {
        std::ifstream in(dir + "/seen");
        std::getline(in, seen);
        if (seen.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(seen, dir + "/home/Help/TableOfContents.htm");
}

TEST_F(HelpTest, WithoutPageOrViewerOnlyTheDebugOutputHearsOfIt) {
    DebugCapture debug;
    host_SetHelpViewer(nullptr);
    host_OpenHelp();
    EXPECT_TRUE(debug.contains("no help viewer")) << debug.text();
    host_SetHelpViewer(viewer.c_str());
    std::remove((dir + "/home/Help/TableOfContents.htm").c_str());
    host_OpenHelp();
    EXPECT_TRUE(debug.contains("TableOfContents.htm is missing")) << debug.text();
    host_SetHelpViewer("velura-no-such-viewer");
    std::ofstream(dir + "/home/Help/TableOfContents.htm") << "<html></html>\n";
    host_OpenHelp();
    EXPECT_TRUE(debug.contains("velura-no-such-viewer not found")) << debug.text();
    struct stat st {};
    EXPECT_NE(stat((dir + "/seen").c_str(), &st), 0);
}

// The shipped help pages: every link between them leads to a page (and a place on it) that is there, and
// every page can be reached from the contents.
TEST(HelpPages, LinkedTogetherFromTheContents) {
    namespace fs = std::filesystem;
    const fs::path help = fs::path(VELURA_DATA_DIR) / "Help";
    auto read = [&](const std::string& page) {
        std::ifstream in(help / page);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    std::set<std::string> pages, reached{"TableOfContents.htm"};
    for (const auto& entry : fs::directory_iterator(help))
        if (entry.path().extension() == ".htm") pages.insert(entry.path().filename().string());
    ASSERT_TRUE(pages.count("TableOfContents.htm"));
    std::vector<std::string> todo{"TableOfContents.htm"};
    const std::regex link("href=\"([^\"#:]*)(#[^\"]*)?\"");
    while (!todo.empty()) {
        const std::string page = todo.back();
        todo.pop_back();
        const std::string text = read(page);
        for (std::sregex_iterator m(text.begin(), text.end(), link), end; m != end; ++m) {
            const std::string target = (*m)[1].str().empty() ? page : (*m)[1].str();
            ASSERT_TRUE(fs::exists(help / target)) << page << " links to " << target;
            if ((*m)[2].matched) {
                EXPECT_NE(read(target).find("id=\"" + (*m)[2].str().substr(1) + "\""), std::string::npos)
                    << page << " links to " << (*m)[0];
            }
            if (target.ends_with(".htm") && reached.insert(target).second) todo.push_back(target);
        }
    }
    EXPECT_EQ(reached, pages);
}

} // namespace
