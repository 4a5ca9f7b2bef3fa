// Adapter discovery over the fake platform's devices.
#include "agent_fixture.h"

namespace {

using DiscoveryTest = AgentTest;

TEST_F(DiscoveryTest, NothingOpens) {
    EXPECT_EQ(DiscoverAdapters(), 1u);
    EXPECT_EQ(AdapterCount, 0u);
    EXPECT_EQ(ProbePosition, 27u);
    EXPECT_EQ(DeviceNameTable[ProbePosition], nullptr);
    EXPECT_TRUE(fake::P().DefinedAliases().empty());
    EXPECT_EQ(fake::P().opens.size(), 27u);
}

TEST_F(DiscoveryTest, ProbesTheNamesInOrderWithTheCallsNTExpects) {
    DiscoverAdapters();
    const auto &defines = fake::P().defines;
    ASSERT_EQ(defines.size(), 54u);  // define, then remove after the failed open
    for (int position = 1; position <= 27; ++position) {
        const fake::DefineCall &define = defines[2 * (position - 1)];
        const fake::DefineCall &remove = defines[2 * (position - 1) + 1];
        EXPECT_EQ(define.flags, static_cast<DWORD>(DDD_RAW_TARGET_PATH));
        EXPECT_EQ(define.name, "SNMPAdapter1");
        EXPECT_EQ(define.target, DeviceName(position));
        EXPECT_EQ(remove.flags, static_cast<DWORD>(DDD_REMOVE_DEFINITION));
        EXPECT_EQ(remove.name, "SNMPAdapter1");
        EXPECT_EQ(remove.target, "");
    }
    const fake::OpenCall &open = fake::P().opens[0];
    EXPECT_EQ(open.path, "\\\\.\\SNMPAdapter1");
    EXPECT_EQ(open.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(open.share, 0u);
    EXPECT_EQ(open.disposition, static_cast<DWORD>(CREATE_ALWAYS));
    EXPECT_EQ(open.flags, 0u);
    EXPECT_FALSE(open.security);
    EXPECT_FALSE(open.templateFile);
}

TEST_F(DiscoveryTest, OnlyTheLastNameOpens) {
    AddAdapters({27});
    EXPECT_EQ(DiscoverAdapters(), 0u);
    EXPECT_EQ(AdapterCount, 1u);
    EXPECT_STREQ(AdapterTable[0].alias, "SNMPAdapter1");
    EXPECT_EQ(fake::P().openDevices.at(AdapterTable[0].handle), "\\Device\\Vxpci_9");
    EXPECT_EQ(fake::P().DefinedAliases(), std::vector<std::string>{"SNMPAdapter1"});
    EXPECT_EQ(fake::P().aliases["SNMPAdapter1"], std::vector<std::string>{"\\Device\\Vxpci_9"});
}

TEST_F(DiscoveryTest, RowsFollowTheProbeOrder) {
    AddAdapters({14, 2});
    EXPECT_EQ(DiscoverAdapters(), 0u);
    ASSERT_EQ(AdapterCount, 2u);
    EXPECT_EQ(fake::P().openDevices.at(AdapterTable[0].handle), "\\Device\\Vxlnk2");
    EXPECT_EQ(fake::P().openDevices.at(AdapterTable[1].handle), "\\Device\\Vxpci5");
    EXPECT_STREQ(AdapterTable[0].alias, "SNMPAdapter1");
    EXPECT_STREQ(AdapterTable[1].alias, "SNMPAdapter2");
}

TEST_F(DiscoveryTest, AFailedAliasUsesNoSuffix) {
    AddAdapters({3, 4});
    fake::P().devices[DeviceName(3)].defineFails = true;
    EXPECT_EQ(DiscoverAdapters(), 0u);
    ASSERT_EQ(AdapterCount, 1u);
    EXPECT_STREQ(AdapterTable[0].alias, "SNMPAdapter1");
    EXPECT_EQ(fake::P().openDevices.at(AdapterTable[0].handle), "\\Device\\Vxlnk4");
}

TEST_F(DiscoveryTest, SuffixesAdvanceByCharacterCode) {
    AddFirstAdapters(16);
    EXPECT_EQ(DiscoverAdapters(), 0u);
    ASSERT_EQ(AdapterCount, 16u);
    EXPECT_STREQ(AdapterTable[8].alias, "SNMPAdapter9");
    EXPECT_STREQ(AdapterTable[9].alias, "SNMPAdapter:");
    EXPECT_STREQ(AdapterTable[10].alias, "SNMPAdapter;");
    EXPECT_STREQ(AdapterTable[15].alias, "SNMPAdapter@");
    EXPECT_EQ(fake::P().DefinedAliases().size(), 16u);
}

TEST_F(DiscoveryTest, ASeventeenthDeviceIsClosedAndItsAliasRemoved) {
    AddFirstAdapters(27);
    EXPECT_EQ(DiscoverAdapters(), 0u);
    EXPECT_EQ(AdapterCount, 16u);
    ASSERT_EQ(fake::P().closed.size(), 1u);
    EXPECT_EQ(fake::P().openDevices.size(), 16u) << "the seventeenth is not kept open";
    EXPECT_EQ(fake::P().DefinedAliases().size(), 16u);
    EXPECT_EQ(fake::P().aliases.count("SNMPAdapterA"), 1u);
    EXPECT_TRUE(fake::P().aliases["SNMPAdapterA"].empty());
    EXPECT_EQ(fake::P().opens.size(), 17u) << "the probe stops once the table is full";
    EXPECT_EQ(ProbePosition, 27u);
}

TEST_F(DiscoveryTest, ASecondCallChangesNothing) {
    AddAdapters({1, 5});
    ASSERT_EQ(DiscoverAdapters(), 0u);
    const std::string alias = AdapterAlias, path = AdapterPath;
    const HANDLE first = AdapterTable[0].handle;
    const size_t defines = fake::P().defines.size();
    EXPECT_EQ(DiscoverAdapters(), 0u);
    EXPECT_EQ(AdapterCount, 2u);
    EXPECT_EQ(ProbePosition, 27u);
    EXPECT_EQ(AdapterAlias, alias);
    EXPECT_EQ(AdapterPath, path);
    EXPECT_EQ(AdapterTable[0].handle, first);
    EXPECT_EQ(fake::P().defines.size(), defines);
    EXPECT_STREQ(AdapterAlias, "SNMPAdapter3");
    EXPECT_STREQ(AdapterPath, "\\\\.\\SNMPAdapter3");
}

TEST_F(DiscoveryTest, ASecondCallAfterFindingNothingStillFails) {
    EXPECT_EQ(DiscoverAdapters(), 1u);
    AddAdapters({1});
    EXPECT_EQ(DiscoverAdapters(), 1u);
    EXPECT_EQ(AdapterCount, 0u);
}

}  // namespace
