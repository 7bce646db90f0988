// Evidence is never written: a results file, the -diags log or the -outdir
// folder naming any file a run reads, by whatever name, ends the run and
// leaves every file as it was, and reading keeps access times.
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <map>

#include "carve/record_dump.h"
#include "storage/ewf_source.h"
#include "tests/image_test_support.h"
#include "tests/lnk_builder.h"
#include "tests/shell_test_support.h"
#include "tests/vhd_child_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

// Bytes and the times a write would move (the access time is the kernel's to
// keep, under relatime, and says nothing about writes).
struct FileState {
  std::string bytes;
  fs::file_time_type modified{};
  int64_t changed_seconds = 0, changed_nanoseconds = 0;  // POSIX: any write or link moves it
  bool operator==(const FileState& other) const = default;
};

std::map<std::string, FileState> folder_state(const fs::path& dir) {
  std::map<std::string, FileState> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    FileState& s = files[entry.path().filename().string()];
    s.bytes = test::slurp(entry.path());
    s.modified = fs::last_write_time(entry.path());
#ifndef _WIN32
    struct stat st {};
    ::stat(entry.path().c_str(), &st);
    s.changed_seconds = st.st_ctim.tv_sec;
    s.changed_nanoseconds = st.st_ctim.tv_nsec;
#endif
  }
  return files;
}

class Evidence : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    ev_ = dir_ / "ev";  // away from the runs' standard streams
    fs::create_directories(ev_);
    evidence_ = test::write_file(ev_ / "evidence.lnk", test::sample_shortcut());
  }
  // Each option naming target ends the run, saying that target is the input
  // the run read as read_as, and leaves target's folder as it was.
  void expect_refused(const std::vector<std::string>& args, const std::string& input, const std::string& target,
                      const std::string& read_as, const std::vector<const char*>& options) {
    const fs::path folder = fs::path(target).parent_path();
    const auto before = folder_state(folder);
    for (const char* option : options) {
      std::vector<std::string> all = args;
      all.insert(all.end(), {option, target});
      const test::CommandResult r = run(all, input);
      EXPECT_EQ(r.status, 255) << option << " " << target;
      const std::string why = std::string(option) == "-outdir"
                                  ? "can't create directory at " + target + ": File exists, aborting\n"
                                  : "prob opening file " + target + " for output: it is the input ";
      EXPECT_TRUE(test::contains(r.err, why)) << option << ": " << r.err;
      EXPECT_TRUE(std::string(option) == "-outdir" || test::contains(r.err, read_as + ", aborting\n")) << r.err;
      EXPECT_TRUE(folder_state(folder) == before) << option << " " << target << ": the evidence changed";
    }
  }

  fs::path ev_;
  std::string evidence_;
};

TEST_F(Evidence, OutputsNamingAnInputAreRefusedAndInputsOnlyRead) {
  const std::string other_name = (ev_ / "." / "evidence.lnk").string();
  const std::string hard_link = (ev_ / "hardlink.lnk").string();
  fs::create_hard_link(evidence_, hard_link);
  const struct { std::vector<std::string> args; std::string input, read_as; } cases[] = {
      {{evidence_}, "", evidence_},
      {{"-csv", other_name}, "", other_name},
      {{hard_link}, "", hard_link},
      {{"-rawscan", evidence_}, "", evidence_},
      // A file listed on standard input, among others, by another name.
      {{"-pipe", "-timesketch"}, "/nonexistent/a.lnk\n" + other_name + "\n", other_name},
  };
  for (const auto& c : cases) {
    expect_refused(c.args, c.input, evidence_, c.read_as, {"-out", "-outfile", "-html", "-diags"});
#ifndef _WIN32  // the system's words for a name taken
    expect_refused(c.args, c.input, evidence_, c.read_as, {"-outdir"});
#endif
  }

  const auto before = folder_state(ev_);
  // "rook -csv -out ev.lnk": the output name was forgotten, so the evidence
  // was taken for the results file and there is no input: the usage.
  for (const char* option : {"-out", "-html"}) {
    const test::CommandResult r = run({"-csv", option, evidence_});
    EXPECT_TRUE(r.status == 255 && test::contains(r.err, "Usage")) << option << ": " << r.err;
  }
  // Every layout and scan reads the input and writes nothing to it.
  const std::string dumps = (dir_ / "dumps").string();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {evidence_, "-csv", "-idltimes"},
           {evidence_, "-csvl2t"},
           {evidence_, "-bodyfile"},
           {evidence_, "-rawscan", "-outdir", dumps},
           {evidence_, "-deepscan", "-outdir", dumps},
           {"-pipe", "-outdir", dumps}})
    EXPECT_EQ(run(args, evidence_ + "\n").status, 0) << args[1];
  fs::remove_all(dumps);
  EXPECT_TRUE(folder_state(ev_) == before) << "the evidence changed";
}

// Results replace an earlier file, and -outdir never writes over a file
// already in the folder; a dump name that a link to the input holds ends the
// run, the link still leads to the input and the earlier results stay.
// Nothing half-written is left beside any target.
TEST_F(Evidence, EarlierResultsAndDumpsAreReplacedOnlyByARunThatEndsWell) {
  const fs::path results = dir_ / "results.csv", dumps = dir_ / "dumps";
  test::write_file(results, std::string(5000, 'x'));
  ASSERT_EQ(run({evidence_, "-csv", "-out", results.string()}).status, 0);
  const std::string earlier = test::slurp_text(results);
  EXPECT_EQ(earlier.rfind("rook ver: ", 0), 0u);
  EXPECT_EQ(earlier.find(std::string(10, 'x')), std::string::npos) << "the old contents were kept";

  ASSERT_EQ(run({evidence_, "-outdir", dumps.string()}).status, 0);
  const fs::path dump = dumps / record_dump_name(1, 0, static_cast<uint32_t>(fs::file_size(evidence_)));
  EXPECT_EQ(test::slurp(dump), test::slurp(evidence_));  // the record's bytes as they lie in the input
  test::write_file(dump, std::string("kept"));
  ASSERT_EQ(run({evidence_, "-outdir", dumps.string()}).status, 0);
  EXPECT_EQ(test::slurp(dump), "kept");

#ifndef _WIN32  // links need privileges there
  fs::remove(dump);
  fs::create_symlink(evidence_, dump);
  const auto before = folder_state(ev_);
  const test::CommandResult r = run({evidence_, "-outdir", dumps.string(), "-out", results.string()});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(test::contains(r.err, "prob opening file " + dump.string() + " for output: it is the input ")) << r.err;
  EXPECT_TRUE(fs::is_symlink(dump));
  EXPECT_TRUE(folder_state(ev_) == before);
  EXPECT_EQ(test::slurp_text(results), earlier);
  for (const fs::path& folder : {dir_, ev_, dumps})
    for (const auto& entry : fs::directory_iterator(folder))
      EXPECT_EQ(entry.path().filename().string().find(".rook-"), std::string::npos) << entry.path();
#endif
}

#ifndef _WIN32  // the sets are built with Linux tools
class EvidenceSet : public Evidence {
 protected:
  // In ev_: the split VMware disk; a snapshot (child.vmdk) over a copy of the
  // monolithic one (base.vmdk); the same disk as an E01 set of 1 MiB
  // segments and as a raw image in 4 MiB segments; differencing VHD, VHDX
  // and QCOW2 disks over parents beside them.
  void SetUp() override {
    Evidence::SetUp();
    const fs::path vmdk = testing::corpus_path("images/vmdk-rs");
    if (!fs::exists(vmdk / "twoGbMaxExtentSparse-s001.vmdk") || !test::have_tools({"qemu-img", "ewfacquirestream"}))
      GTEST_SKIP() << "corpus VMware disks, qemu-img or ewf-tools missing";
    for (const char* name : {"twoGbMaxExtentSparse.vmdk", "twoGbMaxExtentSparse-s001.vmdk"})
      fs::copy_file(vmdk / name, ev_ / name);
    ASSERT_EQ(test::shell("cd " + test::q(ev_) + " && qemu-img convert -O vmdk " +
                          test::q(vmdk / "monolithicSparse.vmdk") + " base.vmdk" +
                          " && qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.vmdk" +
                          " && qemu-img convert -O raw base.vmdk ../disk.raw" +
                          " && ewfacquirestream -q -c none -S 1048576 -t set < ../disk.raw && test -f set.E03" +
                          " && split -b 4M -d -a 3 --numeric-suffixes=1 ../disk.raw image." +
                          " && qemu-img convert -O vpc ../disk.raw parent.vhd" +
                          " && qemu-img create -q -f vpc child.vhd 10M" +
                          " && qemu-img convert -O vhdx ../disk.raw parent.vhdx" +
                          " && qemu-img create -q -f vhdx -o block_size=1M child.vhdx 10M" +
                          " && qemu-img convert -O qcow2 ../disk.raw parent.qcow2" +
                          " && qemu-img create -q -f qcow2 -b parent.qcow2 -F qcow2 child.qcow2")
                  .status,
              0);
    test::make_vhd_child(ev_ / "child.vhd", ev_ / "parent.vhd", ".\\parent.vhd", {});
    test::make_vhdx_child(ev_ / "child.vhdx", ev_ / "parent.vhdx", ".\\parent.vhdx");
  }
  std::string ev(const std::string& name) const { return (ev_ / name).string(); }
};

// The message names the member as an input, so the refusal is the output's
// doing.
TEST_F(EvidenceSet, OutputsNamingAFileTheRunReadsAreRefused) {
  fs::create_symlink("set.E02", ev("symlink.E02"));
  const std::vector<std::string> split = {ev("twoGbMaxExtentSparse.vmdk"), "-ntfs_scan", "-offset", "0x10000"};
  const std::vector<std::string> chain = {"-vmdk", ev("child.vmdk") + " | " + ev("base.vmdk"), "-ntfs_scan"};
  // A snapshot named alone is refused once its parent, found by the hint
  // it holds, has been opened.
  const std::vector<std::string> hint = {ev("child.vmdk"), "-ntfs_scan", "-offset", "0x10000"};
  const std::vector<std::string> e01 = {ev("set.E01"), "-rawscan"};
  const struct { std::vector<std::string> command; std::string target, read_as; bool supported = true; } cases[] = {
      {split, "twoGbMaxExtentSparse-s001.vmdk", "twoGbMaxExtentSparse-s001.vmdk"},
      {chain, "base.vmdk", "base.vmdk"},
      {hint, "base.vmdk", "base.vmdk"},
      {e01, "set.E02", "set.E02", ewf_support_available()},
      {e01, "symlink.E02", "set.E02", ewf_support_available()},
      {{ev("image.001"), "-ntfs_scan"}, "image.002", "image.002"},
      {{ev("child.vhd"), "-rawscan"}, "parent.vhd", "parent.vhd"},
      {{ev("child.vhdx"), "-rawscan"}, "parent.vhdx", "parent.vhdx"},
      {{ev("child.qcow2"), "-ntfs_scan"}, "parent.qcow2", "parent.qcow2"},
  };
  for (const auto& c : cases) {
    if (!c.supported) continue;
    std::vector<std::string> args = c.command;
    args.push_back("-quiet");
    expect_refused(args, "", ev(c.target), c.read_as, {"-out", "-diags", "-outdir"});
  }
}

// Reading leaves every access time where it was, on a file system that
// would otherwise move it at every read (tmpfs with strictatime, mounted as
// root).
TEST_F(EvidenceSet, AccessTimesStay) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a strictatime file system needs root";
  if (!fs::is_directory(testing::corpus_path("jumplists"))) GTEST_SKIP() << "corpus absent";
  fs::path jumplist;
  for (const auto& entry : fs::recursive_directory_iterator(testing::corpus_path("jumplists")))
    if (entry.path().extension() == ".automaticDestinations-ms") jumplist = entry.path();
  ASSERT_FALSE(jumplist.empty());
  const fs::path mount = dir_ / "mnt";
  fs::create_directories(mount);
  if (::mount("tmpfs", mount.c_str(), "tmpfs", MS_STRICTATIME, "size=160m") != 0)
    GTEST_SKIP() << "tmpfs mount refused";
  struct Unmount {
    fs::path at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{mount};
  fs::copy_file(jumplist, mount / "list.automaticDestinations-ms");
  fs::copy_file(dir_ / "disk.raw", mount / "disk.raw");
  for (const auto& entry : fs::directory_iterator(ev_)) fs::copy_file(entry.path(), mount / entry.path().filename());
  fs::rename(mount / "evidence.lnk", mount / "a.lnk");

  const auto access_times = [&] {
    std::map<std::string, std::pair<int64_t, int64_t>> times;
    for (const auto& entry : fs::directory_iterator(mount)) {
      struct stat st {};
      ::stat(entry.path().c_str(), &st);
      times[entry.path().filename().string()] = {st.st_atim.tv_sec, st.st_atim.tv_nsec};
    }
    return times;
  };
  const auto m = [&](const char* name) { return (mount / name).string(); };
  // Times in the past, so that any read the kernel counts moves them.
  const std::string backdate = "touch -a -d 2001-02-03 " + test::q(mount) + "/*";
  ASSERT_EQ(std::system(backdate.c_str()), 0);
  const auto before = access_times();
  test::slurp(mount / "a.lnk");
  ASSERT_NE(access_times(), before) << "the mount does not keep access times";
  ASSERT_EQ(std::system(backdate.c_str()), 0);

  const struct { std::vector<std::string> args; std::string input; } runs[] = {
      {{m("a.lnk")}, ""},
      {{m("list.automaticDestinations-ms"), "-csv"}, ""},
      {{"-pipe", "-json"}, m("a.lnk") + "\n" + m("list.automaticDestinations-ms") + "\n"},
      {{m("disk.raw"), "-ntfs_scan", "-offset", "0x10000", "-include_unalloc_clusters"}, ""},
      {{m("disk.raw"), "-rawscan"}, ""},
      {{"-vmdk", m("child.vmdk") + "|" + m("base.vmdk"), "-ntfs_scan"}, ""},
      {{m("twoGbMaxExtentSparse.vmdk"), "-rawscan"}, ""},
      {{m("set.E01"), "-ntfs_scan", "-offset", "0x10000"}, ""},
      {{m("set.E01"), "-rawscan"}, ""},
  };
  for (const auto& r : runs) {
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"-quiet", "-out", (dir_ / "results.txt").string()});
    ASSERT_EQ(run(args, r.input).status, 0) << args[0];
    EXPECT_EQ(access_times(), before) << args[0] << " " << args[1];
  }
}
#endif

}  // namespace
}  // namespace lnk
