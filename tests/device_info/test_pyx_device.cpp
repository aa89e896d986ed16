// The current device of the process and the chip-family comparison.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>

#include "tests/common/testkit.h"
#include "tests/device_info/device_info_files.h"
#include "tests/common/capture.h"
#include "tests/tov_core/framework_state.h"
#include "tests/tov_core/log_lines.h"
#include "tov_core/device/device_info/DeviceInfo.h"
#include "tov_core/device/pyx_device/PyxDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

using tov_core::DeviceInfo;
using tov_core::PyxDevice;
using tov_core::TovGeneralException;

namespace {

Json::Value Named(const std::string& name)
{
    return dit::SmallDevice(name, "NIC");
}

std::string CurrentName()
{
    return PyxDevice::GetInstance().GetDeviceInfo()->GetDeviceName();
}

TEST(PyxDevice, NoCurrentDeviceBeforeTheFirstCreate)
{
    tov_test::PrintLogFrom("3");
    testkit::CapturedStdout capture;
    try {
        PyxDevice::GetInstance();
        FAIL() << "a device without CreateInstance";
    } catch (const TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Pyx Device not allocated\n");
    }
    std::string out = tov_test::normalise_log(capture.take());
    EXPECT_EQ(out,
              "[Error] <time> [tov_core/device/pyx_device/PyxDevice.cpp_GetInstance():N] | Pyx Device not "
              "allocated\n\n");
}

TEST(PyxDevice, TheHeldIdIsKeptWithoutReadingItsFile)
{
    testkit::TempDir dir;
    std::string path = dir.write("0x20d.json", dit::Document("0x20d", Named("first")));
    PyxDevice& made = PyxDevice::CreateInstance(0x20Du, dir.path());
    EXPECT_EQ(&made, &PyxDevice::GetInstance());
    EXPECT_EQ(CurrentName(), "first");

    dir.write("0x20d.json", dit::Document("0x20d", Named("changed")));
    EXPECT_EQ(&PyxDevice::CreateInstance(0x20Du, dir.path()), &made);
    EXPECT_EQ(CurrentName(), "first");
    // Another directory does not count either.
    EXPECT_EQ(&PyxDevice::CreateInstance(0x20Du, "/nowhere"), &made);
    EXPECT_EQ(CurrentName(), "first");
}

TEST(PyxDevice, AnotherIdReplacesTheDeviceOnlyOnceItsFileIsRead)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", Named("varda5")));
    PyxDevice::CreateInstance(0x20Du, dir.path());

    EXPECT_THROW(PyxDevice::CreateInstance(0x20Fu, dir.path()), TovGeneralException);
    EXPECT_EQ(CurrentName(), "varda5");

    dir.write("0x20f.json", dit::Document("0x20f", Named("varda6")));
    PyxDevice::CreateInstance(0x20Fu, dir.path());
    EXPECT_EQ(CurrentName(), "varda6");
    EXPECT_TRUE(PyxDevice::GetInstance().GetDeviceInfo()->IsVarda6());
}

TEST(PyxDevice, TextIdsCompareAsText)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", Named("lower")));
    PyxDevice::CreateInstance(0x20Du, dir.path());
    // "0x20d" is what the number made: kept.
    PyxDevice::CreateInstance(std::string("0x20d"), "/nowhere");
    EXPECT_EQ(CurrentName(), "lower");
    // "0x20D" is another text: its own file is looked for, and there is none.
    EXPECT_THROW(PyxDevice::CreateInstance(std::string("0x20D"), dir.path()), TovGeneralException);
    EXPECT_EQ(CurrentName(), "lower");
    dir.write("0x20D.json", dit::Document("0x20D", Named("upper")));
    PyxDevice::CreateInstance(std::string("0x20D"), dir.path());
    EXPECT_EQ(CurrentName(), "upper");
}

TEST(PyxDevice, DeleteEmptiesTheHolderAndMayBeRepeated)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", Named("x")));
    PyxDevice::CreateInstance(0x20Du, dir.path());
    PyxDevice::DeleteInstance();
    EXPECT_THROW(PyxDevice::GetInstance(), TovGeneralException);
    PyxDevice::DeleteInstance();
    EXPECT_THROW(PyxDevice::GetInstance(), TovGeneralException);
    // A new device can be made afterwards, reading the file anew.
    dir.write("0x20d.json", dit::Document("0x20d", Named("again")));
    PyxDevice::CreateInstance(0x20Du, dir.path());
    EXPECT_EQ(CurrentName(), "again");
}

TEST(PyxDevice, AnEmptiedRecordIsKeptAndRefusesComparisons)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", Named("x")));
    PyxDevice& device = PyxDevice::CreateInstance(0x20Du, dir.path());
    device.GetDeviceInfo().reset();
    EXPECT_EQ(&PyxDevice::CreateInstance(0x20Fu, dir.path()), &device);
    EXPECT_THROW(device.IsAbove("varda5"), TovGeneralException);
}

// The family map and the chip tests name the same ids.
TEST(PyxDevice, FamilyMapAgreesWithTheChipTests)
{
    const std::pair<const char*, std::function<bool(DeviceInfo&)>> families[] = {
        {"varda3", &DeviceInfo::IsVarda3},   {"varda3b", &DeviceInfo::IsVarda3b}, {"varda4", &DeviceInfo::IsVarda4},
        {"varda4b", &DeviceInfo::IsVarda4b}, {"varda5", &DeviceInfo::IsVarda5},   {"varda6", &DeviceInfo::IsVarda6},
        {"varda6b", &DeviceInfo::IsVarda6b}, {"varda6c", &DeviceInfo::IsVarda6c}, {"varda7", &DeviceInfo::IsVarda7},
        {"varda8", &DeviceInfo::IsVarda8},   {"tessel", &DeviceInfo::IsTessel},   {"tessel2", &DeviceInfo::IsTessel2},
        {"tessel3", &DeviceInfo::IsTessel3}, {"tessel4", &DeviceInfo::IsTessel4}, {"hollin", &DeviceInfo::IsHollin},
        {"hollin2", &DeviceInfo::IsHollin2}, {"ferrow", &DeviceInfo::IsFerrow},   {"ferrow2", &DeviceInfo::IsFerrow2},
        {"ferrow3", &DeviceInfo::IsFerrow3}, {"ferrow4", &DeviceInfo::IsFerrow4}, {"ondrel", &DeviceInfo::IsOndrel},
        {"ondrel2", &DeviceInfo::IsOndrel2}, {"ondrel3", &DeviceInfo::IsOndrel3}, {"vq500", &DeviceInfo::IsVQ500},
    };
    EXPECT_EQ(tov_core::oDeviceMap.size(), sizeof families / sizeof families[0]);
    testkit::TempDir dir;
    for (const auto& family : families) {
        auto it = tov_core::oDeviceMap.find(family.first);
        ASSERT_NE(it, tov_core::oDeviceMap.end()) << family.first;
        std::string id = dit::HexId(it->second);
        dir.write(id + ".json", dit::Document(id, Named(family.first)));
        DeviceInfo info(static_cast<uint32_t>(it->second), dir.path());
        EXPECT_TRUE(family.second(info)) << family.first;
    }
}

struct SeriesCase {
    const char* name;
    const char* mySeries;
    int myIndex;
    const char* family;  // compared with
    const char* otherSeries;
    int otherIndex;
    bool above, below;
};

void PrintTo(const SeriesCase& c, std::ostream* os)
{
    *os << c.name;
}

class SeriesComparison : public testing::TestWithParam<SeriesCase> {};

TEST_P(SeriesComparison, ComparesSeriesAndIndex)
{
    const SeriesCase& c = GetParam();
    dit::DefaultDir defaults;
    Json::Value other = Named("other");
    other["general_info"]["series"] = c.otherSeries;
    other["general_info"]["series_index"] = c.otherIndex;
    defaults.write("0x20d", other);  // varda5

    testkit::TempDir mine;
    Json::Value device = Named("mine");
    device["general_info"]["series"] = c.mySeries;
    device["general_info"]["series_index"] = c.myIndex;
    mine.write("0x21e.json", dit::Document("0x21e", device));
    PyxDevice& current = PyxDevice::CreateInstance(0x21Eu, mine.path());

    EXPECT_EQ(current.IsAbove(c.family), c.above);
    EXPECT_EQ(current.IsAbove(c.family, true), c.above);
    EXPECT_EQ(current.IsBelow(c.family), c.below);
    EXPECT_EQ(current.IsAbove(c.family, false), c.below);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeriesComparison,
    testing::Values(SeriesCase{"Equal", "varda", 5, "varda5", "varda", 5, true, true},
                    SeriesCase{"Higher", "varda", 8, "varda5", "varda", 5, true, false},
                    SeriesCase{"Lower", "varda", 3, "varda5", "varda", 5, false, true},
                    SeriesCase{"UpperCaseName", "varda", 8, "VARDA5", "varda", 5, true, false},
                    SeriesCase{"OtherSeries", "tessel", 8, "varda5", "varda", 5, false, false},
                    SeriesCase{"SeriesCaseMatters", "Varda", 5, "varda5", "varda", 5, false, false},
                    // Indexes compare unsigned: -1 is the highest.
                    SeriesCase{"NegativeIndexIsHigh", "varda", -1, "varda5", "varda", 5, true, false}),
    [](const testing::TestParamInfo<SeriesCase>& info) { return std::string(info.param.name); });

TEST(PyxDevice, UnknownFamilyIsLoggedAndFalse)
{
    tov_test::PrintLogFrom("3");
    testkit::TempDir dir;
    Json::Value device = Named("mine");
    device["general_info"]["series"] = "varda";
    device["general_info"]["series_index"] = 5;
    dir.write("0x20d.json", dit::Document("0x20d", device));
    PyxDevice& current = PyxDevice::CreateInstance(0x20Du, dir.path());
    testkit::CapturedStdout capture;
    EXPECT_FALSE(current.IsAbove("Varda9"));
    EXPECT_FALSE(current.IsBelow("Varda9"));
    std::string out = tov_test::normalise_log(capture.take());
    const std::string line =
        "[Error] <time> [tov_core/device/pyx_device/PyxDevice.cpp_IsAbove():N] | name doesnt exist in device map: "
        "Varda9\n";
    EXPECT_EQ(out, line + line);
}

TEST(PyxDevice, ComparisonNeedsTheFamilysFileAndBothSeries)
{
    dit::DefaultDir defaults;  // no file for varda5
    testkit::TempDir dir;
    Json::Value device = Named("mine");
    device["general_info"]["series"] = "varda";
    device["general_info"]["series_index"] = 5;
    dir.write("0x21e.json", dit::Document("0x21e", device));
    PyxDevice& current = PyxDevice::CreateInstance(0x21Eu, dir.path());
    EXPECT_THROW(current.IsAbove("varda5"), TovGeneralException);

    defaults.write("0x20d", Named("no series"));
    EXPECT_THROW(current.IsAbove("varda5"), TovGeneralException);
}

TEST(PyxDevice, SharedFixturesCompareByGeneration)
{
    tov_test::ProductConfigFile config("tov_prefix_location=" + std::string(KELVRA_SOURCE_DIR) +
                                       "/tests/fixtures/\ndevice_info=device_info\n");
    PyxDevice& current = PyxDevice::CreateInstance(0x21Eu, "default");
    EXPECT_TRUE(current.IsAbove("varda5"));
    EXPECT_FALSE(current.IsBelow("varda5"));
    EXPECT_TRUE(current.IsAbove("varda8"));
    EXPECT_TRUE(current.IsBelow("varda8"));
}

}  // namespace
