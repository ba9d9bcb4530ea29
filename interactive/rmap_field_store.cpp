#include "interactive/rmap_field_store.h"

RmapFieldStore rmap_fields;

void ClearFixedFields(RmapFieldStore &f)
{
    for (bool *fixed : {&f.destination_address.fixed, &f.verify_data.fixed, &f.acknowledge.fixed,
                        &f.increment_address.fixed, &f.destination_key.fixed, &f.source_address.fixed,
                        &f.transaction_identifier.fixed, &f.extended_read_write_address.fixed,
                        &f.read_write_address.fixed, &f.data_length.fixed, &f.data.fixed, &f.mask.fixed,
                        &f.header_crc.fixed, &f.data_crc.fixed}) {
        *fixed = false;
    }
}
