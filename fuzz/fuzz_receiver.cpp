// Arbitrary bytes in arbitrary chunks into the framer, the receiver and the device session, the
// way receive events deliver them. Checks that nothing overruns, that every frame is whole, and
// that the same bytes split at any point give the same frames.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/framer.h"
#include "link/receiver.h"
#include "model/presentation.h"
#include "session/device_session.h"
#include "tests/support/fakes.h"
#include "tests/support/headless_window.h"
#include "tests/support/session_fakes.h"

namespace {

using namespace orvale;

std::vector<std::string> frames(std::span<const std::uint8_t> bytes, std::size_t split) {
    link::Framer framer;
    std::vector<std::string> out;
    const auto feed = [&](std::span<const std::uint8_t> part) {
        for (const auto b : part) {
            if (const auto frame = framer.push(b)) {
                if (frame->size() < 6 || frame->size() > link::Framer::kCapacity ||
                    !frame->ends_with("\r\n")) {
                    std::abort();
                }
                out.emplace_back(*frame);
            }
        }
    };
    feed(bytes.subspan(0, split));
    feed(bytes.subspan(split));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte chooses the delivery size and the state the connection is in.
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> bytes{data + 1, size - 1};

    const std::size_t split = bytes.empty() ? 0 : (control * 7u) % (bytes.size() + 1);
    if (frames(bytes, 0) != frames(bytes, split)) std::abort();

    test::NoSerial serial;
    test::HeadlessWindow window;
    window.state.portOpen = true;
    window.state.identityAwaited = (control & 1u) != 0;
    window.state.revisionReceived = (control & 2u) != 0;
    if ((control & 4u) != 0) {
        // Already connected to a Plus model: broadcasts are applied too.
        window.state.productId = 15;
        window.state.firmwareVersion = 3;
        window.state.revisionLetter = 'B';
    }
    link::Receiver receiver(serial, window, window.state, window.fields);
    const std::size_t chunk = 1u + (control >> 3u);
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        receiver.receive(bytes.subspan(at, std::min(chunk, bytes.size() - at)));
    }
    if (receiver.pendingFrame().size() > link::Framer::kCapacity) std::abort();

    // The same bytes through a device session, the way the program takes them, with watchdog
    // ticks (silent-device teardowns, reconnects) between some of the deliveries.
    test::FeedSerial feed;
    test::SteppingClock clock;
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer watchdog;
    session::DeviceSession deviceSession(feed, clock, portFile, watchdog);
    deviceSession.initialise();
    watchdog.fire();
    for (std::size_t at = 0, n = 0; at < bytes.size(); at += chunk, ++n) {
        feed.next = bytes.subspan(at, std::min(chunk, bytes.size() - at));
        deviceSession.onComm();
        if ((control & 0x80u) != 0 && n % 7 == 6) watchdog.fire();
    }
    if (deviceSession.receiver().pendingFrame().size() > link::Framer::kCapacity) std::abort();
    return 0;
}
