#include "tools/usbgadget/bot.h"

#include "vtx/bytes.h"

namespace vtx::gadget {

bool parse_cbw(const uint8_t* bytes, size_t length, CommandBlockWrapper& cbw) {
    if (length != CBW_SIZE || load_le32(bytes) != CBW_SIGNATURE)
        return false;
    cbw = CommandBlockWrapper{};
    cbw.tag = load_le32(bytes + 4);
    cbw.transfer_length = load_le32(bytes + 8);
    cbw.data_in = (bytes[12] & 0x80) != 0;
    cbw.lun = bytes[13] & 0x0F;
    cbw.cdb_length = bytes[14] & 0x1F;
    if (cbw.cdb_length < 1 || cbw.cdb_length > 16)
        return false;
    for (int i = 0; i < cbw.cdb_length; ++i)
        cbw.cdb[i] = bytes[15 + i];
    return true;
}

void build_csw(uint8_t out[CSW_SIZE], uint32_t tag, uint32_t residue, uint8_t status) {
    store_le32(out, CSW_SIGNATURE);
    store_le32(out + 4, tag);
    store_le32(out + 8, residue);
    out[12] = status;
}

}  // namespace vtx::gadget
