// REGEDIT4 registry files: the text format Windows' registry editor imports
// and exports, used for the registry/ folder of a machine image and by
// 'winsim reg export' / 'winsim reg import'.
//
// Accepted input:
//   REGEDIT4                       first line
//   [HKEY_LOCAL_MACHINE\A\B]       create (or select) a key; roots are
//                                  HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
//                                  HKEY_USERS and HKEY_CLASSES_ROOT (stored as
//                                  HKEY_LOCAL_MACHINE\SOFTWARE\Classes)
//   [-HKEY_LOCAL_MACHINE\A\B]      delete a key with its subtree
//   "name"="text"                  REG_SZ; \\ and \" are the only escapes
//   @="text"                       the key's default (unnamed) value
//   "name"=dword:0000002a          REG_DWORD (1 to 8 hex digits)
//   "name"=hex:01,02,ff            REG_BINARY
//   "name"=hex(2):..  hex(7):..    REG_EXPAND_SZ, REG_MULTI_SZ; hex(N): any type
//                                  (N in hex); hex lists continue on the next
//                                  line after a trailing backslash
//   "name"=-                       delete a value
//   ; comment, blank lines         ignored (CR before LF is ignored too)
//
// Output is canonical and byte-stable: LF line ends only; "REGEDIT4", a
// blank line, then every key in enumeration order (the starting key first,
// then its subkeys depth-first in case-insensitive sorted order), each
// heading followed by its values in the order they were first written and
// one blank line. Strings are written as "..." when they are REG_SZ with
// exactly one terminating NUL and no CR/LF; REG_DWORD of four bytes as
// dword:; anything else as hex:/hex(N): in lower-case, wrapped as the
// registry editor wraps them: a line is broken with ",\" once it holds 77
// characters or more before the backslash (so no line exceeds 80), and
// continuation lines are indented by two spaces.
#pragma once

#include "winsim/core/machine.h"
#include "winsim/registry/state.h"

#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// One step of a parsed file, applied in order.
struct RegFileOp {
    enum Kind { Key, DeleteKey, SetValue, DeleteValue } kind = Key;
    std::string path;  // Key, DeleteKey: full key path as written
    std::string name;  // SetValue, DeleteValue ("" = default value)
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Parses REGEDIT4 text completely. Throws ImageError(fileName, line, reason)
// at the first fault; nothing is applied anywhere.
std::vector<RegFileOp> parseRegFile(std::string_view text, const std::string& fileName);
// Applies parsed steps to a registry store (cannot fail).
void applyRegFile(RegistryState& r, const std::vector<RegFileOp>& ops, std::uint64_t now);

// Appends `key` and its subtree as REGEDIT4 sections (no header). Throws
// std::runtime_error for a key or value name holding CR or LF, which the
// format cannot carry (so no unreadable file is ever written).
void appendRegKeyTree(std::string& out, const RegKey& key);

// The REGEDIT4 text of the key at `keyPath` and its subtree (abbreviated
// roots HKLM, HKCU, HKCR, HKU accepted), or of every root when empty.
// Throws std::invalid_argument when the key does not exist, and
// std::runtime_error as appendRegKeyTree does.
std::string exportRegistry(const Machine& m, std::string_view keyPath);
// Parses `text` completely, then applies it to m's registry. Throws
// ImageError naming `fileName` and the line; on error nothing is applied.
void importRegistry(Machine& m, std::string_view text, const std::string& fileName);

}  // namespace winsim
