// The network-device rows of the host device table.
#include <cstring>

#include "agent_fixture.h"

namespace {

using HostdevTest = AgentTest;

TEST_F(HostdevTest, EveryColumnOfEveryRow) {
    InitWithAdapters(2);
    for (UINT row : {1u, 2u}) {
        Request request({Name({1, row}), Name({2, row}), Name({3, row}), Name({4, row}),
                         Name({5, row}), Name({6, row})});
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
        ASSERT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
        const AsnAny *values[6];
        for (size_t i = 0; i < 6; ++i) {
            values[i] = &request.list[i].value;
        }
        EXPECT_EQ(values[0]->asnType, ASN_INTEGER);
        EXPECT_EQ(values[0]->asnValue.number, static_cast<AsnInteger>(row));

        EXPECT_EQ(values[1]->asnType, ASN_OBJECTIDENTIFIER);
        const AsnObjectIdentifier &type = values[1]->asnValue.object;
        EXPECT_EQ(Arcs(type.ids, type.ids + type.idLength), (Arcs{1, 3, 6, 1, 2, 1, 25, 3, 1, 4}));

        EXPECT_EQ(values[2]->asnType, ASN_OCTETSTRING);
        const AsnOctetString &text = values[2]->asnValue.string;
        ASSERT_EQ(text.length, 39u);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(text.stream), text.length),
                  "Veltrix LinkSpring Turbo PCI 10 Adapter");
        EXPECT_FALSE(text.dynamic);

        EXPECT_EQ(values[3]->asnType, ASN_OBJECTIDENTIFIER);
        const AsnObjectIdentifier &product = values[3]->asnValue.object;
        EXPECT_EQ(Arcs(product.ids, product.ids + product.idLength),
                  (Arcs{1, 3, 6, 1, 4, 1, 32473, 2, 15, 19, 7}));

        EXPECT_EQ(values[4]->asnType, ASN_INTEGER);
        EXPECT_EQ(values[4]->asnValue.number, 1);
        EXPECT_EQ(values[5]->asnType, ASN_RFC1155_COUNTER);
        EXPECT_EQ(values[5]->asnValue.counter, 0u);
    }
    EXPECT_TRUE(fake::P().ioctls.empty()) << "the host device agent never asks a driver";
    EXPECT_TRUE(fake::P().liveGlobalBlocks.empty()) << "values refer to constant data";
}

TEST_F(HostdevTest, CellsThatDoNotExist) {
    InitWithAdapters(2);
    const std::pair<UINT, UINT> cells[] = {{0, 1}, {7, 1}, {1, 0}, {1, 3}, {6, 3}};
    for (const auto &cell : cells) {
        Request request({Name({cell.first, cell.second})});
        request.list[0].value.asnType = 0x77;
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
        EXPECT_EQ(request.list[0].value.asnType, 0x77);
    }
}

TEST_F(HostdevTest, Walks) {
    for (int adapters : {1, 2}) {
        SetUp();
        InitWithAdapters(adapters);
        std::vector<std::pair<UINT, UINT>> expected;
        for (UINT column = 1; column <= 6; ++column) {
            for (UINT row = 1; row <= static_cast<UINT>(adapters); ++row) {
                expected.emplace_back(column, row);
            }
        }
        EXPECT_EQ(Walk(Name({})), expected);
    }
}

TEST_F(HostdevTest, InitWithoutAdaptersListsNoColumn) {
    HANDLE trap;
    AsnObjectIdentifier view;
    EXPECT_FALSE(SnmpExtensionInit(0, &trap, &view));
    EXPECT_EQ(ColumnList, nullptr);
}

}  // namespace
