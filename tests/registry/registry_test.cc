// The registry calls against a real registry.db in a temporary root: the NT
// contracts the system's programs rely on.
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "nt/registry.h"
#include "nt/win32.h"
#include "temp_registry.h"

namespace registry_test {
namespace {

std::string Bytes(const char *text, size_t size) { return std::string(text, size); }

class RegistryTest : public ::testing::Test {
protected:
    Key Create(const std::string &path, REGSAM access = KEY_ALL_ACCESS,
               DWORD *disposition = nullptr) {
        Key key;
        char noClass[] = "";
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, noClass,
                                  REG_OPTION_NON_VOLATILE, access, nullptr, key.out(), disposition),
                  ERROR_SUCCESS)
            << path;
        return key;
    }
    LONG Open(const std::string &path, REGSAM access, Key *key) {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key->out());
    }
    static LONG Set(HKEY key, const char *name, DWORD type, const std::string &bytes) {
        return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                              static_cast<DWORD>(bytes.size()));
    }
    // The value's type and bytes, read with a buffer of its exact size.
    static LONG Get(HKEY key, const char *name, DWORD *type, std::string *bytes) {
        DWORD size = 0;
        LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        bytes->assign(size, '\0');
        rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE *>(&(*bytes)[0]),
                              &size);
        bytes->resize(size);
        return rc;
    }
    static std::vector<std::string> Subkeys(HKEY key) {
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD size = sizeof name;
            const LONG rc =
                RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
                return names;
            }
            names.emplace_back(name, size);
        }
    }
    static std::vector<std::string> ValueNames(HKEY key) {
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD size = sizeof name;
            const LONG rc =
                RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
                return names;
            }
            names.emplace_back(name, size);
        }
    }

    TempRoot root_;
};

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheCaseTheyWereMadeWith) {
    DWORD disposition = 0;
    Key made =
        Create("SOFTWARE\\VeltrixNetworkingCompanyInc\\ETHSTATAgent", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(Set(made.get(), "Pathname", REG_EXPAND_SZ, Bytes("x", 2)), ERROR_SUCCESS);

    for (const char *spelling : {"SOFTWARE\\VeltrixNetworkingCompanyInc\\ETHSTATAgent",
                                 "software\\veltrixnetworkingcompanyinc\\ethstatagent",
                                 "Software\\VELTRIXNETWORKINGCOMPANYINC\\EthStatAgent\\"}) {
        SCOPED_TRACE(spelling);
        Key key;
        ASSERT_EQ(Open(spelling, KEY_READ, &key), ERROR_SUCCESS);
        DWORD type = 0;
        std::string bytes;
        EXPECT_EQ(Get(key.get(), "PATHNAME", &type, &bytes), ERROR_SUCCESS);
        EXPECT_EQ(Get(key.get(), "pathname", &type, &bytes), ERROR_SUCCESS);
    }

    // A second spelling opens the key, and does not rename it or its value.
    Key again =
        Create("software\\VELTRIXNETWORKINGCOMPANYINC\\ethstatagent", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(Set(again.get(), "PATHNAME", REG_EXPAND_SZ, Bytes("y", 2)), ERROR_SUCCESS);
    Key company = Create("SOFTWARE\\VeltrixNetworkingCompanyInc");
    EXPECT_EQ(Subkeys(company.get()), std::vector<std::string>{"ETHSTATAgent"});
    EXPECT_EQ(ValueNames(again.get()), std::vector<std::string>{"Pathname"});
    Key software = Create("SOFTWARE");
    EXPECT_EQ(Subkeys(software.get()), std::vector<std::string>{"VeltrixNetworkingCompanyInc"});
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndExactBytes) {
    struct Case {
        const char *name;
        DWORD type;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"string with its NUL", REG_SZ, Bytes("SOFTWARE\\Veltrix", 17)},
        {"string without a NUL", REG_SZ, Bytes("abc", 3)},
        {"expandable", REG_EXPAND_SZ, Bytes("%SystemRoot%\\System32\\HOSTDEV.DLL", 34)},
        {"empty", REG_SZ, ""},
        {"binary with NULs", REG_BINARY, Bytes("\0\1\0\xff\0", 5)},
        {"dword", REG_DWORD, Bytes("\x78\x56\x34\x12", 4)},
        {"qword", REG_QWORD, Bytes("\1\2\3\4\5\6\7\x80", 8)},
        {"multi", REG_MULTI_SZ, Bytes("a\0bc\0\0", 6)},
        {"a type NT does not name", 0x12345, Bytes("z", 1)},
        {"", REG_SZ, Bytes("default", 8)},
        {"large", REG_BINARY, std::string(300000, '\x5a')},
    };
    Key key = Create("SOFTWARE\\Values");
    for (const Case &c : cases) {
        ASSERT_EQ(Set(key.get(), c.name, c.type, c.bytes), ERROR_SUCCESS) << c.name;
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = 0;
        std::string bytes;
        ASSERT_EQ(Get(key.get(), c.name, &type, &bytes), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(bytes, c.bytes);
    }
    // Enumeration hands back the same, in the order the values were made.
    std::vector<char> name(16384);
    for (DWORD index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(cases[index].name);
        std::string data(400000, '\0');
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        ASSERT_EQ(RegEnumValueA(key.get(), index, name.data(), &nameSize, nullptr, &type,
                                reinterpret_cast<BYTE *>(&data[0]), &dataSize),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::string(name.data(), nameSize), cases[index].name);
        EXPECT_EQ(type, cases[index].type);
        EXPECT_EQ(data.substr(0, dataSize), cases[index].bytes);
    }
    DWORD nameSize = static_cast<DWORD>(name.size());
    EXPECT_EQ(RegEnumValueA(key.get(), static_cast<DWORD>(cases.size()), name.data(), &nameSize,
                            nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, OverwritingAValueReplacesItsTypeAndBytesInPlace) {
    Key key = Create("SOFTWARE\\Over");
    ASSERT_EQ(Set(key.get(), "first", REG_SZ, Bytes("a long first value", 19)), ERROR_SUCCESS);
    ASSERT_EQ(Set(key.get(), "second", REG_SZ, Bytes("b", 2)), ERROR_SUCCESS);
    ASSERT_EQ(Set(key.get(), "FIRST", REG_DWORD, Bytes("\1\0\0\0", 4)), ERROR_SUCCESS);
    DWORD type = 0;
    std::string bytes;
    ASSERT_EQ(Get(key.get(), "first", &type, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(bytes, Bytes("\1\0\0\0", 4));
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::string>{"first", "second"}));
}

TEST_F(RegistryTest, QueryTellsTheSizeAndNeverOverrunsTheBuffer) {
    Key key = Create("SOFTWARE\\Sizes");
    const std::string value =
        Bytes("SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\\CurrentVersion", 65);
    ASSERT_EQ(Set(key.get(), "VeltrixHOSTDEV", REG_SZ, value), ERROR_SUCCESS);
    struct Case {
        const char *what;
        bool withBuffer;
        DWORD bufferSize;
        LONG result;
    };
    const Case cases[] = {
        {"no buffer: the size only", false, 0, ERROR_SUCCESS},
        {"empty buffer", true, 0, ERROR_MORE_DATA},
        {"one byte short (the NUL)", true, 64, ERROR_MORE_DATA},
        {"exact", true, 65, ERROR_SUCCESS},
        {"larger", true, 100, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string buffer(128, '#');
        DWORD size = c.bufferSize;
        DWORD type = 0;
        EXPECT_EQ(
            RegQueryValueExA(key.get(), "VeltrixHOSTDEV", nullptr, &type,
                             c.withBuffer ? reinterpret_cast<BYTE *>(&buffer[0]) : nullptr, &size),
            c.result);
        EXPECT_EQ(size, 65u);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        if (c.result == ERROR_SUCCESS && c.withBuffer) {
            EXPECT_EQ(buffer.substr(0, 65), value);
            EXPECT_EQ(buffer.substr(65), std::string(128 - 65, '#'));
        } else {
            EXPECT_EQ(buffer, std::string(128, '#'));
        }
    }
    // Enumeration answers a short data buffer the same way.
    char name[64];
    DWORD nameSize = sizeof name;
    BYTE data[10];
    DWORD dataSize = sizeof data;
    EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, nullptr, data, &dataSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 65u);
    // So does a name buffer without room for the NUL.
    nameSize = 14;  // strlen("VeltrixHOSTDEV")
    dataSize = 0;
    EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, &dataSize),
              ERROR_MORE_DATA);
    char keyName[4];
    DWORD keyNameSize = sizeof keyName;
    Key software = Create("SOFTWARE");
    EXPECT_EQ(
        RegEnumKeyExA(software.get(), 0, keyName, &keyNameSize, nullptr, nullptr, nullptr, nullptr),
        ERROR_MORE_DATA);

    EXPECT_EQ(RegQueryValueExA(key.get(), "absent", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);  // no unnamed value set
    BYTE one[1];
    EXPECT_EQ(RegQueryValueExA(key.get(), "VeltrixHOSTDEV", nullptr, nullptr, one, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, AHandleDoesOnlyWhatItsAccessAllows) {
    {
        Key setup = Create("SOFTWARE\\Guarded\\Child");
        Key guarded = Create("SOFTWARE\\Guarded");
        ASSERT_EQ(Set(guarded.get(), "value", REG_SZ, Bytes("v", 2)), ERROR_SUCCESS);
    }
    enum Op {
        kQuery,
        kEnumValues,
        kEnumKeys,
        kSet,
        kDeleteValue,
        kCreateNew,
        kCreateExisting,
        kDeleteKey
    };
    struct Case {
        REGSAM access;
        Op op;
        LONG result;
    };
    const Case cases[] = {
        {KEY_READ, kQuery, ERROR_SUCCESS},
        {KEY_READ, kEnumValues, ERROR_SUCCESS},
        {KEY_READ, kEnumKeys, ERROR_SUCCESS},
        {KEY_READ, kSet, ERROR_ACCESS_DENIED},
        {KEY_READ, kDeleteValue, ERROR_ACCESS_DENIED},
        {KEY_READ, kCreateNew, ERROR_ACCESS_DENIED},
        {KEY_READ, kCreateExisting, ERROR_SUCCESS},
        {KEY_READ, kDeleteKey, ERROR_ACCESS_DENIED},
        {KEY_WRITE, kQuery, ERROR_ACCESS_DENIED},
        {KEY_WRITE, kEnumKeys, ERROR_ACCESS_DENIED},
        {KEY_WRITE, kSet, ERROR_SUCCESS},
        {KEY_WRITE, kCreateNew, ERROR_SUCCESS},
        {KEY_WRITE, kDeleteKey, ERROR_SUCCESS},
        {KEY_SET_VALUE, kCreateNew, ERROR_ACCESS_DENIED},
        {KEY_CREATE_SUB_KEY, kSet, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE, kEnumKeys, ERROR_ACCESS_DENIED},
        {GENERIC_READ, kQuery, ERROR_SUCCESS},
        {GENERIC_READ, kSet, ERROR_ACCESS_DENIED},
        {KEY_ALL_ACCESS, kSet, ERROR_SUCCESS},
        {KEY_ALL_ACCESS, kDeleteValue, ERROR_SUCCESS},
        {KEY_ALL_ACCESS, kDeleteKey, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("access " + std::to_string(c.access) + ", operation " + std::to_string(c.op));
        {
            // Every case starts from the same key, whatever the last one did.
            Key reset = Create("SOFTWARE\\Guarded\\Child");
            Key guarded = Create("SOFTWARE\\Guarded");
            ASSERT_EQ(Set(guarded.get(), "value", REG_SZ, Bytes("v", 2)), ERROR_SUCCESS);
            RegDeleteTreeA(guarded.get(), "New");
        }
        Key key;
        ASSERT_EQ(Open("SOFTWARE\\Guarded", c.access, &key), ERROR_SUCCESS);
        char name[256];
        DWORD size = sizeof name;
        char noClass[] = "";
        Key sub;
        LONG rc = -1;
        switch (c.op) {
            case kQuery:
                rc = RegQueryValueExA(key.get(), "value", nullptr, nullptr, nullptr, &size);
                break;
            case kEnumValues:
                rc = RegEnumValueA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
                break;
            case kEnumKeys:
                rc = RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
                break;
            case kSet: rc = Set(key.get(), "value", REG_SZ, Bytes("w", 2)); break;
            case kDeleteValue: rc = RegDeleteValueA(key.get(), "value"); break;
            case kCreateNew:
            case kCreateExisting:
                rc = RegCreateKeyExA(key.get(), c.op == kCreateNew ? "New" : "Child", 0, noClass, 0,
                                     KEY_READ, nullptr, sub.out(), nullptr);
                break;
            case kDeleteKey: rc = RegDeleteKeyA(key.get(), "Child"); break;
        }
        EXPECT_EQ(rc, c.result);
        if (rc == ERROR_ACCESS_DENIED) {
            // Nothing was written.
            Key check = Create("SOFTWARE\\Guarded");
            DWORD type = 0;
            std::string bytes;
            EXPECT_EQ(Get(check.get(), "value", &type, &bytes), ERROR_SUCCESS);
            EXPECT_EQ(bytes, Bytes("v", 2));
            EXPECT_EQ(Subkeys(check.get()), std::vector<std::string>{"Child"});
        }
    }
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndTellsCreatedFromOpened) {
    DWORD disposition = 0;
    Key deep = Create("SOFTWARE\\A\\B\\C\\D", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    for (const char *parent : {"SOFTWARE\\A", "SOFTWARE\\A\\B", "SOFTWARE\\A\\B\\C"}) {
        Key key;
        EXPECT_EQ(Open(parent, KEY_READ, &key), ERROR_SUCCESS) << parent;
    }
    Create("SOFTWARE\\A\\B", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    Create("SOFTWARE\\A\\B\\E", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));

    // Relative to an open key, and the key itself with an empty path.
    Key b;
    ASSERT_EQ(Open("SOFTWARE\\A\\B", KEY_ALL_ACCESS, &b), ERROR_SUCCESS);
    Key same;
    char noClass[] = "";
    ASSERT_EQ(RegCreateKeyExA(b.get(), "", 0, noClass, 0, KEY_ALL_ACCESS, nullptr, same.out(),
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(Set(same.get(), "here", REG_SZ, Bytes("b", 2)), ERROR_SUCCESS);
    DWORD type = 0;
    std::string bytes;
    EXPECT_EQ(Get(b.get(), "here", &type, &bytes), ERROR_SUCCESS);

    Key missing;
    EXPECT_EQ(Open("SOFTWARE\\A\\X\\C", KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.get(), nullptr);
}

TEST_F(RegistryTest, KeyPathsAreCheckedAsNtChecksThem) {
    struct Case {
        std::string path;
        LONG result;
    };
    const std::vector<Case> cases = {
        {"SOFTWARE\\Fine", ERROR_SUCCESS},
        {"SOFTWARE\\Trailing\\", ERROR_SUCCESS},
        {"\\SOFTWARE\\Leading", ERROR_INVALID_PARAMETER},
        {"SOFTWARE\\\\Empty", ERROR_INVALID_PARAMETER},
        {"SOFTWARE\\Two\\\\", ERROR_INVALID_PARAMETER},
        {"SOFTWARE\\" + std::string(255, 'k'), ERROR_SUCCESS},
        {"SOFTWARE\\" + std::string(256, 'k'), ERROR_INVALID_PARAMETER},
    };
    char noClass[] = "";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Key key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, noClass, 0, KEY_ALL_ACCESS,
                                  nullptr, key.out(), nullptr),
                  c.result);
        Key opened;
        EXPECT_EQ(Open(c.path, KEY_READ, &opened), c.result);
    }
    Key trailing;
    ASSERT_EQ(Open("SOFTWARE", KEY_READ, &trailing), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(trailing.get()),
              (std::vector<std::string>{"Fine", std::string(255, 'k'), "Trailing"}));
    Key value = Create("SOFTWARE\\Fine");
    EXPECT_EQ(Set(value.get(), std::string(16383, 'v').c_str(), REG_SZ, ""), ERROR_SUCCESS);
    EXPECT_EQ(Set(value.get(), std::string(16384, 'v').c_str(), REG_SZ, ""),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, SubkeysListSortedInCapitalsAndValuesInTheOrderMade) {
    Key parent = Create("SOFTWARE\\Order");
    for (const char *name : {"beta", "Alpha", "a_b", "AB", "gamma"}) {
        Create(std::string("SOFTWARE\\Order\\") + name);
        ASSERT_EQ(Set(parent.get(), name, REG_SZ, Bytes("", 1)), ERROR_SUCCESS);
    }
    // NT compares names in capitals: "AB" < "ALPHA" < "A_B" ('B' < 'L' < '_').
    EXPECT_EQ(Subkeys(parent.get()),
              (std::vector<std::string>{"AB", "Alpha", "a_b", "beta", "gamma"}));
    EXPECT_EQ(ValueNames(parent.get()),
              (std::vector<std::string>{"beta", "Alpha", "a_b", "AB", "gamma"}));
    ASSERT_EQ(RegDeleteValueA(parent.get(), "ALPHA"), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(parent.get()), (std::vector<std::string>{"beta", "a_b", "AB", "gamma"}));
    EXPECT_EQ(RegDeleteValueA(parent.get(), "alpha"), ERROR_FILE_NOT_FOUND);

    FILETIME written{};
    char name[256];
    DWORD nameSize = sizeof name;
    char keyClass[8] = "junk";
    DWORD classSize = sizeof keyClass;
    ASSERT_EQ(
        RegEnumKeyExA(parent.get(), 0, name, &nameSize, nullptr, keyClass, &classSize, &written),
        ERROR_SUCCESS);
    EXPECT_EQ(classSize, 0u);
    EXPECT_STREQ(keyClass, "");
    // 2020-01-01 in FILETIME units; the key was written after it.
    const uint64_t when = (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
    EXPECT_GT(when, 132223104000000000ull);
}

TEST_F(RegistryTest, DeletingAKeyWithSubkeysNeedsTheTreeCall) {
    Create("SOFTWARE\\Tree\\Branch\\Leaf");
    Key branch = Create("SOFTWARE\\Tree\\Branch");
    ASSERT_EQ(Set(branch.get(), "v", REG_SZ, Bytes("x", 2)), ERROR_SUCCESS);
    Key leaf = Create("SOFTWARE\\Tree\\Branch\\Leaf");
    ASSERT_EQ(Set(leaf.get(), "w", REG_SZ, Bytes("y", 2)), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Nothing"), ERROR_FILE_NOT_FOUND);
    Key still;
    EXPECT_EQ(Open("SOFTWARE\\Tree\\Branch\\Leaf", KEY_READ, &still), ERROR_SUCCESS);

    // With no subkey, the tree call empties the key and keeps it.
    ASSERT_EQ(RegDeleteTreeA(branch.get(), nullptr), ERROR_SUCCESS);
    Key kept;
    ASSERT_EQ(Open("SOFTWARE\\Tree\\Branch", KEY_READ, &kept), ERROR_SUCCESS);
    EXPECT_TRUE(Subkeys(kept.get()).empty());
    EXPECT_TRUE(ValueNames(kept.get()).empty());

    Create("SOFTWARE\\Tree\\Branch\\Again\\Deeper");
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "software\\TREE"), ERROR_SUCCESS);
    Key gone;
    EXPECT_EQ(Open("SOFTWARE\\Tree", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("SOFTWARE\\Tree\\Branch\\Again\\Deeper", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    Key software;
    ASSERT_EQ(Open("SOFTWARE", KEY_READ, &software), ERROR_SUCCESS);
    EXPECT_TRUE(Subkeys(software.get()).empty());

    // A key with no subkeys goes with RegDeleteKeyA; the root never goes.
    Create("SOFTWARE\\Single");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Single"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open("SOFTWARE", KEY_READ, &software), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AHandleWhoseKeyWasDeletedFailsWithKeyDeleted) {
    Key doomed = Create("SOFTWARE\\Doomed");
    ASSERT_EQ(Set(doomed.get(), "v", REG_SZ, Bytes("x", 2)), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed"), ERROR_SUCCESS);
    // A new key of the same name is another key: the old handle stays stale.
    Key reborn = Create("SOFTWARE\\Doomed");
    ASSERT_EQ(Set(reborn.get(), "v", REG_SZ, Bytes("new", 4)), ERROR_SUCCESS);

    char name[64];
    DWORD size = sizeof name;
    DWORD dataSize = 0;
    char noClass[] = "";
    Key sub;
    EXPECT_EQ(RegQueryValueExA(doomed.get(), "v", nullptr, nullptr, nullptr, &dataSize),
              ERROR_KEY_DELETED);
    EXPECT_EQ(Set(doomed.get(), "v", REG_SZ, Bytes("y", 2)), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValueA(doomed.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExA(doomed.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueA(doomed.get(), "v"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExA(doomed.get(), "Sub", 0, noClass, 0, KEY_ALL_ACCESS, nullptr,
                              sub.out(), nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExA(doomed.get(), "", 0, KEY_READ, sub.out()), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(doomed.get(), ""), ERROR_KEY_DELETED);

    DWORD type = 0;
    std::string bytes;
    ASSERT_EQ(Get(reborn.get(), "v", &type, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, Bytes("new", 4));
    EXPECT_EQ(RegCloseKey(doomed.release()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesThatNameNoKeyAreRefused) {
    Key key;
    for (HKEY other : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS,
                       reinterpret_cast<HKEY>(uintptr_t{0x1234})}) {
        EXPECT_EQ(RegOpenKeyExA(other, "Software", 0, KEY_READ, key.out()), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueExA(other, "v", 0, REG_SZ, nullptr, 0), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    ASSERT_EQ(Open("SOFTWARE", KEY_READ, &key), ERROR_SUCCESS);
    HKEY raw = key.release();
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST(RegistryWithoutDatabase, ReadsFindNothingAndWritesFailWithoutMakingAFile) {
    TempRoot root(/*withRegistry=*/false);
    Key key;
    char noClass[] = "";
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.out()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", 0, noClass, 0, KEY_ALL_ACCESS,
                              nullptr, key.out(), nullptr),
              ERROR_CANTOPEN);
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ, nullptr, 0), ERROR_CANTOPEN);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_CANTOPEN);
    struct stat info;
    EXPECT_NE(stat(root.registry().c_str(), &info), 0);
}

TEST(RegistryFile, TheConnectionFollowsTheRoot) {
    TempRoot first;
    Key old;
    char noClass[] = "";
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OnlyInFirst", 0, noClass, 0,
                              KEY_ALL_ACCESS, nullptr, old.out(), nullptr),
              ERROR_SUCCESS);
    {
        TempRoot second;  // now $NTROOT
        Key key;
        EXPECT_EQ(
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OnlyInFirst", 0, KEY_READ, key.out()),
            ERROR_FILE_NOT_FOUND);
        // A handle of the other root's registry names nothing here.
        EXPECT_EQ(RegSetValueExA(old.get(), "v", 0, REG_SZ, nullptr, 0), ERROR_KEY_DELETED);
    }
    // Back in the first root, the handle works again.
    EXPECT_EQ(RegSetValueExA(old.get(), "v", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);

    // A registry file replaced under the process (a new 'ntroot init') is
    // another registry: the old handle is stale, the new file is read.
    ASSERT_EQ(unlink(first.registry().c_str()), 0);
    Key key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.out()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(old.get(), "v", 0, REG_SZ, nullptr, 0), ERROR_KEY_DELETED);
    bool created = false;
    ASSERT_EQ(nt::CreateRegistryDatabase(first.path(), &created), ERROR_SUCCESS);
    EXPECT_TRUE(created);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OnlyInFirst", 0, KEY_READ, key.out()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(old.get(), "v", 0, REG_SZ, nullptr, 0), ERROR_KEY_DELETED);
}

TEST(RegistryFile, ADamagedFileIsReportedAndLeftAlone) {
    enum Damage { kNotADatabase, kBadHeader };
    for (const Damage damage : {kNotADatabase, kBadHeader}) {
        SCOPED_TRACE(damage == kNotADatabase ? "not a database" : "a registry with a bad header");
        TempRoot root(/*withRegistry=*/false);
        if (damage == kNotADatabase) {
            std::ofstream(root.registry(), std::ios::binary) << std::string(8192, 'x');
        } else {
            bool created = false;
            ASSERT_EQ(nt::CreateRegistryDatabase(root.path(), &created), ERROR_SUCCESS);
            std::fstream file(root.registry(), std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(16);  // the page size: 3 is none that SQLite knows
            file.write("\x00\x03", 2);
        }
        struct stat before;
        ASSERT_EQ(stat(root.registry().c_str(), &before), 0);
        Key key;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.out()),
                  ERROR_BADDB);
        char noClass[] = "";
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", 0, noClass, 0, KEY_ALL_ACCESS,
                                  nullptr, key.out(), nullptr),
                  ERROR_BADDB);
        bool created = true;
        EXPECT_EQ(nt::CreateRegistryDatabase(root.path(), &created), ERROR_BADDB);
        EXPECT_FALSE(created);
        struct stat after;
        ASSERT_EQ(stat(root.registry().c_str(), &after), 0);
        EXPECT_EQ(after.st_size, before.st_size);
    }
}

TEST(RegistryFile, CreatingOverAnExistingRegistryKeepsEverything) {
    TempRoot root;
    Key key;
    char noClass[] = "";
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", 0, noClass, 0, KEY_ALL_ACCESS,
                              nullptr, key.out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key.get(), "v", 0, REG_DWORD, reinterpret_cast<const BYTE *>("\7\0\0\0"), 4),
        ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM"), ERROR_SUCCESS);
    bool created = true;
    ASSERT_EQ(nt::CreateRegistryDatabase(root.path(), &created), ERROR_SUCCESS);
    EXPECT_FALSE(created);
    // The handle is still good: the file is the same registry.
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExA(key.get(), "v", nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
    Key system;  // completed again
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, system.out()),
              ERROR_SUCCESS);
}

TEST(ExpandEnvironmentStrings, ExpandsAsNtDoes) {
    TempRoot root(/*withRegistry=*/false);
    ScopedEnv veltrix("VELTRIX_TEST_DIR", "/opt/veltrix");
    const std::string windows = root.path() + "/Windows";
    struct Case {
        std::string source;
        std::string expanded;
    };
    const std::vector<Case> cases = {
        {"%SystemRoot%\\System32\\HOSTDEV.DLL", windows + "\\System32\\HOSTDEV.DLL"},
        {"%SYSTEMROOT%", windows},
        {"%windir%\\x", windows + "\\x"},
        {"%WinDir%", windows},
        {"%VELTRIX_TEST_DIR%\\a", "/opt/veltrix\\a"},
        {"%veltrix_test_dir%", "/opt/veltrix"},
        {"%NO_SUCH_VARIABLE_HERE%\\x", "%NO_SUCH_VARIABLE_HERE%\\x"},
        {"%NO_SUCH_VARIABLE_HERE%windir%", "%NO_SUCH_VARIABLE_HERE%windir%"},
        {"100%", "100%"},
        {"%%", "%%"},
        {"a%%SystemRoot%", "a%%SystemRoot%"},
        {"no references", "no references"},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source);
        const DWORD needed = ExpandEnvironmentStringsA(c.source.c_str(), nullptr, 0);
        EXPECT_EQ(needed, c.expanded.size() + 1);
        std::string buffer(needed, '#');
        EXPECT_EQ(ExpandEnvironmentStringsA(c.source.c_str(), &buffer[0], needed), needed);
        EXPECT_EQ(buffer, c.expanded + std::string(1, '\0'));
        if (needed > 1) {
            // One byte short: the size is told and nothing is written.
            std::string shorter(needed - 1, '#');
            EXPECT_EQ(ExpandEnvironmentStringsA(c.source.c_str(), &shorter[0], needed - 1), needed);
            EXPECT_EQ(shorter, std::string(needed - 1, '#'));
        }
    }
    EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, nullptr, 0), 0u);
}

}  // namespace
}  // namespace registry_test
