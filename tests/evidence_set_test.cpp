// Every file of an evidence set, not only the one named on the command line,
// is safe from what a run writes, and keeps its access time: VMware extents
// and parents, E01 and split-image segments, VHD, VHDX and QCOW2 parents, the
// members of a -pipe list. Built from copies of corpus containers.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "storage/ewf_source.h"
#include "storage/qcow_source.h"
#include "storage/vhdi_source.h"
#include "tests/image_test_support.h"
#include "tests/shell_test_support.h"
#include "tests/vhd_child_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::q;

// Bytes of every file in a folder, by name.
std::map<std::string, std::string> contents(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir))
    files[entry.path().filename().string()] = entry.is_regular_file() ? test::slurp(entry.path()) : "(not a file)";
  return files;
}

class EvidenceSet : public test::ScratchDirTest {
 protected:
  // The split VMware disk, a snapshot (child.vmdk) over a copy of the
  // monolithic one (base.vmdk), and an E01 set of the same disk in 1 MiB
  // segments, all in ev_.
  bool build_set() {
    if (!build_vmware_and_e01()) return false;
    // The raw disk in 4 MiB segments; differencing VHD, VHDX and QCOW2
    // disks over parents beside them.
    if (test::shell("cd " + q(ev_) + " && split -b 4M -d -a 3 --numeric-suffixes=1 ../disk.raw image." +
                    " && qemu-img convert -O vpc ../disk.raw parent.vhd && qemu-img create -q -f vpc child.vhd 10M" +
                    " && qemu-img convert -O vhdx ../disk.raw parent.vhdx" +
                    " && qemu-img create -q -f vhdx -o block_size=1M child.vhdx 10M" +
                    " && qemu-img convert -O qcow2 ../disk.raw parent.qcow2" +
                    " && qemu-img create -q -f qcow2 -b parent.qcow2 -F qcow2 child.qcow2")
            .status != 0)
      return false;
    test::make_vhd_child(ev_ / "child.vhd", ev_ / "parent.vhd", ".\\parent.vhd", {});
    test::make_vhdx_child(ev_ / "child.vhdx", ev_ / "parent.vhdx", ".\\parent.vhdx");
    return true;
  }
  bool build_vmware_and_e01() {
    const fs::path vmdk = test::corpus_images() / "vmdk-rs";
    if (!fs::exists(vmdk / "twoGbMaxExtentSparse-s001.vmdk")) return false;
    if (!test::have_tools({"qemu-img", "ewfacquirestream"})) return false;
    ev_ = dir_ / "ev";
    fs::create_directories(ev_);
    for (const char* name : {"twoGbMaxExtentSparse.vmdk", "twoGbMaxExtentSparse-s001.vmdk"})
      fs::copy_file(vmdk / name, ev_ / name);
    const std::string raw = (dir_ / "disk.raw").string();
    return test::shell("cd " + q(ev_) + " && qemu-img convert -O vmdk " + q(vmdk / "monolithicSparse.vmdk") +
                       " base.vmdk && qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.vmdk" +
                       " && qemu-img convert -O raw base.vmdk " + q(raw) +
                       " && ewfacquirestream -q -c none -S 1048576 -t set < " + q(raw) + " >/dev/null")
                   .status == 0 &&
           fs::exists(ev_ / "set.E03");
  }
  std::string ev(const std::string& name) const { return (ev_ / name).string(); }

  fs::path ev_;
};

// -out, -diags and -outdir naming any file the run reads, by whatever name,
// end the run with status -1 and leave every file of the set as it was; no
// new file is left behind. Each command first succeeds with a fresh results
// name, so the refusal is the output's doing.
TEST_F(EvidenceSet, OutputsNamingAFileTheRunReadsAreRefused) {
  if (!build_set()) GTEST_SKIP() << "corpus VMware disks, qemu-img or ewf-tools missing";
  const std::string offset = "0x10000";
  fs::create_hard_link(ev("twoGbMaxExtentSparse-s001.vmdk"), ev("hardlink.vmdk"));
  fs::create_symlink("set.E02", ev("symlink.E02"));
  const std::vector<std::string> split = {ev("twoGbMaxExtentSparse.vmdk"), "-ntfs_scan", "-offset", offset};
  const std::vector<std::string> chain = {"-vmdk", ev("child.vmdk") + " | " + ev("base.vmdk"), "-ntfs_scan"};
  // A snapshot named alone is refused once its parent, found by the hint
  // it holds, has been opened.
  const std::vector<std::string> hint = {ev("child.vmdk"), "-ntfs_scan", "-offset", offset};
  const std::vector<std::string> e01 = {ev("set.E01"), "-rawscan"};
  const struct {
    std::vector<std::string> command;
    std::string target;
    std::string read_as;
    bool supported = true;
  } cases[] = {
      {split, "twoGbMaxExtentSparse-s001.vmdk", "twoGbMaxExtentSparse-s001.vmdk"},
      {split, "hardlink.vmdk", "twoGbMaxExtentSparse-s001.vmdk"},
      {chain, "base.vmdk", "base.vmdk"},
      {hint, "base.vmdk", "base.vmdk"},
      {e01, "set.E02", "set.E02", ewf_support_available()},
      {e01, "symlink.E02", "set.E02", ewf_support_available()},
      {{ev("image.001"), "-ntfs_scan"}, "image.002", "image.002"},
      {{ev("child.vhd"), "-rawscan"}, "parent.vhd", "parent.vhd", vhdi_support_available()},
      {{ev("child.vhdx"), "-rawscan"}, "parent.vhdx", "parent.vhdx", vhdi_support_available()},
      {{ev("child.qcow2"), "-ntfs_scan"}, "parent.qcow2", "parent.qcow2", qcow_support_available()},
  };
  const auto before = contents(ev_);
  for (const auto& c : cases) {
    if (!c.supported) continue;
    std::vector<std::string> args = c.command;
    args.insert(args.end(), {"-quiet", "-out", (dir_ / "fresh.txt").string()});
    if (c.command != hint) {
      ASSERT_EQ(run(args).status, 0) << args[0];
    }
    fs::remove(dir_ / "fresh.txt");
    for (const char* option : {"-out", "-diags", "-outdir"}) {
      args = c.command;
      args.insert(args.end(), {"-quiet", option, ev(c.target)});
      const test::CommandResult r = run(args);
      EXPECT_EQ(r.status, 255) << option << " " << c.target;
      if (std::string(option) == "-outdir") {
        // A file is no folder: the run ends before anything is read.
        EXPECT_TRUE(test::contains(r.err, "can't create directory at " + ev(c.target) + ": File exists, aborting\n"))
            << r.err;
      } else {
        EXPECT_TRUE(test::contains(r.err, "prob opening file " + ev(c.target) + " for output: it is the input "))
            << r.err;
        EXPECT_TRUE(test::contains(r.err, c.read_as + ", aborting\n")) << r.err;
      }
      EXPECT_TRUE(contents(ev_) == before) << option << " " << c.target << ": the evidence set changed";
    }
  }
}

// Results move over an earlier file only when the run ends well: a snapshot
// whose parent has gone ends with status -1 after the run header is written,
// and the earlier results stay as they were. A dump name that an input's link holds
// ends the run the same way, and the link still leads to the input.
TEST_F(EvidenceSet, AFailedRunLeavesEarlierResultsAlone) {
  if (!build_set()) GTEST_SKIP() << "corpus VMware disks, qemu-img or ewf-tools missing";
  const fs::path results = dir_ / "results.txt";
  const std::string chain = ev("child.vmdk") + " | " + ev("base.vmdk");
  ASSERT_EQ(run({"-vmdk", chain, "-rawscan", "-quiet", "-out", results.string()}).status, 0);
  const std::string earlier = test::slurp(results);
  ASSERT_FALSE(earlier.empty());
  fs::rename(ev("base.vmdk"), dir_ / "moved.vmdk");
  test::CommandResult r = run({"-vmdk", chain, "-rawscan", "-csv", "-out", results.string()});
  EXPECT_EQ(r.status, 255) << r.err;
  EXPECT_EQ(test::slurp(results), earlier);

  // The first record of a shortcut lies at 0 with the shortcut's size.
  const std::string shortcut = test::write_file(ev_ / "a.lnk", testing::read_bytes(ROOK_SOURCE_DIR "/tests/data/sample.lnk"));
  const fs::path dumps = dir_ / "dumps";
  fs::create_directories(dumps);
  const std::string dump_name = "carvelnk_0001_0x000000000_0x" + [&] {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(fs::file_size(shortcut)));
    return std::string(hex);
  }() + ".bin";
  fs::create_symlink(shortcut, dumps / dump_name);
  const std::string before = test::slurp(shortcut);
  r = run({shortcut, "-outdir", dumps.string(), "-out", results.string()});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(test::contains(r.err, "prob opening file " + (dumps / dump_name).string() + " for output: it is the input "))
      << r.err;
  EXPECT_EQ(test::slurp(shortcut), before);
  EXPECT_TRUE(fs::is_symlink(dumps / dump_name));
  EXPECT_EQ(test::slurp(results), earlier);
  // Nothing half-written is left beside any target.
  for (const fs::path& folder : {dir_, ev_, dumps})
    for (const auto& entry : fs::directory_iterator(folder))
      EXPECT_EQ(entry.path().filename().string().find(".rook-"), std::string::npos) << entry.path();
}

// Reading leaves every access time where it was, on a file system that
// would otherwise move it at every read (tmpfs with strictatime, mounted as
// root).
TEST_F(EvidenceSet, AccessTimesStay) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a strictatime file system needs root";
  if (!build_set()) GTEST_SKIP() << "corpus VMware disks, qemu-img or ewf-tools missing";
  const fs::path jumplists = fs::path(testing::corpus_path("jumplists"));
  if (!fs::is_directory(jumplists)) GTEST_SKIP() << "corpus absent";
  const fs::path mount = dir_ / "mnt";
  fs::create_directories(mount);
  if (::mount("tmpfs", mount.c_str(), "tmpfs", MS_STRICTATIME, "size=160m") != 0) GTEST_SKIP() << "tmpfs mount refused";
  struct Unmount {
    fs::path at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{mount};

  fs::path jumplist;
  for (const auto& entry : fs::recursive_directory_iterator(jumplists))
    if (entry.path().extension() == ".automaticDestinations-ms") jumplist = entry.path();
  ASSERT_FALSE(jumplist.empty());
  fs::copy_file(jumplist, mount / "list.automaticDestinations-ms");
  fs::copy_file(ROOK_SOURCE_DIR "/tests/data/sample.lnk", mount / "a.lnk");
  ASSERT_EQ(test::shell("qemu-img convert -O raw " + q(ev_ / "base.vmdk") + " " + q(mount / "disk.raw")).status, 0);
  for (const auto& entry : fs::directory_iterator(ev_)) fs::copy_file(entry.path(), mount / entry.path().filename());

  auto access_times = [&] {
    std::map<std::string, std::pair<int64_t, int64_t>> times;
    for (const auto& entry : fs::directory_iterator(mount)) {
      struct stat st {};
      ::stat(entry.path().c_str(), &st);
      times[entry.path().filename().string()] = {st.st_atim.tv_sec, st.st_atim.tv_nsec};
    }
    return times;
  };
  auto m = [&](const char* name) { return (mount / name).string(); };
  // Times in the past, so that any read the kernel counts moves them.
  ASSERT_EQ(test::shell("touch -a -d 2001-02-03 " + q(mount) + "/*").status, 0);
  const auto before = access_times();
  test::slurp(mount / "a.lnk");
  ASSERT_NE(access_times(), before) << "the mount does not keep access times";
  ASSERT_EQ(test::shell("touch -a -d 2001-02-03 " + q(mount) + "/*").status, 0);
  ASSERT_EQ(access_times(), before);

  const struct {
    std::vector<std::string> args;
    std::string input;
  } runs[] = {
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
    const auto after = access_times();
    for (const auto& [name, time] : before)
      EXPECT_EQ(after.at(name), time) << name << " after " << args[0] << " " << args[1];
  }
}

}  // namespace
}  // namespace lnk
