// Fixtures for the fixed paths of the back-ends, visible only inside the
// test process's private mount namespace; the host's files stay untouched.
#ifndef KELVRA_TESTS_BACKENDS_FIXED_ROOT_H
#define KELVRA_TESTS_BACKENDS_FIXED_ROOT_H

#include <optional>
#include <string>

namespace backend_test {

// Makes the file `target` a symbolic link to `source`, or makes sure there
// is no such file when source is empty-optional. The deepest directory of
// target's path that exists gets a writable overlay on a tmpfs; the
// missing directories are created in it.
class FixedFile {
public:
    FixedFile(const std::string& target, const std::optional<std::string>& source);
    ~FixedFile();
    FixedFile(const FixedFile&) = delete;
    FixedFile& operator=(const FixedFile&) = delete;

private:
    std::string overlaid_;
    std::string scratch_;
};

// A root of the test process's own: a tmpfs (mounted over /mnt, whose
// content the tests do not need) into which every directory at the top of
// the host's root is bound and every symbolic link there copied, entered
// with chroot. Files directly under "/" can then be made and removed
// freely. There is no way back for the process; later calls do nothing.
void EnterPrivateRoot();

}  // namespace backend_test

#endif
