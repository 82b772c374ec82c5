#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "params/table.h"

namespace vtx {
namespace {

TEST(ParameterTable, RecordNumberIsItsIdAndTypesAddUp) {
    int by_type[6] = {};
    int obsolete = 0;
    std::set<std::string> names;
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterDef& def = ParameterTable[i];
        EXPECT_EQ(def.id, i);
        EXPECT_LE(std::strlen(def.name), 24u) << def.name;
        if (def.type == PARAM_OBSOLETE) {
            ++obsolete;
            EXPECT_STREQ(def.name, "OBSOLETED");
            continue;
        }
        ASSERT_LE(def.type, PARAM_SIZED_NUMBER) << def.name;
        ++by_type[def.type];
        EXPECT_TRUE(names.insert(def.name).second) << def.name << " twice";
    }
    EXPECT_EQ(obsolete, 3);
    const int expected[6] = {42, 2, 2, 3, 2, 3};
    for (int type = 0; type < 6; ++type)
        EXPECT_EQ(by_type[type], expected[type]) << type;
}

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
