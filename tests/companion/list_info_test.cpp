// list and info against simulated bridges: what they show, in text and JSON,
// and that they never send a write command.
#include "tests/companion/companion_support.h"

namespace vtx::test {
namespace {

sim::BridgeConfig bridge_at(const std::string& path, uint32_t identity) {
    sim::BridgeConfig config;
    config.name = std::string("b") + path.back();
    config.path = path;
    config.identity = identity;
    return config;
}

class CompanionDevices : public testing::Test {
  protected:
    SimInstalled sim;
};

TEST_F(CompanionDevices, ListGivesEveryBridgeInDiscoveryOrderWithItsDrive) {
    sim->add_disk({});  // PhysicalDrive0: a USB stick, no bridge
    add_running_bridge(sim.sim(), bridge_at("\\\\.\\PhysicalDrive3", 3), {1, 0, 0, 0, 20240101});
    sim::BridgeConfig second = bridge_at("\\\\.\\PhysicalDrive1", 1);
    second.drive->serial = "S1";
    second.drive->model = "Model One";
    second.drive->security_status = 0x000B;  // supported, enabled, frozen
    add_running_bridge(sim.sim(), second, {1, 0, 0, 0, 20240101});

    Json doc = json_of(run_bridge({"list", "--json"}));
    EXPECT_EQ(doc["status"].get<std::string>(), "ok");
    ASSERT_EQ(doc["count"].get<int64_t>(), 2);
    Json first = doc["bridges"][0];
    EXPECT_EQ(first["path"].get<std::string>(), "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(doc["bridges"][1]["path"].get<std::string>(), "\\\\.\\PhysicalDrive3");
    // Exact in JSON: the 24 bytes of vendor and product, blanks kept; the
    // ATA strings as the drive gives them.
    EXPECT_EQ(first["name"].get<std::string>(), "Vantrex USB Bridge      ");
    EXPECT_EQ(first["drive"]["serial"].get<std::string>().rfind("S1", 0), 0u);
    EXPECT_EQ(first["drive"]["serial"].get<std::string>().size(), 20u);
    EXPECT_EQ(first["drive"]["model"].get<std::string>().rfind("Model One", 0), 0u);
    Json security = first["drive"]["security"];
    EXPECT_EQ(security["status_word"].get<int64_t>(), 0x000B);
    EXPECT_TRUE(security["supported"].get<bool>());
    EXPECT_TRUE(security["enabled"].get<bool>());
    EXPECT_FALSE(security["locked"].get<bool>());
    EXPECT_TRUE(security["frozen"].get<bool>());
    EXPECT_EQ(security["enhanced_erase_minutes"].get<int64_t>(), 32);  // word 0x8010
    EXPECT_EQ(first["drive"]["info_block"].get<std::string>().size(), 72u * 3 - 1);

    BridgeRun text = run_bridge({"list"});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("\\\\.\\PhysicalDrive1  Vantrex USB Bridge\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Model One, serial S1, firmware 1.0\n"), std::string::npos);
    EXPECT_NE(text.out.find("supported, enabled, not locked, frozen"), std::string::npos);
    EXPECT_LT(text.out.find("PhysicalDrive1"), text.out.find("PhysicalDrive3"));
    EXPECT_FALSE(trace_has_write(sim.sim()));
}

TEST_F(CompanionDevices, ABridgeWithoutADriveIsListedWithoutIdentity) {
    sim::BridgeConfig config = bridge_at("\\\\.\\PhysicalDrive1", 1);
    config.drive.reset();
    add_running_bridge(sim.sim(), config, {1, 0, 0, 0, 20240101});
    Json doc = json_of(run_bridge({"list", "--json"}));
    ASSERT_EQ(doc["count"].get<int64_t>(), 1);
    EXPECT_TRUE(doc["bridges"][0]["drive"].is_null());
    EXPECT_NE(run_bridge({"list"}).out.find("not collected"), std::string::npos);
}

TEST_F(CompanionDevices, NoBridgeAnywhereExitsWith2) {
    sim->add_disk({});
    for (const char* command : {"list", "info", "params"}) {
        SCOPED_TRACE(command);
        BridgeRun text = run_bridge({command});
        EXPECT_EQ(text.code, companion::EXIT_NONE_FOUND);
        EXPECT_NE(text.err.find("no bridge found"), std::string::npos) << text.err;
        Json doc = json_of(run_bridge({command, "--json"}));
        EXPECT_EQ(doc["status"].get<std::string>(), "not-found");
    }
    // The stick heard INQUIRY and nothing else.
    for (const sim::TraceEntry& entry : sim->trace())
        EXPECT_EQ(entry.cdb[0], 0x12) << hex(entry.cdb, 16);
}

TEST_F(CompanionDevices, HostileDeviceStringsStayValidJsonAndHarmlessText) {
    sim::BridgeConfig config = bridge_at("\\\\.\\PhysicalDrive1", 1);
    config.vendor = std::string("\x1B[31m\xFF\x01", 7) + " ";
    config.drive->model = "\x1B]0;owned\x07\\x41";
    add_running_bridge(sim.sim(), config, {1, 0, 0, 0, 20240101});

    Json doc = json_of(run_bridge({"list", "--json"}));
    EXPECT_EQ(doc["bridges"][0]["name"].get<std::string>().substr(0, 9),
              std::string("\x1B[31m\xC3\xBF\x01", 8) + " ");
    BridgeRun text = run_bridge({"list"});
    EXPECT_EQ(text.out.find('\x1B'), std::string::npos) << "escape reached the terminal";
    EXPECT_NE(text.out.find("\\x1B[31m\\xFF\\x01"), std::string::npos) << text.out;
    // A backslash before an x is escaped itself, so \x41 cannot pass for 'A'.
    EXPECT_NE(text.out.find("\\x07\\x5Cx41"), std::string::npos) << text.out;
}

TEST_F(CompanionDevices, InfoShowsWhatTheBridgeSaysAboutItself) {
    add_running_bridge(sim.sim(), bridge_at("\\\\.\\PhysicalDrive1", 0x5A17C0DE),
                       {1, 2, 3, 0, 20240115});
    Json doc = json_of(run_bridge({"info", "--json"}));
    EXPECT_EQ(doc["status"].get<std::string>(), "ok");
    Json bridge = doc["bridge"];
    EXPECT_EQ(bridge["path"].get<std::string>(), "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(bridge["inquiry"]["revision"].get<std::string>(), "2.01");
    EXPECT_EQ(bridge["inquiry"]["model"].get<std::string>(), "VTX4600");
    EXPECT_EQ(bridge["chip"]["family"].get<int64_t>(), 1);
    EXPECT_EQ(bridge["chip"]["id"]["value"].get<uint64_t>(), 0xA0020001u);
    EXPECT_EQ(bridge["chip"]["revision"].get<int64_t>(), 10);
    EXPECT_EQ(bridge["chip"]["expected_variant"].get<int64_t>(), 13);
    EXPECT_EQ(bridge["chip"]["rescue_format"].get<std::string>(), "main-0xFE");
    EXPECT_EQ(bridge["firmware"]["version"].get<std::string>(), "1.2.3");
    EXPECT_EQ(bridge["firmware"]["build_date"].get<int64_t>(), 20240115);
    EXPECT_EQ(bridge["firmware"]["build_date_iso"].get<std::string>(), "2024-01-15");
    EXPECT_EQ(bridge["run_mode"]["name"].get<std::string>(), "main");
    EXPECT_EQ(bridge["identity"]["value"].get<uint64_t>(), 0x5A17C0DEu);
    EXPECT_EQ(bridge["max_transfer"]["bytes"].get<int64_t>(), 65536);
    EXPECT_TRUE(bridge["ready"]["answers"].get<bool>());

    BridgeRun text = run_bridge({"info"});
    EXPECT_EQ(text.code, 0);
    for (const char* line : {"Firmware    1.2.3, built 2024-01-15\n", "Run mode    main firmware\n",
                             "Identity    0x5A17C0DE\n", "Ready       yes\n",
                             "Images      variant 13; rescue image in main format, marked 0xFE\n"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;
    EXPECT_FALSE(trace_has_write(sim.sim()));
}

TEST_F(CompanionDevices, InfoOnABridgeInTroubleReportsEachFailedQuery) {
    // Erased flash: the boot loader runs and rejects the version query; this
    // bridge also lacks the identity query and the transfer size query.
    sim::BridgeConfig config = bridge_at("\\\\.\\PhysicalDrive1", 0x1234);
    config.answers_identity_query = false;
    config.max_transfer_reply.reset();
    sim->add_bridge(config);
    Json doc = json_of(run_bridge({"info", "--json"}));
    EXPECT_EQ(doc["status"].get<std::string>(), "ok")
        << "the bridge was found; its answers are the result";
    Json bridge = doc["bridge"];
    EXPECT_NE(bridge["firmware"]["result"].get<int64_t>(), 0);
    EXPECT_FALSE(bridge["firmware"].contains("version"));
    EXPECT_EQ(bridge["run_mode"]["name"].get<std::string>(), "other");
    EXPECT_EQ(bridge["identity"]["value"].get<int64_t>(), 0x1234) << "the fallback read gives it";
    EXPECT_NE(bridge["max_transfer"]["result"].get<int64_t>(), 0);
    BridgeRun text = run_bridge({"info"});
    EXPECT_NE(text.out.find("Firmware    not read (result 2)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("updates use 4096-byte chunks"), std::string::npos);
    EXPECT_FALSE(trace_has_write(sim.sim()));
}

TEST_F(CompanionDevices, InfoSaysWhenTheReadinessCheckFails) {
    add_running_bridge(sim.sim(), bridge_at("\\\\.\\PhysicalDrive1", 1), {1, 0, 0, 0, 20240101});
    // Past the chip registers, twice: detection, then the values shown.
    sim->add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ, 4));
    Json doc = json_of(run_bridge({"info", "\\\\.\\PhysicalDrive1", "--json"}));
    EXPECT_FALSE(doc["bridge"]["ready"]["answers"].get<bool>());
    EXPECT_EQ(doc["bridge"]["ready"]["result"].get<int64_t>(), 2);
}

TEST_F(CompanionDevices, InfoTakesTheBridgeItIsGivenAndExitsWith2OnAPathWithoutOne) {
    sim->add_disk({});
    add_running_bridge(sim.sim(), bridge_at("\\\\.\\PhysicalDrive1", 1), {1, 0, 0, 0, 20240101});
    add_running_bridge(sim.sim(), bridge_at("\\\\.\\PhysicalDrive4", 4), {4, 0, 0, 0, 20240101});
    Json doc = json_of(run_bridge({"info", "\\\\.\\PhysicalDrive4", "--json"}));
    EXPECT_EQ(doc["bridge"]["identity"]["value"].get<int64_t>(), 4);
    EXPECT_EQ(doc["bridge"]["firmware"]["version"].get<std::string>(), "4.0.0");

    sim->clear_trace();
    BridgeRun disk = run_bridge({"info", "\\\\.\\PhysicalDrive0"});
    EXPECT_EQ(disk.code, companion::EXIT_NONE_FOUND);
    EXPECT_NE(disk.err.find("\"Generic Flash Disk\", not a supported bridge"), std::string::npos)
        << disk.err;
    for (const sim::TraceEntry& entry : sim->trace())
        EXPECT_EQ(entry.cdb[0], 0x12) << "a drive that is no bridge heard " << hex(entry.cdb, 16);

    Json none = json_of(run_bridge({"info", "\\\\.\\PhysicalDrive9", "--json"}));
    EXPECT_EQ(none["exit_code"].get<int64_t>(), companion::EXIT_NONE_FOUND);
    EXPECT_NE(none["message"].get<std::string>().find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace vtx::test
