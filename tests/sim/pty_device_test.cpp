#include "sim/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace orvale::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: the conditions normally hold within milliseconds.
constexpr auto kDeadline = 10s;

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + kDeadline;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A program on the slave side, opening the port as a serial terminal program would.
class Client {
public:
    explicit Client(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (m_fd < 0) {
            throw std::system_error(errno, std::generic_category(), "open " + path);
        }
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B115200);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    void send(std::string_view bytes) {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    /// Reads until `done` holds for what has arrived, the line ends or the deadline passes.
    std::string readUntil(const std::function<bool(const std::string&)>& done) {
        const auto deadline = Clock::now() + kDeadline;
        while (!done(m_in) && Clock::now() < deadline) {
            pollfd fd{m_fd, POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0) {
                std::array<char, 1024> buffer{};
                const ssize_t got = ::read(m_fd, buffer.data(), buffer.size());
                if (got <= 0) {
                    m_ended = true;
                    break;
                }
                m_in.append(buffer.data(), static_cast<std::size_t>(got));
            }
        }
        return m_in;
    }

    std::string readUntil(std::string_view needle) {
        return readUntil(
            [needle](const std::string& in) { return in.find(needle) != std::string::npos; });
    }

    void forget() { m_in.clear(); }
    bool ended() const { return m_ended; }
    int fd() const { return m_fd; }

private:
    int m_fd;
    std::string m_in;
    bool m_ended = false;
};

DeviceConfig truckPlus() {
    DeviceConfig config;
    config.productId = 11;
    config.serialNumber = 12345;
    return config;
}

constexpr std::string_view kIdentity = "ACK IDB0930300002012\r\n";

class TempDir {
public:
    TempDir() {
        std::string pattern = ::testing::TempDir() + "quennet-sim-XXXXXX";
        m_path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        ::unlink((m_path + "/port").c_str());
        ::unlink((m_path + "/file").c_str());
        ::rmdir(m_path.c_str());
    }
    std::string path(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

TEST(PtyDevice, LogsEachReadAndAnswersIdentifyOnTheSlave) {
    PtyDevice device(truckPlus());
    Client client(device.slavePath());
    // One byte per read, as a paced sender's bytes arrive.
    const std::string command = "AT ID?\r\n";
    for (std::size_t i = 0; i < command.size(); ++i) {
        client.send(command.substr(i, 1));
        ASSERT_TRUE(eventually([&] { return device.received().size() == i + 1; }));
    }
    const auto chunks = device.received();
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].bytes, command.substr(i, 1));
        EXPECT_GE(chunks[i].time, chunks[i > 0 ? i - 1 : 0].time);
    }

    const std::string in = client.readUntil(kIdentity);
    const auto identity = in.find(kIdentity);
    ASSERT_NE(identity, std::string::npos) << in;
    EXPECT_LT(in.find("ACK REVB\r\n"), identity);
    EXPECT_EQ(device.commandCounts().identify, 1u);
}

TEST(PtyDevice, ReceiveObserverSeesEveryByteInOrder) {
    PtyDevice device(truckPlus());
    std::mutex mutex;
    std::string observed;
    device.setReceiveObserver([&](std::string_view bytes) {
        std::lock_guard lock(mutex);
        observed += bytes;
    });
    Client client(device.slavePath());
    client.send("AT K");
    client.send("I2055\r\nAT ID?\r\n");
    ASSERT_NE(client.readUntil(kIdentity).find(kIdentity), std::string::npos);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(observed, "AT KI2055\r\nAT ID?\r\n");
    }

    device.setReceiveObserver({});
    client.send("AT ID?\r\n");
    ASSERT_TRUE(eventually([&] { return device.commandCounts().identify == 2; }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(observed, "AT KI2055\r\nAT ID?\r\n") << "an emptied observer still called";
}

TEST(PtyDevice, ClientMayCloseAndOpenThePortAgain) {
    PtyDevice device(truckPlus());
    for (int round = 0; round < 3; ++round) {
        Client client(device.slavePath());
        client.send("AT ID?\r\n");
        EXPECT_NE(client.readUntil(kIdentity).find(kIdentity), std::string::npos)
            << "round " << round;
    }
    EXPECT_EQ(device.commandCounts().identify, 3u);
}

TEST(PtyDevice, AnswerWaitsForTheNextReaderButOldOutputDoesNotPileUp) {
    DeviceConfig config = truckPlus();
    config.broadcastRate = kMaxBroadcastRate;
    PtyDevice device(config);
    {
        Client writer(device.slavePath());
        writer.send("AT ID?\r\n");
    }
    // Several times what the terminal could hold, all unread.
    ASSERT_TRUE(eventually([&] { return device.bytesWritten() > 16384; }));

    Client reader(device.slavePath());
    int waiting = 0;
    ASSERT_EQ(::ioctl(reader.fd(), FIONREAD, &waiting), 0);
    // 1 KiB, plus what the device may write between its check and ours.
    EXPECT_LT(waiting, 2048);
    EXPECT_GT(device.bytesDiscarded(), 8192u);

    PtyDevice quiet(truckPlus());
    {
        Client writer(quiet.slavePath());
        writer.send("AT ID?\r\n");
    }
    Client later(quiet.slavePath());
    EXPECT_NE(later.readUntil(kIdentity).find(kIdentity), std::string::npos);
}

TEST(PtyDevice, CloseLineHangsUpTheClientAndReopenLineMakesANewPort) {
    TempDir dir;
    const std::string link = dir.path("port");
    PtyDevice device(truckPlus(), link);
    const std::string firstSlave = device.slavePath();

    Client client(link);
    client.send("AT ID?\r\n");
    ASSERT_NE(client.readUntil(kIdentity).find(kIdentity), std::string::npos);

    device.closeLine();
    EXPECT_FALSE(device.lineOpen());
    EXPECT_EQ(device.slavePath(), "");
    struct stat info {};
    EXPECT_NE(::lstat(link.c_str(), &info), 0) << "symlink left behind";
    EXPECT_NE(::stat(firstSlave.c_str(), &info), 0) << "device node left behind";
    pollfd fd{client.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&fd, 1, 5000), 1);
    EXPECT_NE(fd.revents & (POLLHUP | POLLERR), 0);
    client.readUntil([](const std::string&) { return false; });
    EXPECT_TRUE(client.ended());
    EXPECT_LT(::write(client.fd(), "A", 1), 0);
    client.close();

    device.reopenLine();
    ASSERT_TRUE(device.lineOpen());
    std::array<char, 256> target{};
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(target.data(), static_cast<std::size_t>(length)), device.slavePath());

    Client again(link);
    again.send("AT ID?\r\n");
    EXPECT_NE(again.readUntil(kIdentity).find(kIdentity), std::string::npos);
}

TEST(PtyDevice, RefusesToReplaceAFileWithItsLink) {
    TempDir dir;
    const std::string file = dir.path("file");
    std::ofstream(file) << "keep me";
    EXPECT_THROW(PtyDevice(truckPlus(), file), std::system_error);
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST(PtyDevice, OutputIsPacedToTheLineRate) {
    PtyDevice device(truckPlus());
    Client client(device.slavePath());
    client.send("AT ID?\r\n");
    client.readUntil(kIdentity);
    client.forget();
    // 40 answers of 86 bytes: 0.3 s of line time, far more than the device may send at once.
    constexpr int kCommands = 40;
    std::string commands;
    for (int i = 0; i < kCommands; ++i) {
        commands += "AT ID?\r\n";
    }
    const auto start = Clock::now();
    client.send(commands);
    const std::string in = client.readUntil([](const std::string& s) {
        std::size_t count = 0;
        for (auto at = s.find(kIdentity); at != std::string::npos; at = s.find(kIdentity, at + 1)) {
            ++count;
        }
        return count == kCommands;
    });
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    ASSERT_GE(in.size(), kCommands * 86u);
    const double rate = static_cast<double>(in.size()) / elapsed.count();
    RecordProperty("bytes_per_second", std::to_string(static_cast<int>(rate)));
    // A slow machine only lowers the rate; above it the device would outrun a real line.
    EXPECT_LT(rate, kLineBytesPerSecond * 1.1);
}

}  // namespace
}  // namespace orvale::sim
