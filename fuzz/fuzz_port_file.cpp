// Any contents of the port configuration file: the reader never hangs or crashes, and a store
// of a port always reads back as that port with every other line kept.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/port_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view contents{reinterpret_cast<const char*>(data), size};
    const orvale::app::ParsedPortFile parsed = orvale::app::parsePortFile(contents);
    if (parsed.portText.rfind("COM", 0) != 0) std::abort();

    const std::string repaired = orvale::app::contentsWithFallbackRepaired(contents);
    const orvale::app::ParsedPortFile reread = orvale::app::parsePortFile(repaired);
    if (reread.portText != parsed.portText || reread.fallbackStoreNeeded) std::abort();

    for (const std::string_view port : {"COM12", "COM3", "COM50"}) {
        const std::string stored = orvale::app::contentsWithPort(contents, port);
        if (orvale::app::parsePortFile(stored).portText != port) std::abort();
    }
    return 0;
}
