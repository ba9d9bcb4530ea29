// The JSON Lines record of a command-stream run (-json=PATH): one object per
// command executed, in run order, then one that sums the run up.  Every line
// is written whole, so the file is valid JSON Lines after an interruption too.
//
// A RMAP command:
//   {"command":0,"kind":"read","sent":{"target_logical_address":254,
//    "initiator_logical_address":32,"destination_address":"fe","source_address":"20",
//    "key":0,"transaction_identifier":1,"extended_address":0,"address":8192,
//    "data_length":4,"verify":false,"acknowledge":true,"increment":true},
//    "handed_at":"2026-12-06T20:14:28.645843Z","collected_at":"...",
//    "outcome":"reply","reply":{"status":0,"status_text":"command executed successfully",
//    "transaction_identifier":1,"data":"00010203"}}
// with "data" in "sent" for writes and read/modify/writes ("mask" too), and
// outcome one of "reply", "no reply expected", "timeout", "error" (then
// "error":{"which":"send"|"receive"|"reply","status":S,"text":"..."}).
// A SpaceWire command:
//   {"command":0,"kind":"send","data":"0102","end":"EOP","handed_at":"...",
//    "collected_at":"...","outcome":"sent"}
//   {"command":1,"kind":"receive","packets":[{"data":"0102","end":"EOP"}],
//    "handed_at":"...","collected_at":"...","outcome":"received"|"timeout"|"error"}
// The last line:
//   {"summary":true,"commands":2,"errors":0,"replies":1,"timeouts":0,
//    "interrupted":false,"start":"...","end":"...","duration_seconds":0.0012,
//    "transactions_per_second":1666.7}
#ifndef ZARK_COMMON_STREAM_JOURNAL_H
#define ZARK_COMMON_STREAM_JOURNAL_H

#include <cstdint>
#include <cstdio>

#include "common/json_line.h"

struct JournalCounts {
    long long commands = 0;
    long long errors = 0;
    long long replies = 0;
    long long timeouts = 0;
};

// Starts a run's record into file (null: no record is kept) and its clock.
void JournalBegin(std::FILE *file);
bool JournalOn();
// When the command run at position run (counted from 0 in run order, every
// execution of a repeated command on its own) was handed to the device, or
// its result first collected; kept only while a record is being written.
void JournalHanded(std::uint64_t run);
void JournalCollected(std::uint64_t run);
// The line to fill for the command run at position run: begun, with its
// number, kind and times; written by JournalWrite.
JsonLine &JournalCommand(std::uint64_t run, int number, const char *kind);
void JournalWrite();
// Counts what the modes found; the summary line uses them.
JournalCounts &JournalCount();

// Ends the run: writes the summary line when a record is kept, and prints
// the summary on the console when a record is kept or -strict is given.
void JournalEnd(bool interrupted);

#endif
