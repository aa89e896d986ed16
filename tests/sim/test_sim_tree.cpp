/*
 * The fake PCI tree: what discovery and the user-level open read, who may
 * read and write it, and that it goes away cleanly.
 */
#include "tests/sim/sim_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

using namespace kelvra_sim;

namespace {

const std::string kRoot = "/sys/bus/pci/devices/";

std::set<std::string> list(const std::string& dir)
{
    std::set<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return out;
    }
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") {
            out.insert(n);
        }
    }
    closedir(d);
    return out;
}

std::string link_of(const std::string& path)
{
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? "" : std::string(buf, (size_t)n);
}

bool mounted_here()
{
    return testkit::read_file("/proc/self/mountinfo").find("kelvra-sim") != std::string::npos;
}

// The mount namespace the executable started in, held before any case moves
// the process into a private one, which it cannot leave again.
const int kStartNamespace = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);

int exit_code(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `check` in a new process of the namespace the executable started in,
// whatever namespace this process is in now; its exit status. The process
// is a child of one that joins that namespace: where process 1 is out of
// sight, its parent's namespace is the one it compares its own with.
template <typename Check>
int in_start_namespace(Check check)
{
    pid_t joiner = fork();
    if (joiner < 0) {
        return -1;
    }
    if (joiner == 0) {
        if (kStartNamespace < 0 || setns(kStartNamespace, CLONE_NEWNS) != 0) {
            _exit(90);
        }
        pid_t checker = fork();
        if (checker < 0) {
            _exit(91);
        }
        if (checker == 0) {
            _exit(check());
        }
        int status = 0;
        waitpid(checker, &status, 0);
        _exit(exit_code(status));
    }
    int status = 0;
    waitpid(joiner, &status, 0);
    return exit_code(status);
}

TEST_F(SimHostTest, AttributeFilesReadLikeSysfs)
{
    mount_preset("default");
    std::string f = kRoot + "0000:03:00.0/";
    EXPECT_EQ(list(kRoot), (std::set<std::string>{"0000:03:00.0", "0000:03:00.1"}));
    EXPECT_EQ(testkit::read_file(f + "vendor"), "0x15b3\n");
    EXPECT_EQ(testkit::read_file(f + "device"), "0x1021\n");
    EXPECT_EQ(testkit::read_file(f + "class"), "0x020000\n");
    EXPECT_EQ(testkit::read_file(f + "subsystem_vendor"), "0x15b3\n");
    EXPECT_EQ(testkit::read_file(f + "subsystem_device"), "0x0027\n");
    EXPECT_EQ(testkit::read_file(f + "numa_node"), "0\n");
    EXPECT_EQ(list(f + "infiniband"), std::set<std::string>{"qzhca0"});
    EXPECT_EQ(list(f + "net"), std::set<std::string>{"ens3f0np0"});
    std::string vpd = testkit::read_file(f + "vpd");
    ASSERT_GE(vpd.size(), 3u);
    EXPECT_EQ((uint8_t)vpd[0], 0x82);
    EXPECT_EQ(vpd.substr(3, 6), "KELVRA");
    // BAR0 agrees between the resource file and the header.
    uint64_t bar0 = bar0_address(fn().spec());
    char first[32];
    snprintf(first, sizeof first, "0x%016llx ", (unsigned long long)bar0);
    EXPECT_EQ(testkit::read_file(f + "resource").substr(0, 19), first);
    struct stat st;
    EXPECT_NE(stat((f + "resource0").c_str(), &st), 0);
}

TEST_F(SimHostTest, VirtualFunctionsAndMissingFiles)
{
    mount_preset("sriov");
    std::string pf = kRoot + "0000:03:00.0/";
    EXPECT_EQ(link_of(pf + "virtfn0"), "../0000:03:00.2");
    EXPECT_EQ(link_of(pf + "virtfn1"), "../0000:03:00.3");
    struct stat st;
    EXPECT_NE(lstat((pf + "virtfn2").c_str(), &st), 0);
    EXPECT_NE(lstat((pf + "physfn").c_str(), &st), 0);
    std::string vf = kRoot + "0000:03:00.2/";
    EXPECT_EQ(link_of(vf + "physfn"), "../0000:03:00.0");
    ASSERT_EQ(stat((vf + "physfn").c_str(), &st), 0);  // resolves inside the tree
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(testkit::read_file(kRoot + "0000:03:00.1/class"), "0x020700\n");
    std::set<std::string> aux = list(kRoot + "0000:03:00.1");
    EXPECT_EQ(aux.count("infiniband"), 0u);
    EXPECT_EQ(aux.count("vpd"), 0u);
}

TEST_F(SimHostTest, NumaNodeFileIsAbsentWhenUnset)
{
    HostSpec spec = host_preset("default");
    spec.functions[0].numa_node.clear();
    mount(spec);
    struct stat st;
    EXPECT_NE(stat((kRoot + "0000:03:00.0/numa_node").c_str(), &st), 0);
}

TEST_F(SimHostTest, UnprivilegedReadersSeeTheHeaderOnlyAndCannotWrite)
{
    mount_preset("default");
    std::string config = kRoot + "0000:03:00.0/config";
    testkit::RunOptions nobody;
    nobody.unprivileged = true;
    auto r = testkit::run({"/usr/bin/wc", "-c", config}, nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find(' ')), "64");
    r = testkit::run({"/bin/sh", "-c", "printf abcd | dd of=" + config + " bs=4 seek=60 conv=notrunc"}, nobody);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.config_writes; }), 0u);
    r = testkit::run({"/usr/bin/wc", "-c", config});
    EXPECT_EQ(r.out.substr(0, r.out.find(' ')), "4096");
}

TEST_F(SimHostTest, AttributesAreReadOnly)
{
    mount_preset("default");
    EXPECT_LT(open((kRoot + "0000:03:00.0/vendor").c_str(), O_WRONLY), 0);
    EXPECT_LT(open((kRoot + "0000:03:00.0/nothing").c_str(), O_RDONLY), 0);
}

TEST_F(SimHostTest, StopUnmountsAndIsIdempotent)
{
    mount_preset("default");
    EXPECT_TRUE(mounted_here());
    tree_->stop();
    EXPECT_FALSE(mounted_here());
    EXPECT_EQ(list(kRoot).count("0000:03:00.0"), 0u);
    tree_->stop();
    tree_.reset();
    EXPECT_FALSE(mounted_here());
}

TEST(SimNamespace, RefusesToMountOutsideAPrivateNamespace)
{
    Host host(host_preset("default"));
    // 1: taken for private; 2: mounted; 3: a tree left mounted after all.
    int refused = in_start_namespace([&host] {
        if (in_private_mount_namespace()) {
            return 1;
        }
        try {
            SysfsMount mount(host, kSysPciDevices);
            return 2;
        } catch (const std::runtime_error&) {
        }
        return mounted_here() ? 3 : 0;
    });
    EXPECT_EQ(refused, 0);
    testkit::enter_private_mount_namespace();
    EXPECT_TRUE(in_private_mount_namespace());
}

TEST_F(SimHostTest, MountsElsewhereToo)
{
    testkit::TempDir dir;
    testkit::enter_private_mount_namespace();
    host_.reset(new Host(host_preset("legacy")));
    tree_.reset(new SysfsMount(*host_, dir.path()));
    EXPECT_EQ(list(dir.path()), std::set<std::string>{"0000:05:00.0"});
    tree_.reset();
    EXPECT_TRUE(list(dir.path()).empty());
}

}  // namespace
