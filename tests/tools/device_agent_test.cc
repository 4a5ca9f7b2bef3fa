// End to end: adapters made by `ntroot device sim` and `link` are what the
// built ETHSTAT.DLL serves, loaded into this process as the SNMP service
// loads it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "extension_agent.h"
#include "ntroot.h"

namespace {

namespace fs = std::filesystem;
using snmphost::Binding;
using snmphost::ExtensionAgent;
using snmphost::Oid;

const Oid kEthstatView = {1, 3, 6, 1, 2, 1, 10, 7, 2, 1};

int Ntroot(const std::vector<std::string> &args) {
    std::ostringstream out, err;
    const int code = ntroot::Run(args, out, err);
    EXPECT_EQ(code, 0) << err.str();
    return code;
}

TEST(DeviceAgent, TheBuiltAgentServesWhatSimAndLinkMade) {
    std::string pattern = (fs::temp_directory_path() / "ntroot-agent-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern, root = dir + "/root", net = dir + "/net";
    setenv("NTROOT", root.c_str(), 1);

    // An interface of the sysfs shape, full duplex: the collision-type
    // counters read 0 whatever its files hold.
    fs::create_directories(net + "/eth0/statistics");
    std::ofstream(net + "/eth0/duplex") << "full\n";
    const std::map<std::string, std::string> files = {
        {"rx_frame_errors", "11\n"},     {"rx_crc_errors", "12\n"},
        {"tx_heartbeat_errors", "13\n"}, {"tx_window_errors", "14\n"},
        {"tx_aborted_errors", "15\n"},   {"tx_fifo_errors", "16\n"},
        {"tx_carrier_errors", "17\n"},   {"rx_fifo_errors", "18\n"}};
    for (const auto &file : files) {
        std::ofstream(net + "/eth0/statistics/" + file.first) << file.second;
    }
    ASSERT_EQ(Ntroot({"init"}), 0);
    ASSERT_EQ(
        Ntroot({"device", "sim", "Vxlnk2", "fcs=5", "alignment=4294967297", "mac-receive=0x10"}),
        0);
    ASSERT_EQ(Ntroot({"device", "link", "Vxpci_4", "eth0", "--net-dir", net}), 0);

    // A copy of the library of our own, so its state is this test's alone.
    fs::copy_file(AGENT_DIR "/ETHSTAT.DLL", dir + "/ETHSTAT.DLL");
    std::string error;
    auto agent = ExtensionAgent::Load(dir + "/ETHSTAT.DLL", &error);
    ASSERT_NE(agent, nullptr) << error;
    ASSERT_TRUE(agent->Init());
    ASSERT_EQ(agent->view(), kEthstatView);

    // The whole table, column by column: 13 columns of 2 rows.
    std::map<std::pair<uint32_t, uint32_t>, int64_t> cells;
    Oid end = kEthstatView;
    ++end.back();
    Binding binding{kEthstatView, {}};
    for (int i = 0; i < 100; ++i) {
        const auto result = agent->QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding);
        ASSERT_EQ(result.errorStatus, SNMP_ERRORSTATUS_NOERROR);
        if (binding.name == end) {
            break;
        }
        ASSERT_EQ(binding.name.size(), 12u);
        cells[{binding.name[10], binding.name[11]}] = binding.value.number;
    }
    const std::map<uint32_t, std::pair<int64_t, int64_t>> expected = {
        // column: {row 1 = Vxlnk2, the simulated adapter; row 2 = Vxpci_4, eth0}
        {1, {1, 2}},  {2, {1, 11}}, {3, {5, 12}},   {4, {0, 0}}, {5, {0, 0}},
        {6, {0, 0}},  {7, {0, 0}},  {8, {0, 0}},    {9, {0, 0}}, {10, {0, 16}},
        {11, {0, 0}}, {13, {0, 0}}, {16, {16, 18}},
    };
    ASSERT_EQ(cells.size(), 26u);
    for (const auto &column : expected) {
        SCOPED_TRACE("column " + std::to_string(column.first));
        EXPECT_EQ((cells[{column.first, 1}]), column.second.first);
        EXPECT_EQ((cells[{column.first, 2}]), column.second.second);
    }

    // A counter changed with sim is served at the next query.
    ASSERT_EQ(Ntroot({"device", "sim", "Vxlnk2", "fcs=6"}), 0);
    Binding fcs{{1, 3, 6, 1, 2, 1, 10, 7, 2, 1, 3, 1}, {}};
    ASSERT_EQ(agent->QueryOne(ASN_RFC1157_GETREQUEST, &fcs).errorStatus, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(fcs.value.type, ASN_RFC1155_COUNTER);
    EXPECT_EQ(fcs.value.number, 6);

    unsetenv("NTROOT");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
