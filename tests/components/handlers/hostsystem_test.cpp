#include "src/components/handlers/hostsystem.h"

#include <gtest/gtest.h>

#include <unistd.h>

// A process file that cannot be read, for whatever reason, reads as empty:
// the caller takes that as "not the process it looks for". A read that fails
// (a directory here; a process that ends mid-read in the field) once threw.
TEST(HostSystem, UnreadableProcessFilesReadAsEmpty)
{
    CHostSystem host;
    EXPECT_EQ(host.ProcessFile(::getpid(), "comm").empty(), false);
    EXPECT_EQ(host.ProcessFile(::getpid(), "task"), "");
    EXPECT_EQ(host.ProcessFile(::getpid(), "no-such-entry"), "");
    EXPECT_EQ(host.ProcessFile(-1, "comm"), "");
}
