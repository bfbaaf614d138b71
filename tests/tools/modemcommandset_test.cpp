#include "tools/modemsim/modemcommandset.h"

#include <gtest/gtest.h>

namespace {

TEST(ModemCommandSet, RedactsEverySecretOfACommandLine)
{
    const struct {
        const char* line;
        const char* shown;
    } cases[] = {
        {"AT+CPIN=1234", "AT+CPIN=***"},
        {"at+cpin=\"1234\"", "at+cpin=***"},
        {"AT+CPIN=12345678,4321", "AT+CPIN=***"},
        {"AT+QICSGP=1,1,\"apn\",\"user\",\"pa,s\"s\",1", "AT+QICSGP=***"},
        {"AT+QICSGP=1,1,\"a\",\",\",x\",\"u\",\"pw\",1", "AT+QICSGP=***"},
        {"AT+QICSGP=1,1,\"a,b\",\"u,v\",\"secret\",1", "AT+QICSGP=1,1,\"a,b\",\"u,v\",***"},
        {"AT+QICSGP=1", "AT+QICSGP=1"},
        {"AT+CPIN?", "AT+CPIN?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CModemCommandSet::Redact(c.line), c.shown) << c.line;
    }
}

TEST(ModemCommandSet, RefusesMalformedArguments)
{
    SModemScenario scenario;
    CModemCommandSet modem(scenario);
    modem.PowerOn({});
    for (const char* line : {"AT+QICSGP=1,1,\"open", "AT+QICSGP=1,1,\"a\"x,\"u\",\"p\",0",
                             "AT+QICSGP=1,1,web,\"u\",\"p\",0", "AT+CFUN=2", "AT+CFUN=1x", "AT+QCFG=\"iotopmode\",3",
                             "AT+QCFG=\"band\",0x,0x1,0x1", "AT+QCFG=\"band\",0x3,zz,0x1", "AT+QCFG=\"nwscanseq\",021",
                             "AT+QCFG=\"nwscanseq\",0409", "AT+QCFG=\"unknown\"", "AT+QIACT=2", "AT+CEREG?x", "AT+CPIN",
                             "AT+NOSUCH", "XYZ"}) {
        EXPECT_EQ(modem.Execute(line, {}).final, "ERROR") << line;
    }
}

} // namespace
