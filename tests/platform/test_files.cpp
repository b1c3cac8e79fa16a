// File services: temporary names and files, mapping, copy and move, masks,
// directory search, writer locks, error texts, tick count, fault injection.
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include "common/codepage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarmin::platform;
using namespace tarmin::cp::literals;
using tarmin::test::make_temp_dir;
using tarmin::test::names_in;
namespace tt = tarmin::test;

namespace {

// An open descriptor of the file, holding the writer's lock of the kind.
struct HeldFile {
    HeldFile(const fs::path &p, WriterLock::Kind kind) {
        fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(lock.lock(fd, kind, false));
    }
    ~HeldFile() {
        lock.release();
        ::close(fd);
    }
    int fd = -1;
    WriterLock lock;
};

struct EnvGuard {
    explicit EnvGuard(std::vector<std::string> names) : names_(std::move(names)) {
        for (const auto &n : names_) {
            const char *v = std::getenv(n.c_str());
            saved_.emplace_back(v ? std::optional<std::string>(v) : std::nullopt);
        }
    }
    ~EnvGuard() {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (saved_[i])
                ::setenv(names_[i].c_str(), saved_[i]->c_str(), 1);
            else
                ::unsetenv(names_[i].c_str());
        }
    }
    std::vector<std::string> names_;
    std::vector<std::optional<std::string>> saved_;
};

} // namespace

// ---- Temporary names and files ---------------------------------------------------------------

TEST(PlatformTempNames, TemporaryDirectoryFollowsTmpTempTmpdir) {
    EnvGuard env({"TMP", "TEMP", "TMPDIR"});
    ::setenv("TMP", "/a", 1);
    ::setenv("TEMP", "/b/", 1);
    ::setenv("TMPDIR", "/c", 1);
    EXPECT_EQ(temp_directory(), "/a/");
    ::unsetenv("TMP");
    EXPECT_EQ(temp_directory(), "/b/");
    ::setenv("TEMP", "", 1);
    EXPECT_EQ(temp_directory(), "/c/");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(temp_directory(), "/tmp/");
}

TEST(PlatformTempNames, CreatesDistinctFilesWithPrefixAndHexNumber) {
    fs::path dir = make_temp_dir("tn");
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        auto name = temp_file_name(dir.string(), "gwxyz");
        ASSERT_TRUE(name) << error_text_utf8(last_error());
        std::string base(file_name_of(*name));
        // "gwx", one to four upper-case hex digits, ".tmp"
        ASSERT_GE(base.size(), 8u);
        EXPECT_EQ(base.substr(0, 3), "gwx");
        EXPECT_EQ(base.substr(base.size() - 4), ".tmp");
        std::string digits = base.substr(3, base.size() - 7);
        EXPECT_TRUE(digits.size() >= 1 && digits.size() <= 4) << base;
        EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << base;
        EXPECT_TRUE(fs::is_regular_file(*name));
        EXPECT_TRUE(seen.insert(base).second) << "repeated " << base;
    }
    // A directory given with a backslash at its end joins with one "/".
    auto name = temp_file_name(dir.string() + "\\", "gw");
    ASSERT_TRUE(name);
    EXPECT_EQ(fs::path(*name).parent_path(), dir);
}

TEST(PlatformTempNames, GivenNumberOnlyFormsTheName) {
    fs::path dir = make_temp_dir("tn");
    auto name = temp_file_name(dir.string(), "gw", 0x11A2B);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, (dir / "gw1A2B.tmp").string());
    EXPECT_FALSE(fs::exists(*name));
}

TEST(PlatformTempNames, MissingDirectoryFails) {
    fs::path dir = make_temp_dir("tn") / "missing";
    EXPECT_FALSE(temp_file_name(dir.string(), "gw"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
}

TEST(PlatformTempFile, NameIsGoneWhileOpenAndContentReadsBack) {
    fs::path dir = make_temp_dir("tf");
    std::string path = (dir / "TMN0000.TMP").string();
    TempFile f;
    ASSERT_TRUE(f.create(path)) << error_text_utf8(last_error());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(f.path(), path);
    ASSERT_TRUE(f.write("abc"));
    ASSERT_TRUE(f.write(std::string(70000, 'x')));
    EXPECT_EQ(f.size().value_or(0), 70003u);
    auto all = f.read_all();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->substr(0, 3), "abc");
    // Reading back does not disturb appending.
    ASSERT_TRUE(f.write("end"));
    EXPECT_EQ(f.read_all()->substr(70003), "end");
    EXPECT_TRUE(names_in(dir).empty());
}

TEST(PlatformTempFile, CloseZeroedOverwritesEveryByte) {
    fs::path dir = make_temp_dir("tf");
    TempFile f;
    ASSERT_TRUE(f.create((dir / "TMB1.TMP").string()));
    std::string secret(100000, 's');
    ASSERT_TRUE(f.write(secret));
    // A second open file of the same (nameless) file sees what reaches the disk.
    std::string proc = "/proc/self/fd/" + std::to_string(f.fd());
    int spy = ::open(proc.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(spy, 0);
    EXPECT_TRUE(f.close_zeroed());
    EXPECT_FALSE(f.is_open());
    std::string after(secret.size(), '?');
    ASSERT_EQ(::pread(spy, after.data(), after.size(), 0), static_cast<ssize_t>(after.size()));
    ::close(spy);
    EXPECT_EQ(after, std::string(secret.size(), '\0'));
    EXPECT_TRUE(f.close_zeroed()); // closing twice is harmless
}

TEST(PlatformTempFile, CreateFailures) {
    fs::path dir = make_temp_dir("tf");
    TempFile f;
    EXPECT_FALSE(f.create((dir / "missing" / "x.TMP").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    // A link planted under the name is not followed.
    fs::path target = dir / "target";
    tt::write_file(target, "keep");
    fs::create_symlink(target, dir / "link.TMP");
    EXPECT_FALSE(f.create((dir / "link.TMP").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ELOOP));
    EXPECT_EQ(tt::read_file(target), "keep");
    EXPECT_FALSE(f.write("x"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EBADF));
}

// ---- Opening and writing -----------------------------------------------------------------------

TEST(PlatformFile, CreationModes) {
    fs::path dir = make_temp_dir("f");
    std::string p = (dir / "a.txt").string();
    File f;
    EXPECT_FALSE(f.open(p, kRead));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    ASSERT_TRUE(f.open(p, kWrite | kCreateNew));
    ASSERT_TRUE(f.write("first"));
    ASSERT_TRUE(f.close());
    EXPECT_FALSE(f.open(p, kWrite | kCreateNew));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EEXIST));
    ASSERT_TRUE(f.open(p, kAppend | kOpenAlways));
    ASSERT_TRUE(f.write("+more"));
    f.close();
    EXPECT_EQ(tt::read_file(p), "first+more");
    ASSERT_TRUE(tarmin::platform::write_file(p, "new"));
    EXPECT_EQ(tarmin::platform::read_file(p).value_or(""), "new");
    EXPECT_FALSE(tarmin::platform::read_file((dir / "none").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    ASSERT_TRUE(f.open(p, kRead));
    EXPECT_EQ(f.read_all().value_or(""), "new");
}

TEST(PlatformFile, FullDeviceReportsDiskFull) {
    File f;
    ASSERT_TRUE(f.open("/dev/full", kWrite));
    EXPECT_FALSE(f.write("data"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOSPC));
    EXPECT_FALSE(tarmin::platform::write_file("/dev/full", "x"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOSPC));
}

TEST(PlatformFile, NoPermissionWhenNotRoot) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    fs::path dir = make_temp_dir("f");
    fs::path p = dir / "locked.txt";
    tt::write_file(p, "x");
    fs::permissions(p, fs::perms::none);
    File f;
    EXPECT_FALSE(f.open(p.string(), kRead));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EACCES));
    fs::permissions(p, fs::perms::owner_all);
}

TEST(PlatformFile, QueriesAndDirectories) {
    fs::path dir = make_temp_dir("q");
    std::string p = (dir / "s.bin").string();
    tt::write_file(p, std::string(1234, 'z'));
    struct timespec times[2] = {{1000000000, 0}, {1500000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    auto info = file_info(p);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->is_regular);
    EXPECT_FALSE(info->is_directory);
    EXPECT_EQ(info->size, 1234u);
    EXPECT_EQ(info->mtime, 1500000000);
    EXPECT_EQ(info->mtime_nsec, 250000000);
    EXPECT_EQ(file_size(p).value_or(0), 1234u);
    EXPECT_FALSE(file_size((dir / "none").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    EXPECT_TRUE(file_exists(p));
    EXPECT_FALSE(directory_exists(p));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOTDIR));

    std::string sub = (dir / "job").string();
    ASSERT_TRUE(create_directory(sub));
    EXPECT_TRUE(directory_exists(sub));
    EXPECT_FALSE(create_directory(sub));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EEXIST));
    tt::write_file(dir / "job" / "f", "x");
    EXPECT_FALSE(remove_directory(sub));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOTEMPTY));
    EXPECT_TRUE(remove_file((dir / "job" / "f").string()));
    EXPECT_FALSE(remove_file((dir / "job" / "f").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    EXPECT_TRUE(remove_directory(sub));
}

TEST(PlatformPaths, SlashesAndNames) {
    EXPECT_EQ(with_trailing_slash(""), "");
    EXPECT_EQ(with_trailing_slash("/a/b"), "/a/b/");
    EXPECT_EQ(with_trailing_slash("/a/b/"), "/a/b/");
    EXPECT_EQ(with_trailing_slash("/a/b\\"), "/a/b/");
    EXPECT_EQ(with_trailing_slash("/"), "/");
    EXPECT_EQ(join_path("/a\\", "x.csv"), "/a/x.csv");
    EXPECT_EQ(join_path("", "x"), "x");
    EXPECT_EQ(file_name_of("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(file_name_of("C:\\x\\y.txt"), "y.txt");
    EXPECT_EQ(file_name_of("plain"), "plain");
}

// ---- Mapping ----------------------------------------------------------------------------------

TEST(PlatformMappedFile, MapsTheWholeFile) {
    fs::path dir = make_temp_dir("m");
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    tt::write_file(dir / "att.bin", content);
    MappedFile m;
    ASSERT_TRUE(m.open((dir / "att.bin").string())) << error_text_utf8(last_error());
    EXPECT_EQ(m.size(), content.size());
    EXPECT_EQ(m.view(), content);
    EXPECT_EQ(m.failed_stage(), MappedFile::Stage::none);
    MappedFile moved = std::move(m);
    EXPECT_FALSE(m.is_open());
    EXPECT_EQ(moved.view(), content);
    moved.close();
    EXPECT_FALSE(moved.is_open());
}

TEST(PlatformMappedFile, FailuresNameTheirStage) {
    fs::path dir = make_temp_dir("m");
    MappedFile m;
    EXPECT_FALSE(m.open((dir / "missing").string()));
    EXPECT_EQ(m.failed_stage(), MappedFile::Stage::open);
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));

    tt::write_file(dir / "empty", "");
    EXPECT_FALSE(m.open((dir / "empty").string()));
    EXPECT_EQ(m.failed_stage(), MappedFile::Stage::mapping);
    EXPECT_EQ(last_error(), kErrorFileEmpty);
    EXPECT_FALSE(m.is_open());

    ASSERT_TRUE(m.open((dir / "empty").string(), true));
    EXPECT_TRUE(m.is_open());
    EXPECT_EQ(m.size(), 0u);
    EXPECT_TRUE(m.view().empty());

    EXPECT_FALSE(m.open(dir.string()));
    EXPECT_EQ(m.failed_stage(), MappedFile::Stage::mapping);
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EISDIR));

    tt::write_file(dir / "held", "partial");
    HeldFile writer(dir / "held", WriterLock::Kind::flock);
    EXPECT_FALSE(m.open((dir / "held").string()));
    EXPECT_EQ(m.failed_stage(), MappedFile::Stage::open);
    EXPECT_EQ(last_error(), kErrorSharingViolation);
}

// ---- Copy and move ----------------------------------------------------------------------------

TEST(PlatformCopy, CopiesContentModeAndTime) {
    fs::path dir = make_temp_dir("c");
    fs::path src = dir / "src.bin";
    tt::write_file(src, std::string(200000, 'q') + "tail");
    ::chmod(src.c_str(), 0640);
    struct timespec times[2] = {{1600000000, 0}, {1600000123, 0}};
    ::utimensat(AT_FDCWD, src.c_str(), times, 0);
    fs::path dst = dir / "dst.bin";
    ASSERT_TRUE(copy_file(src.string(), dst.string(), true)) << error_text_utf8(last_error());
    EXPECT_EQ(tt::read_file(dst), tt::read_file(src));
    struct stat st {};
    ::stat(dst.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000123);
}

TEST(PlatformCopy, ExistingTargetAndReplacement) {
    fs::path dir = make_temp_dir("c");
    tt::write_file(dir / "src", "new content");
    tt::write_file(dir / "dst", "old");
    EXPECT_FALSE(copy_file((dir / "src").string(), (dir / "dst").string(), true));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EEXIST));
    EXPECT_EQ(tt::read_file(dir / "dst"), "old");
    ASSERT_TRUE(copy_file((dir / "src").string(), (dir / "dst").string(), false));
    EXPECT_EQ(tt::read_file(dir / "dst"), "new content");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"dst", "src"}));
    // Over itself: refused, content kept.
    EXPECT_FALSE(copy_file((dir / "src").string(), (dir / "src").string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(tt::read_file(dir / "src"), "new content");
}

TEST(PlatformCopy, FailuresLeaveNoPartialTarget) {
    fs::path dir = make_temp_dir("c");
    tt::write_file(dir / "src", std::string(100000, 'a'));
    EXPECT_FALSE(copy_file((dir / "none").string(), (dir / "dst").string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    EXPECT_FALSE(copy_file((dir / "src").string(), (dir / "no" / "dst").string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    EXPECT_FALSE(copy_file(dir.string(), (dir / "dst").string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EISDIR));

    tt::write_file(dir / "dst", "old");
    {
        ScopedFault full(FaultPoint::write, ENOSPC);
        EXPECT_FALSE(copy_file((dir / "src").string(), (dir / "dst").string(), false));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOSPC));
    }
    EXPECT_EQ(tt::read_file(dir / "dst"), "old");
    {
        ScopedFault full(FaultPoint::write, ENOSPC);
        EXPECT_FALSE(copy_file((dir / "src").string(), (dir / "new").string(), true));
    }
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"dst", "src"}));
}

TEST(PlatformCopy, SourceHeldByItsWriterIsRefused) {
    fs::path dir = make_temp_dir("c");
    tt::write_file(dir / "flocked", "a");
    tt::write_file(dir / "ranged", "b");
    {
        HeldFile w1(dir / "flocked", WriterLock::Kind::flock);
        HeldFile w2(dir / "ranged", WriterLock::Kind::fcntl);
        EXPECT_FALSE(copy_file((dir / "flocked").string(), (dir / "o1").string(), false));
        EXPECT_EQ(last_error(), kErrorSharingViolation);
        EXPECT_TRUE(is_held_by_writer_error(last_error()));
        EXPECT_FALSE(copy_file((dir / "ranged").string(), (dir / "o2").string(), false));
        EXPECT_EQ(last_error(), kErrorLockViolation);
        EXPECT_FALSE(fs::exists(dir / "o1"));
        EXPECT_FALSE(fs::exists(dir / "o2"));
    }
    // Once the writer is done, a later attempt takes the file.
    EXPECT_TRUE(copy_file((dir / "flocked").string(), (dir / "o1").string(), false));
    EXPECT_TRUE(copy_file((dir / "ranged").string(), (dir / "o2").string(), false));
}

TEST(PlatformMove, RenamesWithAndWithoutReplacing) {
    fs::path dir = make_temp_dir("mv");
    tt::write_file(dir / "a", "A");
    tt::write_file(dir / "b", "B");
    EXPECT_FALSE(move_file((dir / "a").string(), (dir / "b").string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EEXIST));
    EXPECT_EQ(tt::read_file(dir / "a"), "A");
    EXPECT_EQ(tt::read_file(dir / "b"), "B");
    ASSERT_TRUE(move_file((dir / "a").string(), (dir / "b").string(), true));
    EXPECT_EQ(tt::read_file(dir / "b"), "A");
    EXPECT_FALSE(fs::exists(dir / "a"));
    ASSERT_TRUE(move_file((dir / "b").string(), (dir / "c").string(), false));
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"c"});
    EXPECT_FALSE(move_file((dir / "none").string(), (dir / "d").string(), true));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
}

TEST(PlatformMove, SourceHeldByItsWriterStays) {
    fs::path dir = make_temp_dir("mv");
    tt::write_file(dir / "held", "x");
    HeldFile writer(dir / "held", WriterLock::Kind::flock);
    EXPECT_FALSE(move_file((dir / "held").string(), (dir / "to").string(), true));
    EXPECT_EQ(last_error(), kErrorSharingViolation);
    EXPECT_TRUE(fs::exists(dir / "held"));
    EXPECT_FALSE(remove_file((dir / "held").string()));
    EXPECT_EQ(last_error(), kErrorSharingViolation);
    EXPECT_TRUE(fs::exists(dir / "held"));
}

TEST(PlatformMove, AcrossFileSystemsCopiesThenDeletes) {
    fs::path here = make_temp_dir("mv");
    fs::path there = "/dev/shm";
    struct stat a {}, b {};
    if (::stat(here.c_str(), &a) != 0 || ::stat(there.c_str(), &b) != 0 || a.st_dev == b.st_dev ||
        ::access(there.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system here";
    fs::path target = there / ("tarmin-mv-" + std::to_string(::getpid()));
    tt::write_file(here / "src", "cross device");
    ::chmod((here / "src").c_str(), 0600);
    ASSERT_TRUE(move_file((here / "src").string(), target.string(), false)) << error_text_utf8(last_error());
    EXPECT_FALSE(fs::exists(here / "src"));
    EXPECT_EQ(tt::read_file(target), "cross device");
    // Back again onto an existing file: refused without replacing.
    tt::write_file(here / "src", "other");
    EXPECT_FALSE(move_file(target.string(), (here / "src").string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EEXIST));
    EXPECT_TRUE(fs::exists(target));
    ASSERT_TRUE(move_file(target.string(), (here / "src").string(), true));
    EXPECT_EQ(tt::read_file(here / "src"), "cross device");
    EXPECT_FALSE(fs::exists(target));
    // A directory does not move across file systems.
    fs::create_directory(here / "d");
    fs::path dtarget = there / ("tarmin-mvd-" + std::to_string(::getpid()));
    EXPECT_FALSE(move_file((here / "d").string(), dtarget.string(), false));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EXDEV));
    EXPECT_TRUE(fs::is_directory(here / "d"));
}

// ---- Masks and directory search ---------------------------------------------------------------

TEST(PlatformMasks, MatchTable) {
    struct Case {
        const char *mask;
        std::string name;
        bool match;
    };
    const Case cases[] = {
        {"*.csv", "A.CSV", true},
        {"*.csv", "errors.Csv", true},
        {"*.csv", "a.csv.bak", false},
        {"*.csv", "csv", false},
        {"err*.csv", "ERR20240101.csv", true},
        {"err*.csv", "xerr.csv", false},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"?.txt", ".txt", false},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbY", false},
        {"*ab", "aab", true},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false},
        {"*", "anything", true},
        {"*.*", "noext", true},
        {"*.*", "a.b", true},
        {"*.", "noext", true},
        {"*.", "a.b", false},
        {"abc.", "ABC", true},
        {"*.csv", "", false},
        {"", "a", false},
        {"gw*.tmp", "GW1A2B.TMP", true},
        // Cyrillic letters without regard to case, UTF-8 names ...
        {"ОТЧЁТ*.csv", "отчёт1.CSV", true},
        {"отчёт*.csv", "ОТЧЕТ1.csv", false}, // Ё and Е stay different letters
        {"?.txt", "я.txt", true},            // one letter of two bytes
        // ... and Windows-1251 names against a UTF-8 mask.
        {"отч*.csv", std::string("\xCE\xD2\xD7") + "1.csv", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(mask_matches(c.mask, c.name), c.match) << "mask " << c.mask << " name " << c.name;
    // A Windows-1251 mask against a UTF-8 name.
    EXPECT_TRUE(mask_matches("ЭЦП.tms"_w, "эцп.TMS"));
    EXPECT_FALSE(mask_matches("ЭЦП.tms"_w, "эцп.TMB"));
}

TEST(PlatformFindFiles, ListsMatchingEntriesInNameOrder) {
    fs::path dir = make_temp_dir("ff");
    tt::write_file(dir / "b.CSV", "12345");
    tt::write_file(dir / "a.csv", "1");
    tt::write_file(dir / "c.txt", "");
    fs::create_directory(dir / "sub.csv");
    fs::create_symlink(dir / "a.csv", dir / "link.csv");
    fs::create_symlink(dir / "gone", dir / "dangling.csv");
    auto all = find_files(dir.string(), "*.csv");
    ASSERT_TRUE(all);
    std::vector<std::string> names;
    for (const auto &e : *all) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.csv", "b.CSV", "dangling.csv", "link.csv", "sub.csv"}));
    EXPECT_EQ((*all)[1].size, 5u);
    EXPECT_FALSE((*all)[1].is_directory);
    EXPECT_EQ((*all)[3].size, 1u); // a link reports its target
    EXPECT_TRUE((*all)[4].is_directory);

    auto every = find_files(dir.string() + "\\", "*");
    ASSERT_TRUE(every);
    EXPECT_EQ(every->size(), 6u); // no "." or ".."

    auto joined = find_files((dir / "*.txt").string());
    ASSERT_TRUE(joined);
    ASSERT_EQ(joined->size(), 1u);
    EXPECT_EQ((*joined)[0].name, "c.txt");

    auto none = find_files(dir.string(), "*.xml");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(PlatformFindFiles, UnreadableDirectoryFails) {
    fs::path dir = make_temp_dir("ff");
    EXPECT_FALSE(find_files((dir / "missing").string(), "*"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    tt::write_file(dir / "file", "x");
    EXPECT_FALSE(find_files((dir / "file").string(), "*"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOTDIR));
}

// ---- Writer locks ------------------------------------------------------------------------------

TEST(PlatformWriterLocks, StatesOfTheTwoKinds) {
    fs::path dir = make_temp_dir("wl");
    fs::path p = dir / "log.csv";
    tt::write_file(p, "header\n");
    EXPECT_EQ(writer_lock_state(p.string()), 0u);
    EXPECT_FALSE(held_by_writer(p.string()));
    {
        HeldFile w(p, WriterLock::Kind::flock);
        EXPECT_EQ(writer_lock_state(p.string()), kErrorSharingViolation);
        EXPECT_TRUE(held_by_writer(p.string()));
        EXPECT_EQ(last_error(), kErrorSharingViolation);
        // Asking through the writer's own descriptor keeps its lock.
        EXPECT_EQ(writer_lock_state(w.fd), kErrorSharingViolation);
        int other = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_NE(::flock(other, LOCK_SH | LOCK_NB), 0);
        ::close(other);
        // A plain reader is not refused.
        File reader;
        EXPECT_TRUE(reader.open(p.string(), kRead));
        EXPECT_FALSE(reader.open(p.string(), kRead | kDenyWriters));
        EXPECT_EQ(last_error(), kErrorSharingViolation);
    }
    EXPECT_EQ(writer_lock_state(p.string()), 0u);
    {
        HeldFile w(p, WriterLock::Kind::fcntl);
        EXPECT_EQ(writer_lock_state(p.string()), kErrorLockViolation);
        EXPECT_EQ(writer_lock_state(w.fd), kErrorLockViolation);
        // A second writer cannot take it without waiting.
        int fd2 = ::open(p.c_str(), O_RDWR | O_CLOEXEC);
        WriterLock second;
        EXPECT_FALSE(second.lock(fd2, WriterLock::Kind::fcntl, false));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(EWOULDBLOCK));
        ::close(fd2);
    }
    EXPECT_EQ(writer_lock_state(p.string()), 0u);
    EXPECT_EQ(writer_lock_state((dir / "none").string()), static_cast<uint32_t>(ENOENT));
    EXPECT_FALSE(held_by_writer((dir / "none").string()));
}

TEST(PlatformWriterLocks, LockHeldByAnotherProcess) {
    fs::path dir = make_temp_dir("wl");
    fs::path p = dir / "log.csv";
    fs::path ready = dir / "ready";
    tt::write_file(p, "x");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open(p.c_str(), O_RDWR);
        ::flock(fd, LOCK_EX);
        int r = ::open(ready.c_str(), O_CREAT | O_WRONLY, 0644);
        ::close(r);
        ::pause();
        ::_exit(0);
    }
    for (int i = 0; i < 500 && !fs::exists(ready); ++i) ::usleep(10000);
    EXPECT_EQ(writer_lock_state(p.string()), kErrorSharingViolation);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(writer_lock_state(p.string()), 0u);
}

// ---- Last error and its text -----------------------------------------------------------------

TEST(PlatformLastError, CodesTextsAndThreads) {
    set_last_error(kErrorSharingViolation);
    EXPECT_STREQ(error_text(kErrorSharingViolation).c_str(),
                 "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом."_w);
    EXPECT_EQ(error_text_utf8(kErrorFileEmpty), "Файл нулевой длины нельзя спроецировать на память.");
    EXPECT_EQ(error_text_utf8(ENOENT), std::strerror(ENOENT));
    EXPECT_EQ(error_text(ENOSPC), tarmin::cp::utf8_to_cp1251(std::strerror(ENOSPC)));

    // errno values 32 and 33 do not pass for the sharing and lock violations.
    uint32_t pipe = set_last_error_from_errno(EPIPE);
    EXPECT_NE(pipe, kErrorSharingViolation);
    EXPECT_FALSE(is_held_by_writer_error(pipe));
    EXPECT_EQ(errno_of(pipe), EPIPE);
    EXPECT_EQ(error_text_utf8(pipe), std::strerror(EPIPE));
    EXPECT_EQ(errno_of(set_last_error_from_errno(EDOM)), EDOM);
    EXPECT_EQ(errno_of(kErrorSharingViolation), 0);
    EXPECT_EQ(errno_of(ENOENT), ENOENT);

    set_last_error(7);
    uint32_t seen = 99;
    std::thread([&] {
        seen = last_error();
        set_last_error(5);
    }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(last_error(), 7u);
}

TEST(PlatformTickCount, MonotonicMillisecondsWrappingAt32Bits) {
    uint64_t a64 = tick_count64();
    uint32_t a32 = tick_count();
    EXPECT_LE(static_cast<uint32_t>(a32 - static_cast<uint32_t>(a64)), 5u);
    ::usleep(30000);
    uint64_t b64 = tick_count64();
    EXPECT_GE(b64 - a64, 25u);
    EXPECT_LT(b64 - a64, 5000u);
}

// ---- Fault injection --------------------------------------------------------------------------

TEST(PlatformFaults, NextWritesAndCreatesFailWithTheChosenError) {
    fs::path dir = make_temp_dir("fi");
    File f;
    ASSERT_TRUE(f.open((dir / "a").string(), kWrite | kCreateAlways));
    {
        ScopedFault full(FaultPoint::write, ENOSPC, 2);
        EXPECT_EQ(faults_pending(FaultPoint::write), 2);
        EXPECT_FALSE(f.write("1"));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOSPC));
        EXPECT_FALSE(f.write("2"));
        EXPECT_TRUE(f.write("3"));
    }
    f.close();
    EXPECT_EQ(tt::read_file(dir / "a"), "3"); // failed writes wrote nothing

    {
        // The third creation fails; the two before succeed.
        ScopedFault later(FaultPoint::create, EACCES, 1, 2);
        EXPECT_TRUE(create_directory((dir / "d1").string()));
        EXPECT_TRUE(temp_file_name(dir.string(), "gw").has_value());
        TempFile t;
        EXPECT_FALSE(t.create((dir / "t.TMP").string()));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(EACCES));
        EXPECT_TRUE(t.create((dir / "t.TMP").string()));
    }
    {
        ScopedFault gone(FaultPoint::create, ENOSPC, 5);
    }
    EXPECT_EQ(faults_pending(FaultPoint::create), 0); // cleared with its scope
    EXPECT_TRUE(create_directory((dir / "d2").string()));
}

TEST(PlatformFaults, EveryKindReachesItsOperation) {
    fs::path dir = make_temp_dir("fi");
    tt::write_file(dir / "src", "data");
    tt::write_file(dir / "other", "o");
    {
        ScopedFault f(FaultPoint::open, EMFILE);
        MappedFile m;
        EXPECT_FALSE(m.open((dir / "src").string()));
        EXPECT_EQ(m.failed_stage(), MappedFile::Stage::open);
        EXPECT_EQ(last_error(), static_cast<uint32_t>(EMFILE));
    }
    {
        ScopedFault f(FaultPoint::map, ENOMEM);
        MappedFile m;
        EXPECT_FALSE(m.open((dir / "src").string()));
        EXPECT_EQ(m.failed_stage(), MappedFile::Stage::mapping);
        EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOMEM));
    }
    {
        ScopedFault f(FaultPoint::rename, EIO);
        EXPECT_FALSE(move_file((dir / "src").string(), (dir / "dst").string(), true));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(EIO));
    }
    {
        // The final rename of a replacing copy fails: the old target stays and
        // the copy under its temporary name is gone.
        ScopedFault f(FaultPoint::rename, EIO);
        EXPECT_FALSE(copy_file((dir / "other").string(), (dir / "src").string(), false));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(EIO));
        EXPECT_EQ(names_in(dir), (std::vector<std::string>{"other", "src"}));
    }
    EXPECT_EQ(tt::read_file(dir / "src"), "data");
    {
        ScopedFault f(FaultPoint::remove, EBUSY);
        EXPECT_FALSE(remove_file((dir / "src").string()));
        EXPECT_EQ(last_error(), static_cast<uint32_t>(EBUSY));
    }
    EXPECT_TRUE(fs::exists(dir / "src"));
    // An injected code of our own reaches callers unchanged.
    {
        ScopedFault f(FaultPoint::write, kErrorLockViolation);
        EXPECT_FALSE(copy_file((dir / "src").string(), (dir / "copy").string(), true));
        EXPECT_EQ(last_error(), kErrorLockViolation);
    }
    EXPECT_FALSE(fs::exists(dir / "copy"));
    clear_all_faults();
}
