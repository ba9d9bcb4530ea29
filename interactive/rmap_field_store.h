// The header fields of the interactive RMAP mode, remembered for the whole
// run: each holds the last value entered (offered as the default next time)
// and can be fixed, after which it is shown and used without being asked.
#ifndef ZARK_INTERACTIVE_RMAP_FIELD_STORE_H
#define ZARK_INTERACTIVE_RMAP_FIELD_STORE_H

#include <cstdint>
#include <vector>

// A byte field has a default whenever it holds at least one byte; any other
// once a value has been accepted (set).
template <typename T>
struct RmapField {
    T value{};
    bool set = false;
    bool fixed = false;
};

using RmapFlag = RmapField<unsigned char>;
using RmapValue = RmapField<std::uint32_t>;
using RmapBytes = RmapField<std::vector<std::uint8_t>>;

struct RmapFieldStore {
    RmapBytes destination_address;
    RmapFlag verify_data;
    RmapFlag acknowledge;
    RmapFlag increment_address;
    RmapValue destination_key;
    RmapBytes source_address;
    RmapValue transaction_identifier;
    RmapValue extended_read_write_address;
    RmapValue read_write_address;
    RmapValue data_length;
    RmapBytes data;
    RmapValue mask;
    RmapValue header_crc;
    // Asked as "Data CRC" for a write and "Data and Mask CRC" for a read/modify/write.
    RmapValue data_crc;
};

extern RmapFieldStore rmap_fields;

// Every field is asked again; values and defaults stay.
void ClearFixedFields(RmapFieldStore &fields);

#endif
