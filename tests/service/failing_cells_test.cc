// Counters that cannot be read, end to end: a real snmpsvc serving both
// agents over two simulated adapters, one of which loses a statistic and
// then its file while the service runs. Net-SNMP's walkers must still see
// every cell that answers, in both tables, and exit 0; a GET of a cell
// that does not answer gets noSuchInstance (v2c) or noSuchName (v1).
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include "test_root.h"

namespace {

using servicetest::Contains;
using servicetest::ParseBindings;
using servicetest::ReadFile;
using servicetest::TestRoot;
using servicetest::WriteFile;
using testproc::Result;

using Bindings = std::vector<std::pair<std::string, std::string>>;
using Cell = std::pair<unsigned, unsigned>;  // (column, row) of dot3StatsTable

const std::string Dot3Entry = ".1.3.6.1.2.1.10.7.2.1";
const std::string HrDeviceEntry = ".1.3.6.1.2.1.25.3.2.1";
const std::string NoSuchInstance = "No Such Instance currently exists at this OID";

const std::vector<std::string> V1 = {"-v1", "-c", "public"};
const std::vector<std::string> V2 = {"-v2c", "-c", "public"};

std::string Obj(const std::string &entry, unsigned column, unsigned row) {
    return entry + "." + std::to_string(column) + "." + std::to_string(row);
}

// Both tables for adapters Vxlnk1 (statistics 1000 + column) and Vxpci2
// (2000 + column), in name order, without the dot3StatsTable cells that
// fail.
Bindings ObjectsBut(const std::vector<Cell> &failing) {
    Bindings objects;
    for (unsigned column : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 13u, 16u}) {
        for (unsigned row = 1; row <= 2; ++row) {
            if (std::find(failing.begin(), failing.end(), Cell(column, row)) != failing.end()) {
                continue;
            }
            objects.emplace_back(Obj(Dot3Entry, column, row),
                                 column == 1 ? "INTEGER: " + std::to_string(row)
                                 : column == 13
                                     ? "Counter32: 0"
                                     : "Counter32: " + std::to_string(1000 * row + column));
        }
    }
    const std::string values[6] = {"",
                                   "OID: .1.3.6.1.2.1.25.3.1.4",
                                   "STRING: \"Veltrix LinkSpring Turbo PCI 10 Adapter\"",
                                   "OID: .1.3.6.1.4.1.32473.2.15.19.7",
                                   "INTEGER: 1",
                                   "Counter32: 0"};
    for (unsigned column = 1; column <= 6; ++column) {
        for (unsigned row = 1; row <= 2; ++row) {
            objects.emplace_back(
                Obj(HrDeviceEntry, column, row),
                column == 1 ? "INTEGER: " + std::to_string(row) : values[column - 1]);
        }
    }
    return objects;
}

class FailingCellsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(root_.Make(), "");
        ASSERT_EQ(root_.RegisterBothAgents(), "");
        root_.AddAdapter("Vxlnk1", 1000);
        root_.AddAdapter("Vxpci2", 2000);
        const Result start = root_.Net({"START", "SNMP"});
        ASSERT_EQ(start.status, 0) << start.out << start.err << root_.Log();
    }

    // Drops the line of one statistic from an adapter's file.
    void DropStatistic(const std::string &adapter, const std::string &statistic) {
        const std::string path = root_.root() + "/Device/" + adapter;
        std::string text = ReadFile(path);
        const size_t at = text.find(statistic + " ");
        ASSERT_NE(at, std::string::npos) << text;
        text.erase(at, text.find('\n', at) + 1 - at);
        ASSERT_TRUE(WriteFile(path, text));
    }

    TestRoot root_;
};

TEST_F(FailingCellsTest, WalksShowEveryCellThatAnswersAndGetsOfTheOthersFail) {
    // With Vxlnk1 gone, every counter of row 1 fails; its index and
    // dot3StatsFrameTooLongs need no driver.
    const std::vector<Cell> noFirstRow = {{2, 1}, {3, 1},  {4, 1},  {5, 1},  {6, 1}, {7, 1}, {8, 1},
                                          {9, 1}, {10, 1}, {11, 1}, {16, 1}, {3, 2}, {16, 2}};
    struct Step {
        const char *what;
        std::function<void()> change;
        std::vector<Cell> failing;  // after the change
    };
    const Step steps[] = {
        {"Vxpci2 loses its FCS errors", [&] { DropStatistic("Vxpci2", "0x0002020D"); }, {{3, 2}}},
        {"Vxpci2 loses its last counter too",
         [&] { DropStatistic("Vxpci2", "0x01020203"); },
         {{3, 2}, {16, 2}}},
        {"Vxlnk1's file is removed",
         [&] { ASSERT_EQ(unlink((root_.root() + "/Device/Vxlnk1").c_str()), 0); }, noFirstRow},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const Bindings expected = ObjectsBut(step.failing);
        struct Walk {
            const char *tool;
            std::vector<std::string> options;
        };
        const Walk walks[] = {{"snmpwalk", V1}, {"snmpwalk", V2}, {"snmpbulkwalk", V2}};
        for (const Walk &walk : walks) {
            SCOPED_TRACE(std::string(walk.tool) + " " + walk.options[0]);
            const Result result = root_.Client(walk.tool, walk.options, {".1"});
            EXPECT_EQ(result.status, 0) << result.err;
            // The walk also crosses the system, SNMP and engine groups;
            // what matters is that it goes on through both tables.
            Bindings got;
            for (const auto &binding : ParseBindings(result.out)) {
                for (const std::string &table : {Dot3Entry, HrDeviceEntry}) {
                    if (binding.first.compare(0, table.size() + 1, table + ".") == 0) {
                        got.push_back(binding);
                    }
                }
            }
            EXPECT_EQ(got, expected) << result.out << result.err;
        }
        for (const Cell &cell : step.failing) {
            const std::string name = Obj(Dot3Entry, cell.first, cell.second);
            SCOPED_TRACE(name);
            const Result v2 = root_.Client("snmpget", V2, {name});
            EXPECT_EQ(ParseBindings(v2.out), Bindings({{name, NoSuchInstance}})) << v2.err;
            const Result v1 = root_.Client("snmpget", V1, {name});
            EXPECT_NE(v1.status, 0);
            EXPECT_TRUE(Contains(v1.out + v1.err, "noSuchName")) << v1.out << v1.err;
        }
    }
}

}  // namespace
