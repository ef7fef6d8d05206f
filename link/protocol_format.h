#pragma once
// Pure helpers of the device link: the texts the tool sends to the unit and the readings it
// takes from the unit's replies. None of them reads outside the zero-terminated text it is given.

#include <cstdint>
#include <string>
#include <string_view>

// "PORT a,b,c,d,p1,p2\r\n": the four bytes of an address given in network byte order, in dotted
// order, then the port (host order) divided by 256 and modulo 256, all without leading zeros.
std::string FormatPortCommand(uint32_t addrNet, uint16_t port);

// "STOR  name\r\n" (two blanks) with the three characters behind the first '.' lowered (A-Z
// only); the unit expects lower-case extensions. A name without '.' is sent unchanged.
std::string FormatStorCommand(const char* name);

// The model text of an information reply: the (up to) five characters that start at the first
// "KQ-", or "NODEV" when the reply names no model.
std::string FindModelText(const char* reply);

// The version text of a reply to "EXCM uname": everything behind the three-digit code and the
// character after it, line end included; empty when the reply is shorter than that.
std::string UnameVersionText(const char* reply);

// The version text as shown and logged: without its last two characters (the line end); empty
// for a text of fewer than two characters.
std::string VersionTextWithoutLineEnd(const char* versionText);

// The unit's version text as a front end compares and reports it: every byte of the reply to
// "EXCM uname" behind the three-digit code and the character after it, NUL bytes included, less
// the one line end that closes it (CR LF, LF or CR); empty when the reply is no longer than that.
std::string UnitVersionText(std::string_view reply);

// The two-digit version number behind the third '.'-separated token of a version text (runs of
// '.' count as one separator, leading '.' are skipped); 0 when those two characters are not both
// digits or the text has no fourth part.
int ParseDeviceVersion(const char* versionTextWithLineEnd);

// Whether a reply holds the refusal that the unit gives harmlessly to "EXCM c_Varek".
bool ContainsFailed500(const char* reply);

// The judgement of a reply: a first byte '4' or '5' (the negative classes) is a refusal, unless
// tolerateFailed500 is set and the reply holds "500 failed." anywhere. Any other first byte, the
// zero of an empty reply included, is accepted.
bool IsRefusal(const char* reply, bool tolerateFailed500);
