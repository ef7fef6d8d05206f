#pragma once
// The fixed English texts of the Windows Sockets error codes.

constexpr int kErrorTextCapacity = 100;

// The text of a code; "Error : Windows Socket error." for any code the table does not list.
const char* SocketErrorTextFor(int code);

// Writes the text of the calling thread's last socket error into buffer (at least 70 bytes): an
// error that has no Windows Sockets code is named in the system's own words.
void GetSocketErrorText(char* buffer);
