#pragma once
// Whole-file writing and placeholder replacement for the system files the
// daemon owns. Both take the file system path to open: callers resolve the
// documented absolute path with CRootDir::Resolve first. Failures are logged
// here with the path and reported as false; nothing throws.

#include "platform/toolbox/atomicfile.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace Tarv {
// Largest file ReplaceInFile edits (it holds the whole file in memory).
inline constexpr std::size_t kMaxEditableFileSize = 70000;
} // namespace Tarv

// Replaces the file's content atomically (see CAtomicFile::Replace). A new
// file gets newFileMode: pass CAtomicFile::kSecretFileMode for secrets; an
// existing file keeps its mode.
bool WriteToFile(const std::string& path, const std::string& content,
                 mode_t newFileMode = CAtomicFile::kDefaultNewFileMode);

// Reads the file (at most kMaxEditableFileSize bytes) and writes back what
// edit makes of its content with WriteToFile (newFileMode as there; a file
// that holds a secret passes CAtomicFile::kSecretFileMode).
bool EditFile(const std::string& path, const std::function<std::string(const std::string&)>& edit,
              mode_t newFileMode = CAtomicFile::kDefaultNewFileMode);

// Replaces every occurrence of placeholder by value and writes the file back
// with EditFile. Searching continues after each inserted value, so a value
// that contains the placeholder is never searched again. Files over
// kMaxEditableFileSize bytes are refused. An empty placeholder matches nothing.
bool ReplaceInFile(const std::string& path, std::string_view placeholder, std::string_view value,
                   mode_t newFileMode = CAtomicFile::kDefaultNewFileMode);
