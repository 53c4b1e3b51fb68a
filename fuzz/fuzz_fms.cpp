// The FMS decoder fed arbitrary frame sequences, after the frames of a device at a position the
// input chooses. Checks that the device's texts come back exactly, that a text only ever
// changes when a whole message has come (never in part), that the counters add up and that the
// reassembly state stays bounded.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fms/decoder.h"
#include "fms/encoder.h"
#include "link/protocol.h"
#include "model/presentation.h"

namespace {

using namespace orvale;

constexpr std::size_t kRecord = 14;

void check(bool ok) {
    if (!ok) std::abort();
}

// The text rows (VIN, driver IDs, version) and what they hold.
std::vector<std::size_t> textRows() {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < fms::kFieldCount; ++i) {
        const auto kind = fms::kFields[i].kind;
        if (kind == fms::FieldKind::kText || kind == fms::FieldKind::kVersion) rows.push_back(i);
    }
    return rows;
}

// Copies the texts into `out` (reusing its strings) and checks their shape.
void texts(const fms::Decoder& d, const std::vector<std::size_t>& rows,
           std::vector<std::string>& out) {
    out.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto text = d.text(rows[i]);
        out[i].assign(text ? *text : std::string_view("\x01none"));
        if (!text) continue;
        if (fms::kFields[rows[i]].kind == fms::FieldKind::kVersion) {
            check(text->size() == 5 && (*text)[2] == '.');
        } else {
            check(!text->empty() && text->back() == '*' && text->find('*') == text->size() - 1);
        }
    }
}

void checkCounters(const fms::Decoder& d, std::uint64_t frames) {
    const fms::DecoderCounters& c = d.counters();
    check(c.frames == frames);
    check(d.activeSessions() <= fms::Decoder::kMaxSessions);
    check(c.bamAnnounced == c.bamCompleted + c.bamDropped + d.activeSessions());
    check(c.unknownPgn + c.shortFrames <= c.frames + c.bamCompleted);
}

// Turns 14 input bytes into a frame. The top bits of byte 3 steer half the frames to the
// transport protocol and the groups read, from a few senders, so that broadcasts collide.
fms::CanFrame frameOf(const std::uint8_t* r) {
    fms::CanFrame f;
    const std::uint32_t bits = r[0] | (std::uint32_t{r[1]} << 8) | (std::uint32_t{r[2]} << 16) |
                               (std::uint32_t{r[3]} << 24);
    const auto sa = static_cast<std::uint8_t>(r[0] & 0x07);
    f.dlc = static_cast<std::uint8_t>(r[4] & 0x0F);
    for (std::size_t i = 0; i < 8; ++i) f.data[i] = r[5 + i];
    switch (r[3] >> 5) {
        case 4: {
            f.id = fms::makeId(7, fms::kTpCmPgn | fms::kGlobalAddress, sa);
            if ((r[1] & 1) != 0) f.data[0] = fms::kBamControl;
            // Announce VI or DI with a consistent size most of the time.
            const std::uint32_t pgn = (r[1] & 2) != 0 ? 0xFEEC : 0xFE6B;
            f.data[5] = static_cast<std::uint8_t>(pgn & 0xFF);
            f.data[6] = static_cast<std::uint8_t>(pgn >> 8);
            f.data[7] = 0;
            if ((r[1] & 4) != 0) f.data[3] = static_cast<std::uint8_t>((f.data[1] + 6) / 7);
            if ((r[1] & 8) != 0) f.data[2] = 0;
            break;
        }
        case 5:
            f.id = fms::makeId(7, fms::kTpDtPgn | fms::kGlobalAddress, sa);
            break;
        case 6:
            f.id = fms::makeId(6, fms::kGroups[r[1] % fms::kGroupCount].pgn, r[0]);
            break;
        case 7:
            f.id = bits & 0x7FF;
            f.extended = false;
            break;
        default:
            f.id = bits & fms::kExtendedIdMask;
    }
    return f;
}

bool isTextFrame(const fms::CanFrame& f) {
    const std::uint32_t pgn = fms::pgnOf(f.id);
    return f.extended && (pgn == 0xFEEC || pgn == 0xFE6B || pgn == 0xFDD1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const std::vector<std::size_t> kTextRows = textRows();

    // A device at the chosen position and product: its texts come back exactly.
    const std::uint8_t position = data[0];
    const std::uint8_t product = data[1];
    const std::string_view productText = link::modelName(product).value_or("");
    model::VinBuffer vin;
    model::Presentation shown;
    const auto raw = model::computeRawParameters(position, product);
    model::present(raw, position, product, {productText, 0, "Variable", "12:34:56"}, vin, shown);
    fms::EncodedFrames encoded;
    fms::encode(fms::deviceStateOf(raw, product, shown, model::swVersionFor(productText),
                                   fms::parseClock("12:34:56")),
                encoded);
    // One decoder for the whole run: a fresh one per input would spend most of the time on its
    // buffers. reset() must leave it as new.
    static fms::Decoder decoder;
    decoder.reset();
    std::uint64_t frames = 0;
    for (const fms::TimedFrame& t : fms::schedule(encoded, 0, 0)) {
        decoder.onFrame(t.frame, t.timeMs);
        ++frames;
    }
    checkCounters(decoder, frames);
    check(decoder.counters().bamDropped == 0 && decoder.counters().shortFrames == 0);
    for (const auto id : {model::control::kVehicleIdentificationNumber, model::control::kDriver1Id,
                          model::control::kDriver2Id}) {
        check(decoder.text(fms::fieldIndex(id)) == shown.findText(id)->text());
    }

    // Then anything.
    std::uint64_t time = 1000;
    static std::vector<std::string> before;
    static std::vector<std::string> after;
    texts(decoder, kTextRows, before);
    for (std::size_t at = 2; at + kRecord <= size; at += kRecord) {
        const std::uint8_t* r = data + at;
        const fms::CanFrame frame = frameOf(r);
        time += r[13] * 4U;
        const std::uint64_t completed = decoder.counters().bamCompleted;
        decoder.onFrame(frame, time);
        ++frames;
        if (r[13] == 0xFF) decoder.expire(time);

        checkCounters(decoder, frames);
        texts(decoder, kTextRows, after);
        // A text changes only with a whole message: a completed broadcast or a frame of its own.
        if (after != before)
            check(decoder.counters().bamCompleted > completed || isTextFrame(frame));
        before.swap(after);
        for (std::size_t i = 0; i < fms::kFieldCount; ++i) {
            check(decoder.value(i).timeMs <= time);
        }
    }
    return 0;
}
