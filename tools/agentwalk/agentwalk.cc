// agentwalk: loads extension agent libraries into this process, as the SNMP
// service would, and prints what they serve. A way to see an agent's table
// without a service or a manager.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "extension_agent.h"
#include "nt/adapter_statistics.h"
#include "nt/ntroot.h"

namespace {

using snmphost::Binding;
using snmphost::ExtensionAgent;
using snmphost::Oid;

const char Usage[] =
    "Usage: agentwalk [--root DIR] [--table] LIBRARY...\n"
    "\n"
    "Loads each SNMP extension agent LIBRARY (such as ETHSTAT.DLL or HOSTDEV.DLL)\n"
    "into this process, initialises it against the NT root, and walks its table\n"
    "through its exported entry points.\n"
    "\n"
    "  --root DIR   the NT root (default: $NTROOT, else ~/.ntroot)\n"
    "  --table      print each table as a grid, one line a column, one value a row\n"
    "               (default: one line an object, as snmpwalk prints it)\n"
    "  --help       this text\n"
    "\n"
    "Exit status: 0 when every library loaded and served, 1 otherwise, 2 when\n"
    "the command line was wrong.\n";

// Column names of the tables our agents serve, for the grid.
const std::map<Oid, std::vector<const char *>> ColumnNames = {
    {{1, 3, 6, 1, 2, 1, 10, 7, 2, 1},
     [] {
         // The counters' names come with the statistics behind them.
         std::vector<const char *> names(18, "");
         names[1] = "dot3StatsIndex";
         for (const nt::AdapterStatistic &statistic : nt::kAdapterStatistics) {
             names[statistic.column] = statistic.columnName;
         }
         names[13] = "dot3StatsFrameTooLongs";
         names[17] = "dot3StatsEtherChipSet";
         return names;
     }()},
    {{1, 3, 6, 1, 2, 1, 25, 3, 2, 1},
     {"", "hrDeviceIndex", "hrDeviceType", "hrDeviceDescr", "hrDeviceID", "hrDeviceStatus",
      "hrDeviceErrors"}},
};

std::vector<Binding> Walk(ExtensionAgent &agent) {
    std::vector<Binding> objects;
    const Oid &view = agent.view();
    Binding binding{view, {}};
    for (;;) {
        const auto result = agent.QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding);
        const bool inView = binding.name.size() > view.size() &&
                            std::equal(view.begin(), view.end(), binding.name.begin());
        if (result.errorStatus != SNMP_ERRORSTATUS_NOERROR || !inView ||
            (!objects.empty() && !(objects.back().name < binding.name))) {
            break;
        }
        objects.push_back(binding);
    }
    return objects;
}

std::string Cell(const snmphost::Value &value) {
    std::string text = snmphost::ValueText(value);
    const size_t colon = text.find(": ");
    return colon == std::string::npos ? text : text.substr(colon + 2);
}

void PrintTable(const ExtensionAgent &agent, const std::vector<Binding> &objects) {
    const Oid &view = agent.view();
    std::map<uint32_t, std::map<uint32_t, std::string>> cells;  // column -> row -> text
    std::map<uint32_t, bool> rows;
    for (const Binding &object : objects) {
        if (object.name.size() == view.size() + 2) {
            cells[object.name[view.size()]][object.name[view.size() + 1]] = Cell(object.value);
            rows[object.name[view.size() + 1]] = true;
        }
    }
    auto names = ColumnNames.find(view);
    std::vector<std::string> labels;
    size_t labelWidth = std::string("column").size();
    std::map<uint32_t, size_t> widths;  // row -> width of its cells
    for (const auto &row : rows) {
        widths[row.first] = ("row " + std::to_string(row.first)).size();
    }
    for (const auto &column : cells) {
        std::string label = std::to_string(column.first);
        if (names != ColumnNames.end() && column.first < names->second.size()) {
            label += " " + std::string(names->second[column.first]);
        }
        labelWidth = std::max(labelWidth, label.size());
        labels.push_back(label);
        for (const auto &cell : column.second) {
            widths[cell.first] = std::max(widths[cell.first], cell.second.size());
        }
    }
    std::cout << agent.path() << ": " << snmphost::OidText(view) << ", " << rows.size()
              << (rows.size() == 1 ? " row\n" : " rows\n");
    std::cout << std::left << std::setw(static_cast<int>(labelWidth)) << "column";
    for (const auto &row : rows) {
        std::cout << "  " << std::setw(static_cast<int>(widths[row.first]))
                  << "row " + std::to_string(row.first);
    }
    std::cout << "\n";
    size_t line = 0;
    for (const auto &column : cells) {
        std::cout << std::setw(static_cast<int>(labelWidth)) << labels[line++];
        for (const auto &row : rows) {
            auto cell = column.second.find(row.first);
            std::cout << "  " << std::setw(static_cast<int>(widths[row.first]))
                      << (cell == column.second.end() ? "-" : cell->second);
        }
        std::cout << "\n";
    }
}

}  // namespace

int main(int argc, char **argv) {
    const cli::Args args(argv + 1, argv + argc);
    bool table = false;
    std::vector<std::string> libraries;
    for (size_t i = 0; i < args.size();) {
        std::string error;
        switch (cli::TakeRootOption(args, &i, &error)) {
            case cli::RootOption::Malformed: return cli::UsageError(std::cerr, "agentwalk", error);
            case cli::RootOption::Taken: continue;
            case cli::RootOption::NotThere: break;
        }
        const std::string &arg = args[i++];
        if (cli::IsHelp(arg)) {
            std::cout << Usage;
            return cli::kSuccess;
        }
        if (arg == "--table") {
            table = true;
        } else if (arg == "--") {
            libraries.insert(libraries.end(), args.begin() + static_cast<long>(i), args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return cli::UsageError(std::cerr, "agentwalk", "unknown option " + arg);
        } else {
            libraries.push_back(arg);
        }
    }
    if (libraries.empty()) {
        return cli::UsageError(std::cerr, "agentwalk", "name at least one agent library");
    }
    std::string problem;
    if (!nt::CheckRoot(cli::RootFolder(), true, &problem)) {
        return cli::Failure(std::cerr, "agentwalk", problem);
    }
    int status = 0;
    std::vector<std::unique_ptr<ExtensionAgent>> agents;  // loaded until the end
    for (size_t i = 0; i < libraries.size(); ++i) {
        const char *library = libraries[i].c_str();
        std::string error;
        auto agent = ExtensionAgent::Load(library, &error);
        if (agent == nullptr) {
            std::cerr << "agentwalk: " << error << "\n";
            status = 1;
            continue;
        }
        if (!agent->Init(&error)) {
            std::cerr << "agentwalk: " << library << ": " << error << "\n";
            status = 1;
            continue;
        }
        const auto objects = Walk(*agent);
        if (table) {
            PrintTable(*agent, objects);
        } else {
            for (const Binding &object : objects) {
                std::cout << snmphost::OidText(object.name) << " = "
                          << snmphost::ValueText(object.value) << "\n";
            }
        }
        if (i + 1 < libraries.size()) {
            std::cout << "\n";
        }
        agents.push_back(std::move(agent));
    }
    return status;
}
