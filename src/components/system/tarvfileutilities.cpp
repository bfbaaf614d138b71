#include "src/components/system/tarvfileutilities.h"

#include "platform/log/log.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

bool WriteToFile(const std::string& path, const std::string& content, mode_t newFileMode)
{
    return CAtomicFile::Replace(path, content, newFileMode);
}

bool EditFile(const std::string& path, const std::function<std::string(const std::string&)>& edit,
              mode_t newFileMode)
{
    if (::access(path.c_str(), R_OK) != 0) {
        TLOG_ERROR("Cannot open {}, it doesn't exist or Tarv doesn't have read permission.", path);
        return false;
    }
    std::error_code ec;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in.is_open() || !std::filesystem::is_regular_file(path, ec)) {
        TLOG_ERROR("Failed to open {} for reading.", path);
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0) {
        TLOG_ERROR("Failed to open {} for reading.", path);
        return false;
    }
    if (static_cast<std::size_t>(size) > Tarv::kMaxEditableFileSize) {
        TLOG_ERROR("Failed to open {}, the file is too large ({} bytes). Expected {} bytes or less.", path, size,
                   Tarv::kMaxEditableFileSize);
        return false;
    }
    std::string content(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(content.data(), size);
    if (in.gcount() != size) {
        TLOG_ERROR("Failed to open {} for reading.", path);
        return false;
    }
    in.close();

    return WriteToFile(path, edit(content), newFileMode);
}

bool ReplaceInFile(const std::string& path, std::string_view placeholder, std::string_view value,
                   mode_t newFileMode)
{
    return EditFile(path, [&](const std::string& content) {
        if (placeholder.empty()) {
            return content;
        }
        std::string modified;
        modified.reserve(content.size());
        std::size_t from = 0;
        for (std::size_t at = content.find(placeholder); at != std::string::npos;
             at = content.find(placeholder, from)) {
            modified.append(content, from, at - from);
            modified.append(value);
            from = at + placeholder.size();
        }
        modified.append(content, from, std::string::npos);
        return modified;
    }, newFileMode);
}

