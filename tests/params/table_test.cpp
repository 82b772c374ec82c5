#include <gtest/gtest.h>

#include "params/table.h"

namespace vtx {
namespace {

TEST(ParameterTable, NameLookupIsExactAndFirstInIdOrder) {
    const std::pair<const char*, int> found[] = {{"OBSOLETED", 0},
                                                 {"VID", 3},
                                                 {"SCSI_VENDOR", 12},
                                                 {"CUSTOMIZED_DISK_IDENTIFY", 40},
                                                 {"MFI_SUPPORT", 56}};
    for (const auto& [name, id] : found) {
        const ParameterDef* def = param_find_by_name(name);
        ASSERT_NE(def, nullptr) << name;
        EXPECT_EQ(def->id, id) << name;
    }
    for (const char* name : {"vid", "Vid", "SCSI", "VID1", "VID ", ""})
        EXPECT_EQ(param_find_by_name(name), nullptr) << name;
}

// OBSOLETED is found at id 0, but neither it nor ids 16 and 17 can be used;
// the table ends at id 56.
TEST(ParameterTable, ObsoleteAndOutOfRangeIdsAreUnusable) {
    EXPECT_FALSE(param_type_usable(param_find_by_name("OBSOLETED")->type));
    for (uint8_t id : {0, 16, 17, 57})
        EXPECT_EQ(param_find_usable(id), nullptr) << int(id);
    const ParameterDef* last = param_find_by_id(56);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->type, PARAM_SIZED_NUMBER);
    EXPECT_EQ(last->size, 1);
    EXPECT_EQ(param_find_by_id(57), nullptr);
    EXPECT_EQ(param_find_by_id(255), nullptr);
}

}  // namespace
}  // namespace vtx
