// The built agent libraries, loaded as a host loads them: dlopen into this
// process, a temporary NT root with simulated adapters, and nothing but the
// exported entry points.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "extension_agent.h"
#include "nt/win32.h"

namespace {

using snmphost::Binding;
using snmphost::ExtensionAgent;
using snmphost::Oid;

const Oid EthstatView = {1, 3, 6, 1, 2, 1, 10, 7, 2, 1};
const Oid HostdevView = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1};

Oid Append(Oid oid, std::initializer_list<uint32_t> arcs) {
    oid.insert(oid.end(), arcs);
    return oid;
}

class AgentLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/ntroot-test.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root_ = folder;
        ASSERT_EQ(mkdir((root_ + "/Device").c_str(), 0755), 0);
        setenv("NTROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("NTROOT");
        std::system(("rm -rf '" + root_ + "'").c_str());
    }

    void WriteDevice(const std::string &name, const std::string &text) {
        std::ofstream(root_ + "/Device/" + name) << text;
    }

    // A fresh copy of the library, so that every test starts from the
    // state a library has at load (dlopen of the same file would share it).
    std::unique_ptr<ExtensionAgent> Load(const char *library) {
        const std::string copy = root_ + "/" + library;
        std::system(("cp '" AGENT_DIR "/" + std::string(library) + "' '" + copy + "'").c_str());
        std::string error;
        auto agent = ExtensionAgent::Load(copy, &error);
        EXPECT_NE(agent, nullptr) << error;
        return agent;
    }

    // GETNEXT from the view to the end of the agent's table.
    std::vector<Binding> Walk(ExtensionAgent &agent) {
        std::vector<Binding> objects;
        Oid endOfView = agent.view();
        ++endOfView.back();
        Binding binding{agent.view(), {}};
        for (int i = 0; i < 1000; ++i) {
            const auto result = agent.QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding);
            EXPECT_EQ(result.errorStatus, SNMP_ERRORSTATUS_NOERROR);
            if (binding.name == endOfView) {
                break;
            }
            objects.push_back(binding);
        }
        return objects;
    }

    std::string root_;
};

const char TwoAdapterStatistics[] =
    "# FCS and alignment errors\n"
    "0x0002020D 5\n"
    "0x01020101 0x10   # hexadecimal\n"
    "0x01020102 3\n0x01020103 4\n0x01020205 6\n0x01020201 7\n"
    "0x01020207 8\n0x01020202 9\n0x01020204 10\n0x01020206 11\n"
    "0x01020203 4294967298\n";  // past 32 bits: wraps to 2

TEST_F(AgentLibraryTest, EachLibraryExportsOnlyTheEntryPoints) {
    for (const char *library : {"ETHSTAT.DLL", "HOSTDEV.DLL"}) {
        void *handle =
            dlopen((std::string(AGENT_DIR "/") + library).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        for (const char *symbol :
             {"SnmpExtensionInit", "SnmpExtensionQuery", "SnmpExtensionTrap"}) {
            EXPECT_NE(dlsym(handle, symbol), nullptr) << symbol;
        }
        for (const char *symbol : {"AgentInit", "AgentView", "OidCopy", "AdapterCount",
                                   "ColumnList", "QueryBinding", "DiscoverAdapters"}) {
            EXPECT_EQ(dlsym(handle, symbol), nullptr) << library << " exports " << symbol;
        }
        dlclose(handle);
    }
}

TEST_F(AgentLibraryTest, BothTablesFromTwoSimulatedAdapters) {
    WriteDevice("Vxlnk1", TwoAdapterStatistics);
    WriteDevice("Vxpci_3",
                "0x0002020D 50\n0x01020101 1\n0x01020102 0\n0x01020103 0\n"
                "0x01020205 0\n0x01020201 0\n0x01020207 0\n0x01020202 0\n"
                "0x01020204 0\n0x01020206 0\n0x01020203 0\n");
    auto ethstat = Load("ETHSTAT.DLL");
    auto hostdev = Load("HOSTDEV.DLL");
    ASSERT_TRUE(ethstat && hostdev);
    ASSERT_TRUE(ethstat->Init());
    ASSERT_TRUE(hostdev->Init());
    EXPECT_EQ(ethstat->view(), EthstatView);
    EXPECT_EQ(hostdev->view(), HostdevView);

    const auto statistics = Walk(*ethstat);
    ASSERT_EQ(statistics.size(), 26u);
    const uint32_t firstRow[] = {1, 16, 5, 3, 4, 6, 7, 8, 9, 10, 11, 0, 2};
    const uint32_t columns[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16};
    for (size_t i = 0; i < 13; ++i) {
        const Binding &row1 = statistics[2 * i];
        EXPECT_EQ(row1.name, Append(EthstatView, {columns[i], 1}));
        EXPECT_EQ(row1.value.type, i == 0 ? ASN_INTEGER : ASN_RFC1155_COUNTER);
        EXPECT_EQ(row1.value.number, firstRow[i]) << "column " << columns[i];
        EXPECT_EQ(statistics[2 * i + 1].name, Append(EthstatView, {columns[i], 2}));
    }
    EXPECT_EQ(statistics[5].value.number, 50) << "FCS errors of the second adapter";

    const auto devices = Walk(*hostdev);
    ASSERT_EQ(devices.size(), 12u);
    EXPECT_EQ(devices[4].value.bytes, "Veltrix LinkSpring Turbo PCI 10 Adapter");
    EXPECT_EQ(devices[3].value.object, (Oid{1, 3, 6, 1, 2, 1, 25, 3, 1, 4}));
    EXPECT_EQ(devices[7].value.object, (Oid{1, 3, 6, 1, 4, 1, 32473, 2, 15, 19, 7}));
}

TEST_F(AgentLibraryTest, CountersAreReadAtEveryQuery) {
    WriteDevice("Vxlnk1", "0x0002020D 5\n");
    auto ethstat = Load("ETHSTAT.DLL");
    ASSERT_TRUE(ethstat && ethstat->Init());
    Binding fcs{Append(EthstatView, {3, 1}), {}};
    ASSERT_EQ(ethstat->QueryOne(ASN_RFC1157_GETREQUEST, &fcs).errorStatus, 0);
    EXPECT_EQ(fcs.value.number, 5);
    WriteDevice("Vxlnk1", "0x0002020D 6\n");
    ASSERT_EQ(ethstat->QueryOne(ASN_RFC1157_GETREQUEST, &fcs).errorStatus, 0);
    EXPECT_EQ(fcs.value.number, 6);

    // A statistic the file lists badly fails alone.
    WriteDevice("Vxlnk1", "0x0002020D 7\n0x01020101 seven\n");
    Binding alignment{Append(EthstatView, {2, 1}), {}};
    EXPECT_EQ(ethstat->QueryOne(ASN_RFC1157_GETREQUEST, &alignment).errorStatus,
              SNMP_ERRORSTATUS_NOSUCHNAME);
    ASSERT_EQ(ethstat->QueryOne(ASN_RFC1157_GETREQUEST, &fcs).errorStatus, 0);
    EXPECT_EQ(fcs.value.number, 7);

    // An adapter whose file has gone: a walk passes over its counters and
    // still gives the cells that need no driver.
    unlink((root_ + "/Device/Vxlnk1").c_str());
    const auto left = Walk(*ethstat);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].name, Append(EthstatView, {1, 1}));
    EXPECT_EQ(left[1].name, Append(EthstatView, {13, 1}));
}

TEST_F(AgentLibraryTest, WithoutAdaptersInitialisationFails) {
    // The host learns why from the agent's last-error code.
    auto ethstat = Load("ETHSTAT.DLL");
    ASSERT_TRUE(ethstat);
    std::string why;
    EXPECT_FALSE(ethstat->Init(&why));
    EXPECT_EQ(why, "no adapter found");
    setenv("NTROOT", (root_ + "/missing").c_str(), 1);
    auto hostdev = Load("HOSTDEV.DLL");
    ASSERT_TRUE(hostdev);
    why.clear();
    EXPECT_FALSE(hostdev->Init(&why));
    EXPECT_EQ(why, "no adapter found");
}

TEST_F(AgentLibraryTest, NamesOfAnyLength) {
    WriteDevice("Vxlnk1", TwoAdapterStatistics);
    auto hostdev = Load("HOSTDEV.DLL");
    ASSERT_TRUE(hostdev && hostdev->Init());
    for (size_t length : {0u, 11u, 13u, 128u}) {
        SCOPED_TRACE(length);
        Oid name = Append(HostdevView, {1, 1});
        name.resize(length, 1);
        Binding get{name, {}};
        const auto result = hostdev->QueryOne(ASN_RFC1157_GETREQUEST, &get);
        EXPECT_EQ(result.errorStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
        EXPECT_EQ(result.errorIndex, 1);
        Binding next{name, {}};
        EXPECT_EQ(hostdev->QueryOne(ASN_RFC1157_GETNEXTREQUEST, &next).errorStatus, 0);
        EXPECT_EQ(next.name.size(), 12u);
    }
}

TEST_F(AgentLibraryTest, TheHostReleasesEveryNameItIsHanded) {
    WriteDevice("Vxlnk1", TwoAdapterStatistics);
    auto ethstat = Load("ETHSTAT.DLL");
    ASSERT_TRUE(ethstat && ethstat->Init());
    // Under the sanitizer build LeakSanitizer checks this at exit; here the
    // walk at least runs many times over with the names released.
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(Walk(*ethstat).size(), 13u);
    }
}

}  // namespace
