// What only a POSIX system lets a test arrange: a file system that fills up.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

#include "WorkerFixture.h"
#include "download/DownloadThread.h"
#include "support/FaultServer.h"

namespace {

using namespace download;
using namespace testsupport;

const ::testing::Environment* const kLog = &LogEnvironment::Instance();

// The disk fills up during a transfer (another program took the space after the check): the user is
// told it is the disk, not the network, and what was written stays for a resume.
TEST(DiskFull, DuringATransferTheMessageSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir mountPoint;
  if (mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no tmpfs here: " << std::strerror(errno);
  {
    FaultServer server;
    const std::string content = Pattern(200000, 7);
    FaultScript plain;
    plain.body = content;
    server.Script("/f/Data/x.pak", plain);
    CMessageQueue queue;
    CDownloadThread thread(queue.Handle());
    thread.SetFileList(MakeList(server.Url("/f/"), {{"Data/x.pak", content}}));
    thread.SetDownloadPath(platform::WidenUtf8((mountPoint / "VALDRIS").string()));
    WorkerMediator mediator = DefaultWorkerMediator(2000);
    mediator.freeSpace = [](std::u16string_view) { return 1ULL << 40; };
    thread.SetMediator(mediator);
    ASSERT_TRUE(thread.Start());
    const RunRecord run = Collect(queue);
    thread.Stop();
    EXPECT_FALSE(run.success);
    EXPECT_EQ(run.message, "Insufficient free space in storage.");
    EXPECT_EQ(CountOf(LogText(), "[ERROR] failed to download file - (112)"), 1);
    const std::string partial = ReadBytes(mountPoint / "VALDRIS/Data/x.pak");
    EXPECT_GT(partial.size(), 0u);
    EXPECT_EQ(partial, content.substr(0, partial.size()));
  }
  EXPECT_EQ(umount(mountPoint.path().c_str()), 0);
}

} // namespace
