// The header fields of the interactive RMAP mode, remembered for the whole
// run: each holds the last value entered (offered as the default next time)
// and can be fixed, after which it is shown and used without being asked.
#ifndef ZARK_INTERACTIVE_RMAP_FIELD_STORE_H
#define ZARK_INTERACTIVE_RMAP_FIELD_STORE_H

#include <cstdint>
#include <vector>

// A byte field has a default whenever it holds at least one byte.
struct RmapFieldStore {
    std::vector<std::uint8_t> destination_address;
    unsigned char destination_address_fixed = 0;

    unsigned char verify_data = 0;
    unsigned char verify_data_set = 0;
    unsigned char verify_data_fixed = 0;

    unsigned char acknowledge = 0;
    unsigned char acknowledge_set = 0;
    unsigned char acknowledge_fixed = 0;

    unsigned char increment_address = 0;
    unsigned char increment_address_set = 0;
    unsigned char increment_address_fixed = 0;

    std::uint32_t destination_key = 0;
    unsigned char destination_key_set = 0;
    unsigned char destination_key_fixed = 0;

    std::vector<std::uint8_t> source_address;
    unsigned char source_address_fixed = 0;

    std::uint32_t transaction_identifier = 0;
    unsigned char transaction_identifier_set = 0;
    unsigned char transaction_identifier_fixed = 0;

    std::uint32_t extended_read_write_address = 0;
    unsigned char extended_read_write_address_set = 0;
    unsigned char extended_read_write_address_fixed = 0;

    std::uint32_t read_write_address = 0;
    unsigned char read_write_address_set = 0;
    unsigned char read_write_address_fixed = 0;

    std::uint32_t data_length = 0;
    unsigned char data_length_set = 0;
    unsigned char data_length_fixed = 0;

    std::vector<std::uint8_t> data;
    unsigned char data_fixed = 0;

    std::uint32_t mask = 0;
    unsigned char mask_set = 0;
    unsigned char mask_fixed = 0;

    std::uint32_t header_crc = 0;
    unsigned char header_crc_set = 0;
    unsigned char header_crc_fixed = 0;

    // Asked as "Data CRC" for a write and "Data and Mask CRC" for a read/modify/write.
    std::uint32_t data_crc = 0;
    unsigned char data_crc_set = 0;
    unsigned char data_crc_fixed = 0;
};

extern RmapFieldStore rmap_fields;

// Every field is asked again; values and defaults stay.
void ClearFixedFields(RmapFieldStore &fields);

#endif
