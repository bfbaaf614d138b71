#include "platform/config/configfilewriter.h"

#include "platform/log/log.h"
#include "platform/toolbox/atomicfile.h"

#include <json/writer.h>

bool CConfigFileWriter::Write(const std::string& path, const Json::Value& object, mode_t mode)
{
    if (!object.isObject()) {
        TLOG_ERROR("Config file {} not written: the value is not a JSON object", path);
        return false;
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "    ";
    builder["emitUTF8"] = true;
    return CAtomicFile::Replace(path, Json::writeString(builder, object) + "\n", mode);
}
