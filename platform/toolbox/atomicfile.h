#pragma once
// Whole-file replacement that a reader (or a power cut) sees either before
// or after, never in between.

#include <string>
#include <string_view>
#include <sys/types.h>

class CAtomicFile {
public:
    CAtomicFile() = delete;

    // Replaces the file's content. The new content goes to a temporary file
    // in the same directory, is flushed to disk and then renamed over the
    // target, and the directory is flushed. A symbolic link is followed: its
    // final target is replaced, the link stays. An existing target keeps its
    // permission bits and owner; a new file gets newFileMode, whatever the
    // umask. kSecretFileMode marks a file holding a secret: it is 0600 after
    // every write, whatever mode it had. Files that cannot be replaced by
    // a rename (special files, a read-only directory, a file mounted on its
    // own) are written in place. Failures are logged with the path (never
    // the content) and reported as false; nothing throws.
    static bool Replace(const std::string& path, std::string_view content, mode_t newFileMode);

    static constexpr mode_t kDefaultNewFileMode = 0644;
    static constexpr mode_t kSecretFileMode = 0600;
};
