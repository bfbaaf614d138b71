#pragma once
// Whole-file writing and placeholder replacement for the system files the
// daemon owns. Both take the file system path to open: callers resolve the
// documented absolute path with CRootDir::Resolve first. Failures are logged
// here with the path and reported as false; nothing throws.

#include <cstddef>
#include <string>
#include <string_view>

namespace Tarv {
// Largest file ReplaceInFile edits (it holds the whole file in memory).
inline constexpr std::size_t kMaxEditableFileSize = 70000;
} // namespace Tarv

// Replaces the file's content. The new content goes to a temporary file in
// the same directory, is flushed to disk and then renamed over the target, so
// a reader (or a power cut) sees either the old or the new file, never a part.
// A symbolic link is followed: its final target is replaced, the link stays.
// An existing target keeps its permission bits and owner.
bool WriteToFile(const std::string& path, const std::string& content);

// Replaces every occurrence of placeholder by value and writes the file back
// with WriteToFile. Searching continues after each inserted value, so a value
// that contains the placeholder is never searched again. Files over
// kMaxEditableFileSize bytes are refused. An empty placeholder matches nothing.
bool ReplaceInFile(const std::string& path, std::string_view placeholder, std::string_view value);
