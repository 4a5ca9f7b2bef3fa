// One request with Net-SNMP's client library; see snmp_request.h.
#include "snmp_request.h"

#include <cstdlib>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace servicetest {

int GetErrorStatus(int port, const std::vector<std::string> &names, std::string *error) {
    static const bool started = [] {
        setenv("MIBS", "", 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        init_snmp("servicetest");
        return true;
    }();
    (void)started;
    netsnmp_session settings;
    snmp_sess_init(&settings);
    std::string peer = "udp:127.0.0.1:" + std::to_string(port);
    std::string community = "public";
    settings.peername = &peer[0];
    settings.version = SNMP_VERSION_2c;
    settings.community = reinterpret_cast<u_char *>(&community[0]);
    settings.community_len = community.size();
    settings.timeout = 2000000;
    settings.retries = 1;
    netsnmp_session *session = snmp_open(&settings);
    if (session == nullptr) {
        *error = "cannot open a session to " + peer;
        return -1;
    }
    netsnmp_pdu *request = snmp_pdu_create(SNMP_MSG_GET);
    for (const std::string &name : names) {
        oid arcs[MAX_OID_LEN];
        size_t length = MAX_OID_LEN;
        if (read_objid(name.c_str(), arcs, &length) == 0) {
            *error = "bad name " + name;
            snmp_free_pdu(request);
            snmp_close(session);
            return -1;
        }
        snmp_add_null_var(request, arcs, length);
    }
    netsnmp_pdu *response = nullptr;
    const int status = snmp_synch_response(session, request, &response);
    int result = -1;
    if (status == STAT_SUCCESS && response != nullptr) {
        result = static_cast<int>(response->errstat);
    } else {
        *error = status == STAT_TIMEOUT ? "no response" : "request failed";
    }
    if (response != nullptr) {
        snmp_free_pdu(response);
    }
    snmp_close(session);
    return result;
}

}  // namespace servicetest
