// Transfer-status messages, packet display and RMAP reply display.
#ifndef ZARK_COMMON_DISPLAY_H
#define ZARK_COMMON_DISPLAY_H

#include <cstdint>
#include <cstdio>

#include "device/quill_rmap.h"

// The message for a transfer status (0 to 14; any other value has its own text).
const char *DisplayStatus(int status);

// Writes each byte in default_base followed by one blank, then "EOP" for end
// type 128 or "EEP" for 64; no line break.
void DisplayData(const std::uint8_t *data, int length, int end_type, std::FILE *stream);

// The meaning of an RMAP reply status ("invalid key"); null for a code that has none.
const char *RmapStatusText(unsigned status);

// What a reply display found, for callers that look further at the reply.
struct ReplyDisplayed {
    RmapPacketInfo record{}; // the reply as validated; meaningful when the display succeeded
    int data_file_error = 0; // why the data file could not be written (errno); 0 when it was
};

// Decodes one received RMAP reply onto stream; appends the data of a read or
// read/modify/write reply with status 0 to data_file when one is named.  False when the
// bytes were not a reply that could be displayed.  shown may be null.
bool DisplayRMAPResponse(const std::uint8_t *packet, int length, std::FILE *stream,
                         const char *data_file, ReplyDisplayed *shown = nullptr);

// The same for a reply as the device delivered it: one that ended with an
// EEP is malformed whatever its bytes say, so it is reported as such and its
// data is not kept.
bool DisplayReceivedRMAPReply(const std::uint8_t *packet, int length, int end_type, std::FILE *stream,
                              const char *data_file, ReplyDisplayed *shown = nullptr);

#endif
