// Run-time loading through the real loader, against two tiny libraries
// built by the tests.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include "tests/common/capture.h"
#include "tests/tov_core/log_lines.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/load_shared_library/DynamicLinking.h"


namespace {

typedef int (*answer_fn)(void);

// True while the process holds the library (checked without loading it).
bool is_loaded(const char* path)
{
    void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) {
        return false;
    }
    dlclose(handle);
    return true;
}

int call_answer(DynamicLinking& loader)
{
    return reinterpret_cast<answer_fn>(loader.GetFunctionAddress("tov_test_answer", false))();
}

class DynamicLinkingTest : public testing::Test {
protected:
    void SetUp() override
    {
        tov_core::Logger::DeleteInstance();
        setenv("TOV_PRINT_LOG", "0", 1);
        ASSERT_FALSE(is_loaded(LIB_A));
        ASSERT_FALSE(is_loaded(LIB_B));
    }
};

TEST_F(DynamicLinkingTest, FactoryHandsOutANewEmptyLoaderEveryCall)
{
    auto a = FactoryDynamicLinking::GetInstance();
    auto b = FactoryDynamicLinking::GetInstance();
    EXPECT_NE(a.get(), b.get());
    EXPECT_NO_THROW(a->FreeDynamicLibrary());
}

TEST_F(DynamicLinkingTest, LoadsAndResolvesAndLogsEachStep)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    testkit::CapturedStdout capture;
    loader->LoadDynamicLibrary(LIB_A);
    EXPECT_EQ(call_answer(*loader), 1);
    std::string out = capture.take();
    const std::string where = "[Info] <time> [tov_core/tov_core_utils/load_shared_library/LinuxDynamicLinking.cpp_";
    EXPECT_EQ(tov_test::normalise_log(out),
              where + "LoadDynamicLibrary():N] | dlopen function called, library name: " + LIB_A + "\n" + where +
                  "LoadDynamicLibrary():N] | Dynamic library loaded successfully: " + LIB_A + "\n" + where +
                  "GetFunctionAddress():N] | dlsym function called, function name: tov_test_answer\n");
}

TEST_F(DynamicLinkingTest, MissingLibraryThrowsTheFrameworkExceptionWithTheLoaderText)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    testkit::CapturedStdout capture;
    try {
        loader->LoadDynamicLibrary("/nonexistent/libnothing.so");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        std::string what = e.what();
        EXPECT_EQ(what.rfind("Failed to load the shared library: /nonexistent/libnothing.so, dlerror: ", 0), 0u) << what;
        EXPECT_NE(what.find("No such file or directory"), std::string::npos) << what;
        EXPECT_EQ(what.back(), '\n');
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
    std::string out = capture.take();
    EXPECT_NE(out.find("[Error] "), std::string::npos) << out;
    EXPECT_NE(out.find("| Failed to load the shared library: /nonexistent/libnothing.so"), std::string::npos) << out;
}

TEST_F(DynamicLinkingTest, MissingSymbolThrowsWhenMandatoryAndGivesNullWhenOptional)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    loader->LoadDynamicLibrary(LIB_A);
    testkit::CapturedStdout capture;
    EXPECT_EQ(loader->GetFunctionAddress("tov_test_absent", true), nullptr);
    std::string out = capture.take();
    EXPECT_NE(out.find("[Info] "), std::string::npos);
    EXPECT_NE(out.find("| Failed to get the function address: tov_test_absent\n"), std::string::npos) << out;

    try {
        loader->GetFunctionAddress("tov_test_absent", false);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Failed to get the function addresstov_test_absent");
    }
}

TEST_F(DynamicLinkingTest, AnEarlierFailedLookupDoesNotFailAPresentSymbol)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    loader->LoadDynamicLibrary(LIB_A);
    dlsym(RTLD_DEFAULT, "tov_test_no_such_symbol");  // leaves an error behind
    EXPECT_EQ(loader->GetFunctionAddress("tov_test_absent", true), nullptr);
    EXPECT_EQ(call_answer(*loader), 1);
    // A symbol whose value is null is present, not missing.
    void* address = loader->GetFunctionAddress("tov_test_null_pointer", false);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(*static_cast<void**>(address), nullptr);
}

TEST_F(DynamicLinkingTest, EmptyLoaderFindsNothingAndNeverTheProcessSymbols)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    EXPECT_EQ(loader->GetFunctionAddress("malloc", true), nullptr);
    EXPECT_THROW(loader->GetFunctionAddress("malloc", false), std::invalid_argument);
}

TEST_F(DynamicLinkingTest, LoadingAgainReleasesThePreviousLibrary)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    loader->LoadDynamicLibrary(LIB_A);
    loader->LoadDynamicLibrary(LIB_B);
    EXPECT_FALSE(is_loaded(LIB_A));
    EXPECT_TRUE(is_loaded(LIB_B));
    EXPECT_EQ(call_answer(*loader), 2);

    // The same library again keeps it loaded exactly once for this loader.
    loader->LoadDynamicLibrary(LIB_B);
    EXPECT_EQ(call_answer(*loader), 2);
    loader->FreeDynamicLibrary();
    EXPECT_FALSE(is_loaded(LIB_B));
}

TEST_F(DynamicLinkingTest, FailedLoadKeepsTheLibraryHeldBefore)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    loader->LoadDynamicLibrary(LIB_A);
    EXPECT_THROW(loader->LoadDynamicLibrary("/nonexistent/libnothing.so"), tov_core::TovGeneralException);
    EXPECT_TRUE(is_loaded(LIB_A));
    EXPECT_EQ(call_answer(*loader), 1);
}

TEST_F(DynamicLinkingTest, FreeReleasesOnceAndThenDoesNothing)
{
    auto loader = FactoryDynamicLinking::GetInstance();
    loader->LoadDynamicLibrary(LIB_A);
    ASSERT_TRUE(is_loaded(LIB_A));
    loader->FreeDynamicLibrary();
    EXPECT_FALSE(is_loaded(LIB_A));
    EXPECT_NO_THROW(loader->FreeDynamicLibrary());
    EXPECT_EQ(loader->GetFunctionAddress("tov_test_answer", true), nullptr);
}

TEST_F(DynamicLinkingTest, DestroyingALoaderReleasesItsLibrary)
{
    {
        auto loader = FactoryDynamicLinking::GetInstance();
        loader->LoadDynamicLibrary(LIB_A);
        ASSERT_TRUE(is_loaded(LIB_A));
    }
    EXPECT_FALSE(is_loaded(LIB_A));
}

TEST_F(DynamicLinkingTest, TwoLoadersOfOneLibraryAreIndependent)
{
    auto first = FactoryDynamicLinking::GetInstance();
    auto second = FactoryDynamicLinking::GetInstance();
    first->LoadDynamicLibrary(LIB_A);
    second->LoadDynamicLibrary(LIB_A);
    first.reset();
    EXPECT_TRUE(is_loaded(LIB_A));
    EXPECT_EQ(call_answer(*second), 1);
    second.reset();
    EXPECT_FALSE(is_loaded(LIB_A));
}

}  // namespace
