// Net-SNMP's system, SNMP and engine groups; see system_mibs.h.
#include "system_mibs.h"

#include <fstream>
#include <sstream>
#include <string>
#include <strings.h>
#include <syslog.h>

#include "snmp_engine.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

// The modules' entry points in libnetsnmpmibs; Debian ships no header for
// them.
extern "C" {
void init_system_mib(void);
void init_sysORTable(void);
void init_snmp_mib(void);
void init_setSerialNo(void);
void init_snmpEngine(void);
void init_snmpMPDStats(void);
void init_usmStats(void);
}

namespace snmpsvc {

namespace {

const char *const SystemTokens[] = {"syscontact", "syslocation", "sysname",
                                    "sysdescr",   "sysobjectid", "sysservices"};
const char *const AccessTokens[] = {"createUser",  "rouser",       "rwuser",       "rocommunity",
                                    "rwcommunity", "rocommunity6", "rwcommunity6", "com2sec",
                                    "com2sec6",    "group",        "access",       "view",
                                    "authuser",    "authcommunity"};
// What the master-role modules keep in the persistent file.
const char *const PersistentTokens[] = {"setserialno", "psyscontact", "psyslocation", "psysname"};

bool g_toldSystem = false;
bool g_toldAccess = false;

void OnSystemLine(const char *token, char * /*value*/) {
    if (!g_toldSystem) {
        g_toldSystem = true;
        LogLine(LOG_INFO, std::string(token) +
                              " and the other system group lines are left unused: as an AgentX "
                              "subagent the service leaves the system group to its master");
    }
}

void OnAccessLine(const char *token, char * /*value*/) {
    if (!g_toldAccess) {
        g_toldAccess = true;
        LogLine(LOG_INFO, std::string(token) +
                              " and the other access lines (SNMPv3 users, communities) are left "
                              "unused: as an AgentX subagent, access is the master's");
    }
}

void OnPersistentLine(const char * /*token*/, char * /*value*/) {}

// Whether the configuration file has a line for token.
bool HasLine(const std::string &configFile, const char *token) {
    std::ifstream file(configFile);
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (strcasecmp(first.c_str(), token) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void StartSystemMibs(const std::string &configFile) {
    init_system_mib();
    init_sysORTable();
    init_snmp_mib();
    init_setSerialNo();
    init_snmpEngine();
    init_snmpMPDStats();
    init_usmStats();
    // The library leaves sysServices out unless it is configured; handed in
    // here, the line would come after the file's and win over it.
    if (!HasLine(configFile, "sysservices")) {
        std::string line = "sysservices " + std::to_string(DefaultSysServices);
        netsnmp_config_remember(&line[0]);  // copied by the library
    }
}

void IgnoreMasterLines() {
    for (const char *token : SystemTokens) {
        register_app_config_handler(token, OnSystemLine, nullptr, nullptr);
    }
    for (const char *token : AccessTokens) {
        register_app_config_handler(token, OnAccessLine, nullptr, nullptr);
    }
    for (const char *token : PersistentTokens) {
        register_app_config_handler(token, OnPersistentLine, nullptr, nullptr);
    }
}

}  // namespace snmpsvc
