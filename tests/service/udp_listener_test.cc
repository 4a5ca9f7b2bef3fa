// The service's UDP listener as a manager sees it: on a wildcard address,
// each response leaves from the address its request was sent to (a
// manager that checks the source would drop any other), for each of two
// loopback addresses in turn.
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_root.h"

namespace {

using servicetest::ReadFile;
using servicetest::TestRoot;

// An SNMPv2c GET of sysUpTime.0 for the community "public", request id 1.
const unsigned char Request[] = {
    0x30, 0x29, 0x02, 0x01, 0x01, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xA0, 0x1C,
    0x02, 0x04, 0x00, 0x00, 0x00, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30,
    0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x05, 0x00,
};
constexpr size_t PduTagAt = 13;

// Sends the request to to:port from a socket of its own; the response's
// source address in *from. False when none came within two seconds.
bool Ask(const std::string &to, int port, std::string *from, unsigned char *pduTag) {
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        return false;
    }
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, to.c_str(), &address.sin_addr);
    bool answered = false;
    for (int attempt = 0; attempt < 10 && !answered; ++attempt) {
        sendto(sock, Request, sizeof Request, 0, reinterpret_cast<struct sockaddr *>(&address),
               sizeof address);
        struct pollfd ready = {sock, POLLIN, 0};
        if (poll(&ready, 1, 200) != 1) {
            continue;
        }
        unsigned char response[2048];
        struct sockaddr_in source = {};
        socklen_t length = sizeof source;
        const ssize_t got = recvfrom(sock, response, sizeof response, 0,
                                     reinterpret_cast<struct sockaddr *>(&source), &length);
        if (got > static_cast<ssize_t>(PduTagAt)) {
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
            *from = text;
            *pduTag = response[PduTagAt];
            answered = true;
        }
    }
    close(sock);
    return answered;
}

TEST(UdpListener, AnswersFromTheAddressEachRequestWasSentTo) {
    TestRoot root;
    ASSERT_EQ(root.Make("rocommunity public 127.0.0.0/8"), "");
    const std::string log = root.folder() + "/service.log";
    const pid_t pid =
        testproc::Spawn({servicetest::BinDir + "/snmpsvc", "--root", root.root(), "run", "--listen",
                         "udp:0.0.0.0:" + std::to_string(root.port())},
                        root.Env(), log);
    ASSERT_GT(pid, 0);
    for (const std::string to : {"127.0.0.1", "127.0.0.2", "127.0.0.1"}) {
        SCOPED_TRACE(to);
        std::string from;
        unsigned char tag = 0;
        ASSERT_TRUE(testproc::Eventually([&] { return Ask(to, root.port(), &from, &tag); },
                                         std::chrono::seconds(20)))
            << ReadFile(log);
        EXPECT_EQ(from, to);
        EXPECT_EQ(tag, 0xA2);  // a response
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(testproc::WaitFor(pid, std::chrono::seconds(10)), 0) << ReadFile(log);
}

}  // namespace
