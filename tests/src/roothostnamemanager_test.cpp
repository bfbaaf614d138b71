#include "src/roothostnamemanager.h"

#include "platform/rootdir/rootdir.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <unistd.h>

// A daemon under another root renames in the root's files, never the machine.
TEST(RootHostnameManager, RenamesInTheRootsFilesAndLeavesTheMachinesNameAlone)
{
    TestSupport::CTempDir root;
    CRootDir::Set(root.Root());
    root.WriteFile("etc/hostname", "old-name\n");
    root.WriteFile("etc/hosts", "127.0.1.1 old-name old-name.lan\n");
    char machine[256] = {}, after[256] = {};
    gethostname(machine, sizeof machine - 1);
    EXPECT_TRUE(CRootHostnameManager().SetHostname("new-name"));
    gethostname(after, sizeof after - 1);
    EXPECT_STREQ(after, machine);
    EXPECT_EQ(root.ReadFile("etc/hostname"), "new-name\n");
    EXPECT_EQ(root.ReadFile("etc/hosts"), "127.0.1.1 new-name new-name.lan\n");
    CRootDir::Set("/");
}
