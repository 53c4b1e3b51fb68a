#include "link/framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvale::link {
namespace {

std::vector<std::string> frameAll(Framer& framer, std::string_view bytes) {
    std::vector<std::string> frames;
    for (const char c : bytes) {
        if (const auto frame = framer.push(static_cast<std::uint8_t>(c))) {
            frames.emplace_back(*frame);
        }
    }
    return frames;
}

std::vector<std::string> frameAll(std::string_view bytes) {
    Framer framer;
    return frameAll(framer, bytes);
}

using Frames = std::vector<std::string>;

TEST(Framer, CutsFramesAtCrLf) {
    const struct {
        const char* name;
        std::string input;
        Frames frames;
    } cases[] = {
        {"one frame", "ACK REVB\r\n", {"ACK REVB\r\n"}},
        {"two in one delivery", "ACK %\r\nBRC %S2320AC\r\n", {"ACK %\r\n", "BRC %S2320AC\r\n"}},
        {"shortest frame", "ACK \r\n", {"ACK \r\n"}},
        {"too short for a frame", "AC\r\n", {}},
        {"lone CR is data", "ACK \rX\r\n", {"ACK \rX\r\n"}},
        {"any header is framed", "HELLO\r\n", {"HELLO\r\n"}},
        {"two strays restart at ACK", "xyACK REVB\r\n", {"ACK REVB\r\n"}},
        {"one stray before ACK spoils it", "xACK REVB\r\n", {"xACK REVB\r\n"}},
        {"one stray before BRC restarts", "xBRC %S2320AC\r\n", {"BRC %S2320AC\r\n"}},
        {"A before BRC does not restart", "ABRC %S2320AC\r\n", {"ABRC %S2320AC\r\n"}},
        {"lower-case header restarts", "zzack revb\r\n", {"ACK revb\r\n"}},
        {"second header inside a frame is kept", "ACK REVBRC \r\n", {"ACK REVBRC \r\n"}},
        {"BRC then ACK is one run", "BRC %SACK %\r\n", {"BRC %SACK %\r\n"}},
        {"garbage then frame", "\x01\x02\xff\x7fgarbage--ACK KI\r\n", {"ACK KI\r\n"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameAll(c.input), c.frames) << c.name;
    }
}

TEST(Framer, SameBytesSplitAnywhereGiveTheSameFrames) {
    const std::string stream =
        "xyACK REVB\r\nACK IDB0930300002012\r\nBRC %S2320AC\r\n\x01zBRC CLKC0220E3E\r\n";
    const Frames whole = frameAll(stream);
    ASSERT_EQ(whole.size(), 4u);
    // A Framer carries its state across deliveries, so any split point is invisible.
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        Framer framer;
        Frames parts = frameAll(framer, std::string_view(stream).substr(0, split));
        const Frames rest = frameAll(framer, std::string_view(stream).substr(split));
        parts.insert(parts.end(), rest.begin(), rest.end());
        EXPECT_EQ(parts, whole) << "split at " << split;
    }
}

TEST(Framer, RollsAFullBufferAndLosesTheOldestCharacters) {
    Framer framer;
    // 60 characters without CR LF: only the last 50 stay.
    const std::string run = "ACK " + std::string(56, 'Z');
    EXPECT_TRUE(frameAll(framer, run).empty());
    EXPECT_EQ(framer.pending().size(), Framer::kCapacity);
    EXPECT_EQ(framer.pending(), std::string(50, 'Z'));
    // A header inside the rolled buffer restarts it, and the next frame is whole again.
    EXPECT_EQ(frameAll(framer, "ACK KI\r\n"), Frames{"ACK KI\r\n"});
}

TEST(Framer, AFrameLongerThanTheBufferIsNeverRecognised) {
    Framer framer;
    const std::string longFrame = "ACK " + std::string(60, '1') + "\r\n";
    const Frames frames = frameAll(framer, longFrame);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].starts_with("ACK ")) << "its header rolled out";
    EXPECT_EQ(frames[0].size(), Framer::kCapacity);
}

TEST(Framer, EmptiesItsBufferBeforeTheFrameIsHandedOut) {
    Framer framer;
    const Frames first = frameAll(framer, "ACK REVB\r\n");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(framer.pending().empty());
}

TEST(Framer, ArbitraryBytesNeverOverrun) {
    Framer framer;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto frame = framer.push(static_cast<std::uint8_t>(seed >> 24));
        ASSERT_LE(framer.pending().size(), Framer::kCapacity);
        if (frame) {
            ASSERT_GE(frame->size(), 6u);
            ASSERT_LE(frame->size(), Framer::kCapacity);
            ASSERT_TRUE(frame->ends_with("\r\n"));
        }
    }
}

}  // namespace
}  // namespace orvale::link
