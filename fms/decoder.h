#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fms/can_frame.h"
#include "fms/fields.h"

namespace orvale::fms {

/// What the decoder has seen. Every broadcast it announced ends up completed, dropped or still
/// in progress: bamAnnounced == bamCompleted + bamDropped + activeSessions().
struct DecoderCounters {
    std::uint64_t frames = 0;  ///< every frame given to the decoder
    /// Frames it has no use for: groups it does not read, standard frames, transport frames that
    /// are not a broadcast (a connection between two other nodes).
    std::uint64_t unknownPgn = 0;
    /// Frames (and reassembled messages) without room for every field they must carry. Those
    /// of their fields that they carry whole are still taken.
    std::uint64_t shortFrames = 0;
    std::uint64_t bamAnnounced = 0;  ///< broadcasts announced for VI or DI
    std::uint64_t bamCompleted = 0;
    /// Broadcasts given up: a lost, repeated or out-of-order packet, a packet too short for its
    /// bytes, an announcement of a wrong size, a gap over 750 ms, a new announcement from the same
    /// sender, or no room for another sender.
    std::uint64_t bamDropped = 0;

    friend bool operator==(const DecoderCounters&, const DecoderCounters&) = default;
};

/// The last value of one field of kFields.
struct FieldValue {
    bool received = false;
    std::uint32_t raw = 0;     ///< as sent: "not available" and error codes included
    std::uint64_t timeMs = 0;  ///< when the frame (or the message's last packet) carrying it came
    /// When it last came with another value (a text: other characters) than before, or came
    /// first: how long the bus has carried what it carries now.
    std::uint64_t changedMs = 0;
};

/// Reads FMS frames back into the displays' raw values and texts. Frames are matched by PGN
/// alone: priority and source address vary by vehicle. VI and DI broadcasts are reassembled per
/// source address; a text is only ever taken from a whole message, never in part.
/// All memory is taken at construction: decoding a frame never allocates.
class Decoder {
public:
    /// Senders whose broadcasts are reassembled at the same time; an announcement from one more
    /// is dropped.
    static constexpr std::size_t kMaxSessions = 64;

    Decoder();

    /// One frame received at `timeMs` (a monotonic millisecond clock).
    void onFrame(const CanFrame& frame, std::uint64_t timeMs) noexcept;
    /// Forgets every value, text, broadcast in progress and count, as a new decoder would (for a
    /// bus that has been reconnected to another vehicle). Does not allocate.
    void reset() noexcept;
    /// Gives up the broadcasts whose last frame is more than 750 ms before `nowMs`. Broadcasts
    /// are also given up when their sender's next frame comes late, or when room is needed.
    void expire(std::uint64_t nowMs) noexcept;

    /// The value of row `field` of kFields (texts: `raw` is unused).
    [[nodiscard]] const FieldValue& value(std::size_t field) const noexcept {
        return m_values[field];
    }
    /// raw x resolution + offset for a number, the code for a state; nothing for a text or a
    /// field not received.
    [[nodiscard]] std::optional<double> physical(std::size_t field) const noexcept;
    /// The box's text ("1M8GDM9AXKP042788*", "DE_4084852370992000*", "04.04"); nothing until
    /// received, or while the version is sent as "not available".
    [[nodiscard]] std::optional<std::string_view> text(std::size_t field) const noexcept;

    [[nodiscard]] const DecoderCounters& counters() const noexcept { return m_counters; }
    [[nodiscard]] std::size_t activeSessions() const noexcept { return m_activeSessions; }

private:
    struct Session {
        bool active = false;
        std::uint8_t sourceAddress = 0;
        std::uint8_t group = 0;
        std::uint8_t packets = 0;
        std::uint8_t nextPacket = 1;
        std::uint16_t size = 0;
        std::uint64_t lastMs = 0;
        std::array<std::uint8_t, kMaxTransportPayload> payload{};
    };

    struct Text {
        std::uint16_t size = 0;
        std::array<char, kMaxTransportPayload> chars{};
    };
    static constexpr std::size_t kTextCount = 4;
    static constexpr std::uint8_t kNoSession = 0xFF;

    void decodeFrame(std::size_t group, const CanFrame& frame, std::uint8_t dlc,
                     std::uint64_t timeMs) noexcept;
    void decodeTexts(std::size_t group, std::span<const std::uint8_t> payload,
                     std::uint64_t timeMs) noexcept;
    void onAnnouncement(const CanFrame& frame, std::uint8_t dlc, std::uint64_t timeMs) noexcept;
    void onPacket(const CanFrame& frame, std::uint8_t dlc, std::uint64_t timeMs) noexcept;
    Session* sessionOf(std::uint8_t sourceAddress) noexcept;
    Session* openSession(std::uint8_t sourceAddress, std::uint64_t timeMs) noexcept;
    void drop(Session& session) noexcept;
    void close(Session& session) noexcept;

    std::array<FieldValue, kFieldCount> m_values{};
    std::array<Text, kTextCount> m_texts{};
    std::vector<Session> m_sessions;
    std::array<std::uint8_t, 256> m_sessionOfAddress{};
    std::size_t m_activeSessions = 0;
    DecoderCounters m_counters;
};

}  // namespace orvale::fms
