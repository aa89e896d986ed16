/*
 * The plug-in loader with stand-in plug-ins built by the tests, and the roads
 * that use plug-ins: the active-tile map (MGIR through the register-access
 * library) and the smart retimer's registers (the cables plug-in).
 */
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "access/access_register.h"
#include "access/mfile_internal.h"
#include "access/plugin_loader.h"
#include "tests/access/driver_host.h"
#include "tests/access/scoped_env.h"
#include "tests/fakes/driver/fake_driver_client.h"
#include "tests/common/fixed_paths.h"

namespace {

using access_test::DriverHost;

const std::string kPlugins = std::string(KELVRA_BUILD_DIR) + "/standins/plugins/";
const std::string kEveryKind = kPlugins + "libstandin_every_kind.so";
const std::string kCables = kPlugins + "libstandin_cables.so";
const std::string kCablesNoCdb = kPlugins + "libstandin_cables_no_cdb.so";
const std::string kRegAccess = kPlugins + "libstandin_rreg_access.so";

using access_test::ScopedEnv;

bool mapped(const std::string& path)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(path) != std::string::npos) {
            return true;
        }
    }
    return false;
}

int filled_slots(const dl_ctx* ctx)
{
    int n = 0;
    for (void* e : ctx->entries) {
        n += e != nullptr;
    }
    return n;
}

TEST(PluginLoader, DozudovPathServesEveryKindFromOneFile)
{
    ScopedEnv path("DOZUDOV_PATH", kEveryKind);
    struct Expect {
        unsigned kind;
        int slots;
    };
    for (Expect e : {Expect{0, 15}, Expect{1, 15}, Expect{2, 2}, Expect{4, 6}}) {
        dl_ctx* ctx = qzcr_utils_load_dl_ctx(e.kind);
        ASSERT_NE(ctx, nullptr) << e.kind;
        EXPECT_NE(ctx->handle, nullptr);
        EXPECT_EQ(filled_slots(ctx), e.slots) << e.kind;
        EXPECT_EQ(qzcr_utils_free_dl_ctx(ctx), 0);
    }
    dl_ctx* reg = qzcr_utils_load_dl_ctx(DL_KIND_REG_ACCESS);
    ASSERT_NE(reg, nullptr);
    EXPECT_NE(reg->entries[DL_REG_ACCESS_MDDT], nullptr);
    EXPECT_EQ(reg->entries[1], nullptr) << "slot 2 of the register-access kind stays empty";
    EXPECT_EQ(reg->entries[DL_REG_ACCESS_MGIR], dlsym(reg->handle, "reg_access_mgir"));
    qzcr_utils_free_dl_ctx(reg);
    EXPECT_EQ(qzcr_utils_free_dl_ctx(nullptr), 1);
    EXPECT_FALSE(mapped(kEveryKind)) << "every load was closed again";
}

struct MissingCase {
    const char* name;
    const std::string* library;
    unsigned kind;
    const char* symbol;
};

void PrintTo(const MissingCase& c, std::ostream* os)
{
    *os << c.name;
}

class MissingSymbol : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingSymbol, FailsTheWholeLoadAndNamesIt)
{
    ScopedEnv path("DOZUDOV_PATH", *GetParam().library);
    ScopedEnv quiet("TOV_DEBUG", nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(qzcr_utils_load_dl_ctx(GetParam().kind), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    std::string expected = std::string("Failed to load the function: ") + GetParam().symbol + ", error: ";
    EXPECT_EQ(err.rfind(expected, 0), 0u) << err;
    EXPECT_FALSE(mapped(*GetParam().library)) << "the library is closed again";
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, MissingSymbol,
    ::testing::Values(MissingCase{"cables_without_cdb", &kCablesNoCdb, 0, "cdb_maccess_reg"},
                      MissingCase{"register_access_as_cables", &kRegAccess, 1, "dozudov_open"},
                      MissingCase{"cables_as_register_access", &kCables, 2, "reg_access_mddt"},
                      MissingCase{"cables_as_ssh", &kCables, 4, "set_up_client_connection"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginLoader, UnknownKindAndMissingFile)
{
    {
        ScopedEnv path("DOZUDOV_PATH", kEveryKind);
        testing::internal::CaptureStderr();
        EXPECT_EQ(qzcr_utils_load_dl_ctx(5), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(mapped(kEveryKind));
    }
    ScopedEnv path("DOZUDOV_PATH", kPlugins + "no_such_plugin.so");
    ScopedEnv debug("TOV_DEBUG", "1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(qzcr_utils_load_dl_ctx(0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "-E- Failed to locate the shared library: " + kPlugins + "no_such_plugin.so\n");
}

TEST(PluginLoader, OverlongDozudovPathIsRefused)
{
    // A path cut to the buffer could name another file.
    std::string longer = kEveryKind;
    longer.insert(0, 600, '/');
    ScopedEnv path("DOZUDOV_PATH", longer);
    EXPECT_EQ(qzcr_utils_load_dl_ctx(0), nullptr);
}

// A base directory with the register-access library where the product looks,
// and no DOZUDOV_PATH to override it.
class LibLocation : public ::testing::Test {
protected:
    std::string lay_out_base(const std::string& name)
    {
        std::string base = dir_.path() + "/" + name;
        std::string tools = base + "/tov/python_tools";
        EXPECT_EQ(system(("mkdir -p " + tools).c_str()), 0);
        EXPECT_EQ(symlink(kRegAccess.c_str(), (tools + "/rreg_access.so").c_str()), 0);
        return base;
    }
    testkit::TempDir dir_;
    ScopedEnv path_{"DOZUDOV_PATH", nullptr};
};

TEST_F(LibLocation, LastAssigningLineWinsAndBlanksAreCut)
{
    std::string first = dir_.path() + "/first";
    std::string second = lay_out_base("second");
    tov_test::ProductConfigFile config("tov_lib_location=" + first + "\ntov_lib_location \t= " + second +
                                       " \t\r\n# tov_lib_location=/nowhere\n");
    dl_ctx* ctx = qzcr_utils_load_dl_ctx(DL_KIND_REG_ACCESS);
    ASSERT_NE(ctx, nullptr);
    EXPECT_NE(ctx->entries[DL_REG_ACCESS_MGIR], nullptr);
    qzcr_utils_free_dl_ctx(ctx);
    // The cables plug-in is not under that base.
    EXPECT_EQ(qzcr_utils_load_dl_ctx(DL_KIND_CABLES), nullptr);
}

// Runs of '/' pad a path to a chosen length without changing what it names.
std::string padded(const std::string& path, size_t length)
{
    std::string out = path;
    out.insert(1, length - path.size(), '/');
    return out;
}

TEST_F(LibLocation, BaseThatCannotHoldThePluginPathIsRefused)
{
    const size_t relative = strlen("/tov/python_tools/rreg_access.so");
    const size_t room = 511;  // the path buffer holds 511 characters
    struct {
        const char* label;
        std::string base;
        bool loads;
    } cases[] = {
        // A base naming a loadable library: cut off, the path would be the
        // base itself, which must not be loaded in the plug-in's place.
        {"library_as_base_one_too_long", padded(kRegAccess, room - relative + 1), false},
        {"library_as_base_of_490", padded(kRegAccess, 490), false},
        {"library_as_base_of_511", padded(kRegAccess, room), false},
        {"plugin_below_a_base_that_just_fits", padded(lay_out_base("fits"), room - relative), true},
    };
    for (const auto& c : cases) {
        ASSERT_LT(c.base.size(), 512u) << c.label;
        tov_test::ProductConfigFile config("tov_lib_location=" + c.base + "\n");
        dl_ctx* ctx = qzcr_utils_load_dl_ctx(DL_KIND_REG_ACCESS);
        EXPECT_EQ(ctx != nullptr, c.loads) << c.label;
        qzcr_utils_free_dl_ctx(ctx);
    }
}

TEST_F(LibLocation, DefaultBaseAndTheCoreKind)
{
    ScopedEnv debug("TOV_DEBUG", "1");
    tov_test::ProductConfigFile config(std::nullopt);
    testing::internal::CaptureStderr();
    EXPECT_EQ(qzcr_utils_load_dl_ctx(DL_KIND_REG_ACCESS), nullptr);
    EXPECT_EQ(qzcr_utils_load_dl_ctx(DL_KIND_CORE), nullptr) << "kind 3 opens the base directory itself";
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "-E- Failed to locate the shared library: /tov/python_tools/rreg_access.so\n"
              "-E- Failed to locate the shared library: \n");
}

// ---- the active-tile map ----

struct TileCase {
    uint32_t address;
    bool active;
};

void PrintTo(const TileCase& c, std::ostream* os)
{
    *os << std::hex << "0x" << c.address;
}

class ActiveTiles : public ::testing::TestWithParam<TileCase> {};

TEST_P(ActiveTiles, BitmapOfTilesZeroAndSeven)
{
    DriverHost host(0x254);
    ScopedEnv path("DOZUDOV_PATH", kRegAccess);
    ScopedEnv tiles("KELVRA_STANDIN_DISABLED_TILES", "0x81");
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->tile_map_enabled, 1u);
    EXPECT_EQ(is_offset_in_active_tile(mf, GetParam().address), GetParam().active ? 1 : 0);
    EXPECT_FALSE(mapped(kRegAccess)) << "the MGIR read closes the library it loaded";
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Addresses, ActiveTiles,
                         ::testing::Values(TileCase{0x2000000, false}, TileCase{0x21FFFFF, false},
                                           TileCase{0x2200000, true}, TileCase{0x2200001, true},
                                           TileCase{0x2DFFFFF, true}, TileCase{0x2E00000, false},
                                           TileCase{0x2E00001, false}, TileCase{0x2FFFFFF, false},
                                           TileCase{0x3000000, true}, TileCase{0x1FFFFFF, true}));

TEST(ActiveTileMap, SkipsWordsOfInactiveTiles)
{
    DriverHost host(0x254);
    ScopedEnv path("DOZUDOV_PATH", kRegAccess);
    ScopedEnv tiles("KELVRA_STANDIN_DISABLED_TILES", "0x81");
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    uint32_t v = 0xFFFFFFFF;
    // Outside the 4 MiB window: an inactive tile is skipped, an active one
    // is really accessed and refused.
    EXPECT_EQ(mread4(mf, 0x2000000, &v), 4);
    EXPECT_EQ(mwrite4(mf, 0x2E00000, 1), 4);
    EXPECT_EQ(mread4(mf, 0x2200000, &v), -1);
    EXPECT_EQ(errno, EINVAL);
    mclose(mf);
}

TEST(ActiveTileMap, EveryTileActiveWhenMgirCannotBeRead)
{
    DriverHost host(0x254);
    ScopedEnv path("DOZUDOV_PATH", kPlugins + "no_such_plugin.so");
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->tile_map_enabled, 1u);
    for (const mfile_tile& t : mf->tiles) {
        EXPECT_EQ(t.active, 1);
    }
    mclose(mf);
}

TEST(ActiveTileMap, OnlyForItsDeviceKind)
{
    DriverHost host(0x218);
    ScopedEnv path("DOZUDOV_PATH", kRegAccess);
    ScopedEnv tiles("KELVRA_STANDIN_DISABLED_TILES", "0xFF");
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->tile_map_enabled, 0u);
    EXPECT_EQ(is_offset_in_active_tile(mf, 0x2000000), 1);
    mclose(mf);
}

// ---- the smart retimer's registers through the cables plug-in ----

TEST(SmartRetimer, RegistersGoThroughTheCablesPlugin)
{
    ScopedEnv path("DOZUDOV_PATH", kCables);
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    mf->access_type = ACCESS_CHIP;
    mf->chip_id = 642;
    mf->max_reg_size[ACCESS_METHOD_GET] = 64;
    ASSERT_EQ(is_smart_retimer(mf), 1);

    uint8_t payload[8] = {0};
    int status = -1;
    // No plug-in context: refused.
    EXPECT_EQ(maccess_reg(mf, 0x5000, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), -1);
    EXPECT_EQ(errno, ENOTSUP);

    mf->dl_ctx = qzcr_utils_load_dl_ctx(DL_KIND_CABLES);
    ASSERT_NE(mf->dl_ctx, nullptr);
    EXPECT_EQ(maccess_reg(mf, 0x5010, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_OK);
    EXPECT_EQ(payload[0], 0x10);
    EXPECT_EQ(payload[7], 0x17);
    {
        ScopedEnv st("KELVRA_STANDIN_CDB_STATUS", "4");
        EXPECT_EQ(maccess_reg(mf, 0x5010, ACCESS_METHOD_GET, payload, 8, 8, 8, &status),
                  ME_REG_ACCESS_REGISTER_NOT_SUPPORTED);
        EXPECT_EQ(status, 4);
    }
    qzcr_utils_free_dl_ctx(mf->dl_ctx);
    free(mf);
}

// ---- cable and plug-in chip handles ----

// The stand-in cables plug-in turns the handle its open gets into a cable
// (or plug-in chip) handle and logs its open and close calls.
// The variables the stand-in reads and writes are put back after each test,
// and so is the forced I2C address that cable and chip opens set for the
// whole process.
class CablesPlugin : public ::testing::Test {
protected:
    void TearDown() override { set_force_i2c_address(-1); }
    static std::string calls()
    {
        const char* c = getenv("KELVRA_STANDIN_CALLS");
        return c != nullptr ? c : "";
    }

    ScopedEnv path_{"DOZUDOV_PATH", kCables};
    ScopedEnv calls_{"KELVRA_STANDIN_CALLS", nullptr};
    ScopedEnv open_rc_{"KELVRA_STANDIN_OPEN_RC", nullptr};
    ScopedEnv block_rc_{"KELVRA_STANDIN_BLOCK_RC", nullptr};
    ScopedEnv debug_{"TOV_DEBUG", nullptr};
};

// A host without the node-tree driver: the per-function driver's
// configuration node of 0000:03:00.0, and the cable's node under /dev/pyx.
struct UserLevelCableHost {
    UserLevelCableHost() : fake(fake_driver::api())
    {
        fake.reset();
        tree.pci_function(access_test::ul_function("0000:03:00.0"));
        f = fake.add(0, 3, 0, 0, 0x100000);
        fake.cr_write(f, 0xF0014, 0x0001020B);
        f->vsec_supported = 1;
        std::ofstream("/dev/0000:03:00.0_pyxconf") << "";
        tree.node("0000:03:00.0_cable_2");
    }
    ~UserLevelCableHost() { fake.reset(); }

    const fake_driver::Api& fake;
    access_test::PrivateTmp tmp;
    access_test::DeviceTree tree{true};
    fake_pyx_function* f = nullptr;
};

const char* const kUlCable = "0000:03:00.0_cable_2";

TEST_F(CablesPlugin, CableHandleIsRefusedByMopenAndKeptByTheCableMask)
{
    UserLevelCableHost host;
    int fds = access_test::open_descriptors();
    errno = 0;
    EXPECT_EQ(mopen(kUlCable), nullptr);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(calls(), "dozudov_open(2);dozudov_close;") << "the refused handle is closed through the plug-in";
    EXPECT_FALSE(mapped(kCables)) << "and its plug-in context released";
    EXPECT_EQ(access_test::open_descriptors(), fds);

    unsetenv("KELVRA_STANDIN_CALLS");
    mFile* mf = mopen_adv(kUlCable, ACCESS_CABLE);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_CABLE);
    EXPECT_EQ(mf->cable_name, 1u);
    ASSERT_NE(mf->ul_ctx, nullptr) << "the cable sits behind a user-level handle";
    ASSERT_NE(mf->dl_ctx, nullptr);
    EXPECT_EQ(calls(), "dozudov_open(2);");

    // Words and blocks go to the plug-in.
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x24, &v), 4);
    EXPECT_EQ(v, 0x24u);
    EXPECT_EQ(get_chunk_size(mf), 48);
    uint32_t block[6] = {};
    EXPECT_EQ(mread4_block(mf, 0x100, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(block[5], 0x114u);
    setenv("KELVRA_STANDIN_BLOCK_RC", "8", 1);
    EXPECT_EQ(mread4_block(mf, 0x100, block, sizeof block), (int)sizeof block - 8) << "8 bytes not moved";
    EXPECT_EQ(mwrite4_block(mf, 0x100, block, sizeof block), (int)sizeof block - 8);

    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(calls(), "dozudov_open(2);dozudov_close;");
    EXPECT_FALSE(mapped(kCables)) << "the close releases the plug-in context";
    EXPECT_EQ(access_test::open_descriptors(), fds);
}

struct CableOpenFailure {
    const char* what;
    const char* open_rc;  // null: the plug-in loads and its open succeeds
    bool plugin_found;
};

void PrintTo(const CableOpenFailure& c, std::ostream* os)
{
    *os << c.what;
}

class CableOpenFails : public CablesPlugin, public ::testing::WithParamInterface<CableOpenFailure> {};

TEST_P(CableOpenFails, AtTheLastStepAndReleasesThePlugin)
{
    UserLevelCableHost host;
    const CableOpenFailure& c = GetParam();
    if (c.open_rc != nullptr) {
        setenv("KELVRA_STANDIN_OPEN_RC", c.open_rc, 1);
    }
    if (!c.plugin_found) {
        setenv("DOZUDOV_PATH", (kPlugins + "no_such_plugin.so").c_str(), 1);
    }
    int fds = access_test::open_descriptors();
    errno = 0;
    EXPECT_EQ(mopen_adv(kUlCable, ACCESS_CABLE), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(calls(), c.plugin_found ? "dozudov_open(2);" : "") << "no close of a cable that never opened";
    EXPECT_FALSE(mapped(kCables));
    EXPECT_EQ(access_test::open_descriptors(), fds);
}

INSTANTIATE_TEST_SUITE_P(Cases, CableOpenFails,
                         ::testing::Values(CableOpenFailure{"plugin_open_fails", "3", true},
                                           CableOpenFailure{"plugin_open_fails_negative", "-1", true},
                                           CableOpenFailure{"no_plugin", nullptr, false}),
                         [](const auto& info) { return std::string(info.param.what); });

// A chip behind a driver CR node: "_vy1_2" names chips 1 and 2.
TEST_F(CablesPlugin, ChipHandleOpensThroughThePluginAndClosesWithTheHandle)
{
    DriverHost host;
    const std::string name = std::string(DriverHost::kCrNode) + "_vy1_2";
    int fds = access_test::open_descriptors();
    errno = 0;
    EXPECT_EQ(mopen(name.c_str()), nullptr);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(calls(), "dozudov_chip_open(1,2);");
    EXPECT_FALSE(mapped(kCables));
    EXPECT_EQ(access_test::open_descriptors(), fds);

    unsetenv("KELVRA_STANDIN_CALLS");
    mFile* mf = mopen_adv(name.c_str(), ACCESS_CHIP);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_CHIP);
    EXPECT_STREQ(mf->dev_name, DriverHost::kCrNode);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x40, &v), 4);
    EXPECT_EQ(v, 0x40u) << "the plug-in's chip read";
    EXPECT_EQ(get_chunk_size(mf), 64);
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(calls(), "dozudov_chip_open(1,2);") << "the chip's close entry is not called";
    EXPECT_FALSE(mapped(kCables));
    EXPECT_EQ(access_test::open_descriptors(), fds);
}

TEST_F(CablesPlugin, FailedChipOpenIsReportedAndReleasesEverything)
{
    DriverHost host;
    setenv("KELVRA_STANDIN_OPEN_RC", "1", 1);
    const std::string name = std::string(DriverHost::kCrNode) + "_vy3";
    int fds = access_test::open_descriptors();
    testing::internal::CaptureStdout();
    EXPECT_EQ(mopen_adv(name.c_str(), 0xFFFFFFFF), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "failed to call dozudov_chip_open");
    EXPECT_EQ(calls(), "dozudov_chip_open(3,0);");
    EXPECT_FALSE(mapped(kCables));
    EXPECT_EQ(access_test::open_descriptors(), fds);
}

}  // namespace
