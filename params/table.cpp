#include "params/table.h"

#include <cstring>

namespace vtx {

// Record i carries id i, so a lookup by id is a plain index. The three
// OBSOLETED ids once held parameters the bridge no longer reads; the bridge
// takes any of them as the end of its list, so they are never encoded.
const ParameterDef ParameterTable[PARAMETER_COUNT] = {
    {"OBSOLETED", 0, PARAM_OBSOLETE, 0},
    {"U2PHY", 1, PARAM_BYTES_VAR, 255},
    {"U3PHY", 2, PARAM_BYTES_VAR, 255},
    {"VID", 3, PARAM_NUMBER, 2},
    {"PID", 4, PARAM_NUMBER, 2},
    {"PRODUCT", 5, PARAM_USB_STRING, 62},
    {"MANUFACTURE", 6, PARAM_USB_STRING, 30},
    {"SERIAL", 7, PARAM_USB_STRING, 62},
    {"DISK_HOTPLUG", 8, PARAM_NUMBER, 1},
    {"LED", 9, PARAM_NUMBER, 1},
    {"PINMUX1", 10, PARAM_NUMBER, 4},
    {"PINMUX2", 11, PARAM_NUMBER, 4},
    {"SCSI_VENDOR", 12, PARAM_SCSI_STRING, 8},
    {"SCSI_PRODUCT", 13, PARAM_SCSI_STRING, 16},
    {"USB_SELF_PWR", 14, PARAM_NUMBER, 1},
    {"U2_MAXPWR", 15, PARAM_NUMBER, 1},
    {"OBSOLETED", 16, PARAM_OBSOLETE, 0},
    {"OBSOLETED", 17, PARAM_OBSOLETE, 0},
    {"U3_MAXPWR", 18, PARAM_NUMBER, 1},
    {"ASPMDIS", 19, PARAM_NUMBER, 1},
    {"PCIE_REFCLK", 20, PARAM_NUMBER, 1},
    {"DISK_IPS_THRES", 21, PARAM_NUMBER, 1},
    {"SWR_1_2V", 22, PARAM_NUMBER, 1},
    {"EN_UPS", 23, PARAM_NUMBER, 1},
    {"PD", 24, PARAM_NUMBER, 4},
    {"CUSTOMIZED_LED", 25, PARAM_BYTES_FIXED, 15},
    {"SUSPEND_LED_OFF", 26, PARAM_NUMBER, 1},
    {"FORCE_USB_SPEED", 27, PARAM_NUMBER, 1},
    {"FORCE_PCIE_SPEED", 28, PARAM_NUMBER, 1},
    {"EN_U1U2", 29, PARAM_NUMBER, 1},
    {"FORCE_USB_QUIRK", 30, PARAM_NUMBER, 4},
    {"FORCE_PCIE_QUIRK", 31, PARAM_NUMBER, 4},
    {"FAN", 32, PARAM_NUMBER, 4},
    {"DIS_SHOW_EMPTY_DISK", 33, PARAM_NUMBER, 1},
    {"FORCE_SATA_NORMAL_DMA", 34, PARAM_NUMBER, 1},
    {"UART_DBG_PIN", 35, PARAM_NUMBER, 1},
    {"FINGER_PRINT_EN", 36, PARAM_NUMBER, 1},
    {"RM_INTERNAL_RD", 37, PARAM_NUMBER, 1},
    {"HS_AUTO_SWITCH", 38, PARAM_NUMBER, 1},
    {"UART_BAUD_RATE", 39, PARAM_NUMBER, 4},
    {"CUSTOMIZED_DISK_IDENTIFY", 40, PARAM_NUMBER, 1},
    {"HW_LED_CFG", 41, PARAM_NUMBER, 4},
    {"CDROM_CFG", 42, PARAM_BYTES_FIXED, 15},
    {"SUPPORT_HID", 43, PARAM_NUMBER, 4},
    {"LATE_INIT_DISK", 44, PARAM_NUMBER, 1},
    {"SCSI_WP_PIN", 45, PARAM_NUMBER, 1},
    {"SD_MMC_TYPE", 46, PARAM_NUMBER, 1},
    {"FORCE_PORT_TYPE", 47, PARAM_NUMBER, 1},
    {"BCDDEVICE", 48, PARAM_NUMBER, 2},
    {"SUSPEND_DISK_OFF", 49, PARAM_NUMBER, 1},
    {"SCSI_WB_PIN", 50, PARAM_NUMBER, 1},
    {"CUSTOMIZED_FEATURE", 51, PARAM_NUMBER, 8},
    {"PERIPH_API", 52, PARAM_NUMBER, 1},
    {"RAID_CFG", 53, PARAM_NUMBER, 4},
    {"RW_MODE", 54, PARAM_SIZED_NUMBER, 4},
    {"FORCE_SATA_QUIRK", 55, PARAM_SIZED_NUMBER, 4},
    {"MFI_SUPPORT", 56, PARAM_SIZED_NUMBER, 1},
};

const ParameterDef* param_find_by_name(const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const ParameterDef& def : ParameterTable) {
        if (std::strcmp(def.name, name) == 0)
            return &def;
    }
    return nullptr;
}

const ParameterDef* param_find_by_id(uint8_t id) {
    if (id >= PARAMETER_COUNT)
        return nullptr;
    return &ParameterTable[id];
}

bool param_type_usable(uint8_t type) {
    return type <= PARAM_SIZED_NUMBER;
}

const ParameterDef* param_find_usable(uint8_t id) {
    const ParameterDef* def = param_find_by_id(id);
    if (def == nullptr || !param_type_usable(def->type))
        return nullptr;
    return def;
}

}  // namespace vtx
