// A refused open names the cause a user can act on: the words (a pure function of what was
// found out, so that permission cases are tested even as root) and what CMSComm and the probe
// find out on real files and pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "controls/cmscomm.h"
#include "support/pty_pair.h"

namespace orvale::controls {
namespace {

OpenRefusalFacts refusedWith(int systemError) {
    OpenRefusalFacts facts;
    facts.systemError = systemError;
    facts.owner = "root";
    return facts;
}

TEST(OpenRefusalAdvice, NamesTheCauseAUserCanActOn) {
    const std::string sudo = "sudo usermod -aG dialout $USER";
    auto gone = refusedWith(0);
    gone.exists = false;
    auto locked = refusedWith(0);
    locked.lockHolder = 4242;
    locked.lockHolderName = "minicom";
    auto lockedUnnamed = locked;
    lockedUnnamed.lockHolderName.clear();
    auto lockedAndGone = locked;
    lockedAndGone.systemError = ENOENT;
    auto dialout = refusedWith(EACCES);
    dialout.group = "dialout";
    auto uucp = refusedWith(EACCES);
    uucp.group = "uucp";
    auto nextLogin = dialout;
    nextLogin.groupFromNextLogin = true;
    auto deniedByAccess = refusedWith(0);  // QSerialPort's own text; access() says no
    deniedByAccess.accessDenied = true;
    deniedByAccess.group = "dialout";
    auto ownerOnly = refusedWith(EACCES);
    auto nobodyKnown = refusedWith(EPERM);
    nobodyKnown.owner.clear();
    auto regularFile = refusedWith(0);
    regularFile.characterDevice = false;

    const struct {
        const char* name;
        OpenRefusalFacts facts;
        std::string advice;
    } cases[] = {
        {"path gone", gone, "no such device; is the adapter plugged in?"},
        {"ENOENT", refusedWith(ENOENT), "no such device; is the adapter plugged in?"},
        {"ENODEV", refusedWith(ENODEV), "no such device; is the adapter plugged in?"},
        {"ENXIO", refusedWith(ENXIO), "no such device; is the adapter plugged in?"},
        {"a stale lock of a device that is gone", lockedAndGone,
         "no such device; is the adapter plugged in?"},
        {"lock file of a running program", locked,
         "COM7 is in use by another program (minicom, process 4242)"},
        {"lock file, program unnamed", lockedUnnamed,
         "COM7 is in use by another program (process 4242)"},
        {"EBUSY", refusedWith(EBUSY), "COM7 is in use by another program"},
        {"EACCES, group dialout", dialout,
         "only members of the group dialout may open it; add yourself (" + sudo +
             ") and log in again"},
        {"the device's own group is named", uucp,
         "only members of the group uucp may open it; add yourself (sudo usermod -aG uucp "
         "$USER) and log in again"},
        {"member from the next login", nextLogin,
         "you are a member of the group dialout only from your next login on; log out and in "
         "again"},
        {"access() refuses", deniedByAccess,
         "only members of the group dialout may open it; add yourself (" + sudo +
             ") and log in again"},
        {"no group grants it", ownerOnly, "only its owner, root, may open it"},
        {"nothing known beyond the refusal", nobodyKnown, ""},
        {"ENOTTY", refusedWith(ENOTTY), "/dev/ttyUSB0 is not a serial device"},
        {"not a character device", regularFile, "/dev/ttyUSB0 is not a serial device"},
        {"EIO", refusedWith(EIO), ""},
        {"QSerialPort's own text", refusedWith(0), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(openRefusalAdvice(c.facts, "COM7", "/dev/ttyUSB0"), c.advice) << c.name;
    }
}

TEST(OpenRefusal, RefusedOpensOfRealPathsNameTheCause) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.filePath(QStringLiteral("not-a-port")).toStdString();
    std::ofstream(file) << "x";
    test::PtyPair vanished;
    ASSERT_TRUE(vanished.ok());
    const std::string vanishedPath = vanished.path();
    // The adapter pulled: closing the master end takes the slave's node away.
    vanished.closeMaster();

    const auto text = [](int error) { return qt_error_string(error).toStdString(); };
    const struct {
        const char* name;
        std::string path;
        std::string expected;
    } cases[] = {
        {"missing path", "/nonexistent/quennet-port",
         "Cannot open COM7 (/nonexistent/quennet-port): " + text(ENOENT) +
             ": no such device; is the adapter plugged in?"},
        {"pseudo-terminal gone", vanishedPath,
         "Cannot open COM7 (" + vanishedPath + "): " + text(ENOENT) +
             ": no such device; is the adapter plugged in?"},
        {"a regular file", file,
         "Cannot open COM7 (" + file + "): " + text(ENOTTY) + ": " + file +
             " is not a serial device"},
    };
    for (const auto& c : cases) {
        // Tests running beside this one may be given the pseudo-terminal's number again.
        if (c.path == vanishedPath && ::access(vanishedPath.c_str(), F_OK) == 0) continue;
        PortMap ports;
        ports.map(7, QString::fromStdString(c.path));
        CMSComm comm(ports);
        comm.SetCommPort(7);
        try {
            comm.SetPortOpen(true);
            ADD_FAILURE() << c.name << ": opened";
        } catch (const link::SerialError& e) {
            EXPECT_EQ(std::string(e.what()), c.expected) << c.name;
        }
        EXPECT_FALSE(comm.GetPortOpen()) << c.name;
    }
}

TEST(OpenRefusal, ProbeFindsTheRunningProgramThatHoldsTheLock) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string locks = dir.filePath(QStringLiteral("lock")).toStdString();
    ASSERT_EQ(::mkdir(locks.c_str(), 0755), 0);
    const std::vector<std::string> lockDirectories = {
        dir.filePath(QStringLiteral("none")).toStdString(), locks};
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // A by-id name for the pseudo-terminal: other programs lock the device it leads to.
    const std::string link = dir.filePath(QStringLiteral("by-id-port")).toStdString();
    ASSERT_EQ(::symlink(pty.path().c_str(), link.c_str()), 0);

    const long running = static_cast<long>(::getppid());  // the test runner, alive meanwhile
    // /dev/pts/N is locked as LCK..pts_N.
    std::string lockName = "LCK.." + pty.path().substr(5);
    std::replace(lockName.begin(), lockName.end(), '/', '_');
    const struct {
        const char* name;
        std::string path;      // opened
        std::string contents;  // of the lock file named after the device; empty: no file
        long holder;
    } cases[] = {
        {"QLockFile's form", pty.path(), std::to_string(running) + "\nminicom\nhost\n", running},
        {"UUCP's form", pty.path(), "      " + std::to_string(running) + "\n", running},
        {"through a by-id link", link, std::to_string(running) + "\n", running},
        {"this process's own lock", pty.path(), std::to_string(::getpid()) + "\n", 0},
        {"a process that has ended", pty.path(), "99999999\n", 0},
        {"no number", pty.path(), "minicom\n", 0},
        {"no lock file", pty.path(), "", 0},
    };
    for (const auto& c : cases) {
        const std::string lockFile = locks + "/" + lockName;
        std::remove(lockFile.c_str());
        if (!c.contents.empty()) std::ofstream(lockFile) << c.contents;
        const OpenRefusalFacts facts = probeOpenRefusal(
            c.path, QStringLiteral("Permission error while locking the device"), lockDirectories);
        EXPECT_EQ(facts.lockHolder, c.holder) << c.name;
        EXPECT_EQ(facts.lockHolderName.empty(), c.holder == 0) << c.name;
        EXPECT_EQ(facts.systemError, 0) << c.name << ": QSerialPort's own text has no errno";
        EXPECT_TRUE(facts.exists && facts.characterDevice) << c.name;
    }
}

}  // namespace
}  // namespace orvale::controls
