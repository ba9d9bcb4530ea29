#include "interactive/rmap_field_store.h"

RmapFieldStore rmap_fields;

void ClearFixedFields(RmapFieldStore &fields)
{
    fields.destination_address_fixed = 0;
    fields.verify_data_fixed = 0;
    fields.acknowledge_fixed = 0;
    fields.increment_address_fixed = 0;
    fields.destination_key_fixed = 0;
    fields.source_address_fixed = 0;
    fields.transaction_identifier_fixed = 0;
    fields.extended_read_write_address_fixed = 0;
    fields.read_write_address_fixed = 0;
    fields.data_length_fixed = 0;
    fields.data_fixed = 0;
    fields.mask_fixed = 0;
    fields.header_crc_fixed = 0;
    fields.data_crc_fixed = 0;
}
