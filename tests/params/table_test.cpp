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
    struct Case {
        const char* name;
        int id;  // -1: not found
    } cases[] = {
        {"OBSOLETED", 0},
        {"VID", 3},
        {"vid", -1},
        {"Vid", -1},
        {"SCSI", -1},
        {"VID1", -1},
        {"VID ", -1},
        {"", -1},
        {"SCSI_VENDOR", 12},
        {"MFI_SUPPORT", 56},
        {"CUSTOMIZED_DISK_IDENTIFY", 40},
    };
    for (const Case& c : cases) {
        const ParameterDef* def = param_find_by_name(c.name);
        if (c.id < 0) {
            EXPECT_EQ(def, nullptr) << c.name;
        } else {
            ASSERT_NE(def, nullptr) << c.name;
            EXPECT_EQ(def->id, c.id) << c.name;
        }
    }
}

TEST(ParameterTable, ObsoletedIsFoundAtIdZeroButUnusable) {
    const ParameterDef* def = param_find_by_name("OBSOLETED");
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->id, 0);
    EXPECT_FALSE(param_type_usable(def->type));
    for (uint8_t id : {0, 16, 17})
        EXPECT_EQ(param_find_usable(id), nullptr) << int(id);
}

TEST(ParameterTable, IdLookupEndsAtFiftySix) {
    const ParameterDef* last = param_find_by_id(56);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->type, PARAM_SIZED_NUMBER);
    EXPECT_EQ(last->size, 1);
    EXPECT_EQ(param_find_by_id(57), nullptr);
    EXPECT_EQ(param_find_by_id(255), nullptr);
    EXPECT_EQ(param_find_usable(57), nullptr);
}

}  // namespace
}  // namespace vtx
