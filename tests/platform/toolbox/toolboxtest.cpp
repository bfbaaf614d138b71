#include "platform/toolbox/toolbox.h"

#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TestSupport::CLogCapture;

TEST(ToolboxValidateDomain, AcceptsHostNamesAndAddressLiterals)
{
    for (const std::string name :
         {"pool.ntp.org", "ntp1", "a", "0.de.pool.ntp.org", "time-a.example.com", "EXAMPLE.com.",
          "xn--bcher-kva.example", "192.168.1.10", "0.0.0.0", "::1", "fe80::2", "2001:db8::1:0:0:1",
          "::ffff:10.0.0.1"}) {
        EXPECT_TRUE(Toolbox::ValidateDomain(name)) << name;
    }
}

TEST(ToolboxValidateDomain, EnforcesLabelAndNameLengths)
{
    const std::string label63(63, 'a');
    EXPECT_TRUE(Toolbox::ValidateDomain(label63 + ".com"));
    EXPECT_FALSE(Toolbox::ValidateDomain(std::string(64, 'a') + ".com"));

    // 4 labels of 63 characters and 3 dots = 255 characters; cut to 253.
    std::string name = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    ASSERT_EQ(name.size(), 253u);
    EXPECT_TRUE(Toolbox::ValidateDomain(name));
    EXPECT_TRUE(Toolbox::ValidateDomain(name + ".")); // the trailing dot is not counted
    EXPECT_FALSE(Toolbox::ValidateDomain(name + "b"));
}

TEST(ToolboxValidateDomain, RejectsMalformedNames)
{
    for (const std::string name :
         {"", ".", "..", "example..com", ".example.com", "example.com..", "-example.com",
          "example-.com", "exa_mple.com", "192.168.1.300", "10.1", "123", "1.2.3.4.5", "fe80::1%eth0",
          "[::1]", "example.com:123", "ex\xc3\xa4mple.com"}) {
        EXPECT_FALSE(Toolbox::ValidateDomain(name)) << name;
    }
}

TEST(ToolboxValidateDomain, RejectsShellAndControlCharacters)
{
    for (const std::string name :
         {"pool.ntp.org; reboot", "pool.ntp.org reboot", "$(reboot)", "`id`.example.com", "a|b", "a&b",
          "a>b", "a\"b", "a'b", "a\\b", "a*b", "pool.ntp.org\n", "pool\tntp.org", " pool.ntp.org"}) {
        EXPECT_FALSE(Toolbox::ValidateDomain(name)) << name;
    }
    EXPECT_FALSE(Toolbox::ValidateDomain(std::string("pool.ntp.org\0; reboot", 21)));
    EXPECT_FALSE(Toolbox::ValidateDomain(std::string("::1\0x", 5)));
}

TEST(ToolboxValidateWlanSsid, LengthAndForbiddenBytes)
{
    EXPECT_TRUE(Toolbox::ValidateWlanSsid("S"));
    EXPECT_TRUE(Toolbox::ValidateWlanSsid(std::string(32, 'x')));
    EXPECT_TRUE(Toolbox::ValidateWlanSsid("My \"home\" net; $(x)")); // any other byte is allowed
    EXPECT_TRUE(Toolbox::ValidateWlanSsid("Caf\xc3\xa9 \xe2\x98\x95"));

    EXPECT_FALSE(Toolbox::ValidateWlanSsid(""));
    EXPECT_FALSE(Toolbox::ValidateWlanSsid(std::string(33, 'x')));
    // 31 characters plus a two-byte character is 33 bytes.
    EXPECT_FALSE(Toolbox::ValidateWlanSsid(std::string(31, 'x') + "\xc3\xa9"));
    EXPECT_FALSE(Toolbox::ValidateWlanSsid(std::string("ab\0cd", 5)));
    EXPECT_FALSE(Toolbox::ValidateWlanSsid("line\nnext"));
    EXPECT_FALSE(Toolbox::ValidateWlanSsid("line\r"));
}

TEST(ToolboxValidateWlanPassword, PassphraseAndRawKey)
{
    EXPECT_TRUE(Toolbox::ValidateWlanPassword("12345678"));
    EXPECT_TRUE(Toolbox::ValidateWlanPassword(std::string(63, '~')));
    EXPECT_TRUE(Toolbox::ValidateWlanPassword(" !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"));
    EXPECT_TRUE(Toolbox::ValidateWlanPassword(std::string(64, 'a')));
    EXPECT_TRUE(Toolbox::ValidateWlanPassword("0123456789abcdefABCDEF0123456789abcdefABCDEF0123456789abcdef0123"));

    EXPECT_FALSE(Toolbox::ValidateWlanPassword(""));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword("1234567"));
    // 64 characters that are not all hexadecimal are neither form.
    EXPECT_FALSE(Toolbox::ValidateWlanPassword(std::string(63, 'a') + "g"));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword(std::string(65, 'a')));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword("password\n"));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword("pass\tword"));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword(std::string("pass\0word", 9)));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword("passw\xc3\xb6rd"));
    EXPECT_FALSE(Toolbox::ValidateWlanPassword("password\x7f"));
}

TEST(ToolboxResolveHost, LiteralsAndFailures)
{
    EXPECT_NE(Toolbox::ResolveHost("127.0.0.1", false), 0);
    EXPECT_NE(Toolbox::ResolveHost("::1", false), 0);
    EXPECT_NE(Toolbox::ResolveHost("localhost", false), 0);

    CLogCapture log;
    // The .invalid top-level domain never resolves.
    EXPECT_EQ(Toolbox::ResolveHost("no-such-host.invalid", false), 0);
    EXPECT_TRUE(log.ContainsSubstring("Cannot resolve host 'no-such-host.invalid'"));

    log.Clear();
    EXPECT_EQ(Toolbox::ResolveHost("no-such-host.invalid", true), 0);
    EXPECT_EQ(Toolbox::ResolveHost("", true), 0);
    EXPECT_TRUE(log.Texts(Log::error).empty());
}

} // namespace
