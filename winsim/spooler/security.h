// Printer security descriptors: the self-relative binary form the spooler
// hands out and takes back, and the access check of OpenPrinter.
#pragma once

#include "winsim/spooler/state.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace winsim::spool {

// The descriptor NT gives a new printer: administrators, power users and
// the system manage it, everyone may print.
PrinterSecurity defaultPrinterSecurity();

// Self-relative SECURITY_DESCRIPTOR: header, DACL, owner, group.
std::vector<std::uint8_t> encodeSecurity(const PrinterSecurity& s);
// Reads a self-relative descriptor; nullopt when it is not a valid one.
// `current` supplies the owner or group the descriptor leaves out.
std::optional<PrinterSecurity> decodeSecurity(const void* sd, const PrinterSecurity& current);

// "S-1-5-32-544" <-> binary SID; empty / nullopt when malformed.
std::vector<std::uint8_t> sidBytes(const std::string& text);
std::optional<std::string> sidText(const std::uint8_t* p, std::size_t avail);

// Maps the generic rights of a printer request onto printer rights.
ACCESS_MASK mapPrinterAccess(ACCESS_MASK desired);
// Checks a (mapped) request against the descriptor for the caller's SIDs.
// Returns the rights granted, or nullopt when access is denied.
std::optional<ACCESS_MASK> checkPrinterAccess(const PrinterSecurity& s, const std::vector<std::string>& callerSids,
                                              ACCESS_MASK desired);

// A readable name for well-known SIDs ("Administrators"), else the SID.
std::string sidName(const std::string& sid);

}  // namespace winsim::spool
