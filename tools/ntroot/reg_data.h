// Registry values as NT's reg shows and takes them: type names, the text
// of /d turned into a value's bytes, and a value's bytes turned into text.
#ifndef TOOLS_NTROOT_REG_DATA_H
#define TOOLS_NTROOT_REG_DATA_H

#include <string>

#include "nt/wintypes.h"

namespace ntroot {

// The type named name (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,
// REG_QWORD, REG_BINARY, REG_NONE; any case); false for any other name.
bool ParseTypeName(const std::string &name, DWORD *type);

// The name reg shows for type: the names above and NT's other types; an
// unknown type as "REG_0x<hex>".
std::string TypeName(DWORD type);

// The bytes stored for /d text of the given type, as reg stores them:
//   REG_SZ, REG_EXPAND_SZ   the text and its NUL
//   REG_MULTI_SZ            the strings separated by the two characters
//                           \0 in text, each with its NUL, and one NUL more
//   REG_DWORD, REG_QWORD    a number, decimal or 0x hexadecimal, little-endian
//   REG_BINARY, REG_NONE    pairs of hexadecimal digits
// False with *error (one sentence) when text does not fit the type.
bool EncodeData(DWORD type, const std::string &text, std::string *bytes, std::string *error);

// A value's bytes as reg shows them: strings up to their NUL, REG_MULTI_SZ
// joined with \0, numbers as 0x hexadecimal, everything else (and a number
// of the wrong size) as hexadecimal bytes in capitals.
std::string FormatData(DWORD type, const std::string &bytes);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_REG_DATA_H
