#pragma once
// Bounds and reporting shared by the link's operations (members of CUpdaterDlg).

#include <cstdint>

class CUpdaterDlg;

// Bytes handed to one send at most.
constexpr uint32_t kSendChunk = 65536;
// How long the tool waits for the unit, in protocol milliseconds.
constexpr uint32_t kReplyWaitOrdinaryMs = 60 * 1000;
constexpr uint32_t kReplyWaitWritingMs = 10 * 60 * 1000;
constexpr uint32_t kConnectAttemptMs = 20 * 1000;
constexpr uint32_t kDataConnectionWaitMs = 60 * 1000;
constexpr uint32_t kQuietPeriodMs = 2000;
// A send fails when the unit takes no byte for this long; every byte taken restarts the wait.
constexpr uint32_t kSendStallMs = 60 * 1000;

// A failed transfer on a connection: takes the calling thread's socket error text, stops the
// blink timer, logs the text with the caption and shows it in a stop-icon box.
void ReportTransferFailure(CUpdaterDlg& dialog, const char* caption);
