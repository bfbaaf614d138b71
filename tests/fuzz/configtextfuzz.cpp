// libFuzzer target for configuration source text (scripts/fuzz.sh): any
// bytes are refused with a one-line problem or read as an object that reads
// back from the configuration writer's form.

#include "platform/config/configtext.h"

#include <json/writer.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Json::Value object;
    if (const auto problem = CConfigText::Parse({reinterpret_cast<const char*>(data), size}, object)) {
        if (problem->find('\n') != std::string::npos) {
            std::abort(); // it would break its log line
        }
        return 0;
    }
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    Json::Value again;
    if (!object.isObject() || CConfigText::Parse(Json::writeString(builder, object), again) || again.size() != object.size()) {
        std::abort(); // the daemon would refuse a file it wrote itself
    }
    return 0;
}
