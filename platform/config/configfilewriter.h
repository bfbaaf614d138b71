#pragma once
// Replaces a configuration file atomically (CAtomicFile): a reader (or a
// power cut) sees either the old file or the new one, never a partial file.

#include <json/value.h>

#include <string>
#include <sys/types.h>

class CConfigFileWriter {
public:
    // Writes object (a JSON object) to path. The file keeps the permission
    // bits of the file it replaces; a new file gets mode. With
    // CAtomicFile::kSecretFileMode the file is 0600 after the write, whatever
    // mode it had (see CAtomicFile::Replace). Returns false (and logs the
    // reason, never the content) when the value is not an object or any
    // step fails; the old file is then left untouched.
    static constexpr mode_t kNewFileMode = 0640;
    static bool Write(const std::string& path, const Json::Value& object, mode_t mode = kNewFileMode);
};
