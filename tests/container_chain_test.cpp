// QCOW2, VHD and VHDX disks as qemu writes them, every layer of every chain
// read whole and compared with qemu-img's raw conversion; differencing VHD
// and VHDX disks (which qemu does not chain) against disks built by hand;
// truncated and lying containers end in seconds, naming the file and fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "images/image_open.h"
#include "storage/vhdx_log.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/vhd_child_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::q;

// 6 MiB: text that compresses, random bytes, a stretch of zeros.
constexpr const char* kMakeData =
    "python3 -c \"import os,sys; d=b''.join(b'line %08d of the disk\\n' % i for i in range(140000))[:3<<20]"
    "+os.urandom(2<<20)+bytes(1<<20); open(sys.argv[1],'wb').write(d)\" ";

// The raw file with every 64 KiB cluster whose number mod n is past keep
// replaced by junk: a layer that holds only some clusters of the disk.
std::string junk_above(const std::string& from, int n, int keep, const std::string& to) {
  return "python3 -c \"import sys; d=bytearray(open(sys.argv[1],'rb').read())\n"
         "for c in range(0,len(d)>>16):\n"
         " if c%" + std::to_string(n) + ">" + std::to_string(keep) + ": d[c<<16:(c+1)<<16]=bytes([c&255|1])*65536\n"
         "open(sys.argv[2],'wb').write(d)\" " + q(from) + " " + q(to);
}

class ContainerChain : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    if (!test::have_tools({"qemu-img", "qemu-io", "python3"})) GTEST_SKIP() << "qemu-utils and python3 are needed";
    sh(kMakeData + q(path("data.raw")));
  }
  void sh(const std::string& command) { ASSERT_EQ(test::shell("cd " + q(dir_.string()) + " && " + command).status, 0) << command; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // The whole disk as rook reads it; empty when it does not open.
  std::string rook_bytes(const std::string& name) {
    ImageOpenResult opened = open_image_by_content(path(name));
    EXPECT_TRUE(opened.ok()) << name << ": " << opened.problem.detail;
    if (!opened.ok()) return {};
    std::string bytes(opened.source->size(), '\0');
    const auto all = std::span<uint8_t>(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    EXPECT_TRUE(read_exact(*opened.source, 0, all)) << name;
    // Read again in pieces that start and end inside stretches, as a scan reads.
    std::string pieces(bytes.size(), '\0');
    const auto out = std::span<uint8_t>(reinterpret_cast<uint8_t*>(pieces.data()), pieces.size());
    for (size_t at = 0; at < out.size(); at += 40000)
      EXPECT_TRUE(read_exact(*opened.source, at, out.subspan(at, std::min<size_t>(40000, out.size() - at)))) << name;
    EXPECT_TRUE(pieces == bytes) << name << ": read in pieces";
    return bytes;
  }
  std::string qemu_bytes(const std::string& name, const std::string& format) {
    sh("qemu-img convert -f " + format + " -O raw " + q(name) + " expected.raw");
    return test::slurp(path("expected.raw"));
  }
  void expect_as_qemu(const std::string& name, const std::string& format) {
    const std::string expected = qemu_bytes(name, format);
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_TRUE(rook_bytes(name) == expected) << name;
  }
  // Each run ends within the runner's 60 seconds, read through (0) or
  // refused (255) with a message naming the file.
  void expect_ends(const std::string& name, const std::string& fault = "") {
    const test::CommandResult r = run({path(name), "-rawscan", "-quiet"});
    EXPECT_TRUE(r.status == 0 || r.status == 255) << name << " status " << r.status;
    if (r.status == 255) {
      EXPECT_TRUE(test::contains(r.err, path(name))) << r.err;
    }
    if (!fault.empty()) {
      EXPECT_TRUE(test::contains(r.err, fault)) << name << ": " << r.err;
    }
  }
};

TEST_F(ContainerChain, QcowChainsReadAsQemuConvertsThem) {
  // Alone: both compat levels, compressed, extended L2 entries, version 1.
  sh("qemu-img convert -O qcow2 -o compat=0.10 data.raw old.qcow2 && qemu-img convert -O qcow2 data.raw new.qcow2"
     " && qemu-img convert -c -O qcow2 data.raw packed.qcow2 && qemu-img convert -O qcow2 -o extended_l2=on"
     " data.raw sub.qcow2 && qemu-img convert -O qcow data.raw v1.qcow");
  for (const char* name : {"old.qcow2", "new.qcow2", "packed.qcow2", "sub.qcow2"}) expect_as_qemu(name, "qcow2");
  expect_as_qemu("v1.qcow", "qcow");

  // Four levels, cluster i held by level i mod 4 (junk below it in the
  // levels under): compressed, compat 0.10 and extended L2 among them.
  const char* options[] = {"-c", "-o compat=0.10", "-o extended_l2=on", ""};
  for (int level = 0; level < 4; ++level) {
    const std::string raw = "l" + std::to_string(level) + ".raw", disk = "l" + std::to_string(level) + ".qcow2";
    sh(junk_above("data.raw", 4, level, path(raw)));
    const std::string backing = level == 0 ? "" : " -F qcow2 -B l" + std::to_string(level - 1) + ".qcow2";
    sh("qemu-img convert -O qcow2 " + std::string(options[level]) + backing + " " + raw + " " + disk);
  }
  // Zero clusters over data below, and a stretch given back to the levels under.
  sh("qemu-io -f qcow2 -c 'write -z 1M 192k' -c 'write -z -u 3200k 64k' -c 'discard 4M 128k' l3.qcow2 >/dev/null");
  for (const char* name : {"l0.qcow2", "l1.qcow2", "l2.qcow2", "l3.qcow2"}) expect_as_qemu(name, "qcow2");
  EXPECT_EQ(open_image_by_content(path("l3.qcow2")).files.size(), 4u);

  // A child larger than its backing file reads zeros past it; a smaller one ends early.
  sh("qemu-img create -q -f qcow2 -b l1.qcow2 -F qcow2 large.qcow2 9M && qemu-io -f qcow2 -c 'write -P 7 8M 4k'"
     " -c 'write -P 9 5M 64k' large.qcow2 >/dev/null && qemu-img create -q -f qcow2 -b l3.qcow2 -F qcow2 small.qcow2 2M");
  for (const char* name : {"large.qcow2", "small.qcow2"}) expect_as_qemu(name, "qcow2");
}

TEST_F(ContainerChain, VhdAndVhdxReadAsQemuConvertsThem) {
  sh("qemu-img convert -O vpc -o subformat=fixed data.raw fixed.vhd && qemu-img convert -O vpc data.raw dynamic.vhd"
     " && qemu-img convert -O vhdx -o block_size=1M data.raw small.vhdx"
     " && qemu-img convert -O vhdx -o block_size=32M data.raw large.vhdx"
     " && qemu-io -f vhdx -c 'write -P 5 40k 4k' large.vhdx >/dev/null");
  for (const char* name : {"fixed.vhd", "dynamic.vhd"}) expect_as_qemu(name, "vpc");
  for (const char* name : {"small.vhdx", "large.vhdx"}) expect_as_qemu(name, "vhdx");
}

// A child owns single sectors of its blocks (its sector bitmap marks them);
// the sectors around them, in the same bitmap byte too, are the parent's.
// Past a smaller parent's end the child reads zeros.
TEST_F(ContainerChain, DifferencingDisksReadTheirOwnSectorsOverTheParents) {
  const std::vector<std::pair<uint64_t, uint64_t>> written = {{3 * 512, 512}, {(1 << 20) + 9 * 512, 1024},
                                                              {(5 << 20) + 4096, 4096}};
  std::string writes;
  for (const auto& [at, length] : written)
    writes += " -c 'write -P 0x5a " + std::to_string(at) + " " + std::to_string(length) + "'";
  sh("qemu-img convert -O vpc data.raw parent.vhd && qemu-img create -q -f vpc child.vhd $(qemu-img info"
     " --output=json parent.vhd | sed -n 's/.*virtual-size.: \\([0-9]*\\).*/\\1/p') && qemu-io -f vpc" + writes +
     " child.vhd >/dev/null && qemu-img convert -O vhdx -o block_size=1M data.raw parent.vhdx"
     " && qemu-img create -q -f vhdx -o block_size=1M child.vhdx 8M && qemu-io -f vhdx" + writes +
     " child.vhdx >/dev/null");
  test::make_vhd_child(path("child.vhd"), path("parent.vhd"), ".\\parent.vhd", written);
  test::make_vhdx_child(path("child.vhdx"), path("parent.vhdx"), ".\\parent.vhdx", written);
  for (const char* format : {"vhd", "vhdx"}) {
    std::string expected = qemu_bytes(std::string("parent.") + format, format == std::string("vhd") ? "vpc" : "vhdx");
    // The VHDX child is larger than its parent: zeros past the parent's end.
    if (format == std::string("vhdx")) expected.resize(8 << 20, '\0');
    for (const auto& [at, length] : written) expected.replace(at, length, length, '\x5a');
    EXPECT_TRUE(rook_bytes(std::string("child.") + format) == expected) << format;
  }
}

// A header that names a log: the log's entry writes 4 KiB over block 0's
// data, in memory only; an entry whose data sector is of another entry is
// refused, named.
TEST_F(ContainerChain, VhdxLogIsReplayedOverTheFile) {
  using namespace test::vhd_detail;
  sh("qemu-img convert -O vhdx -o block_size=1M data.raw log.vhdx");
  std::string expected = qemu_bytes("log.vhdx", "vhdx");
  expected.replace(0, 4096, 4096, 'L');
  Bytes b = read(path("log.vhdx"));
  const size_t header = get(b, 0x20000 + 8, 8) > get(b, 0x10000 + 8, 8) ? 0x20000 : 0x10000;
  const uint64_t sequence = 5;
  std::fill_n(b.begin() + header + 48, 16, 0x11);  // the log GUID
  const auto checksum = [](Bytes& bytes, size_t at, size_t length) {
    put(bytes, at + 4, 0, 4);
    put(bytes, at + 4, vhdx_checksum(std::span<const uint8_t>(bytes).subspan(at, length), 4), 4);
  };
  checksum(b, header, 4096);
  size_t bat = 0;
  for (size_t i = 0; i < get(b, 0x30000 + 8, 4); ++i)
    if (guid_at(b, 0x30000 + 16 + 32 * i) == "2dc27766-f623-4200-9d64-115e9bfd4a08") bat = get(b, 0x30000 + 32 + 32 * i, 8);
  Bytes entry(8192, 'L');
  std::fill_n(entry.begin() + 4, 4096 - 4, 0);
  std::copy_n("loge", 4, entry.begin());
  put(entry, 8, entry.size(), 4);
  put(entry, 16, sequence, 8);
  put(entry, 24, 1, 4);  // one descriptor
  std::fill_n(entry.begin() + 32, 16, 0x11);
  put(entry, 48, b.size(), 8);
  std::copy_n("desc", 4, entry.begin() + 64);
  std::fill_n(entry.begin() + 68, 12, 'L');  // trailing and leading bytes
  put(entry, 80, get(b, bat, 8) & ~uint64_t{0xFFFFF}, 8);
  put(entry, 88, sequence, 8);
  std::copy_n("data", 4, entry.begin() + 4096);
  put(entry, 4100, 0, 4);
  put(entry, 4096 + 4092, sequence, 4);
  checksum(entry, 0, entry.size());
  Bytes bad = b;
  std::copy(entry.begin(), entry.end(), b.begin() + static_cast<std::ptrdiff_t>(get(b, header + 72, 8)));
  test::write_file(path("log.vhdx"), b);
  EXPECT_TRUE(rook_bytes("log.vhdx") == expected);
  put(entry, 4096 + 4092, sequence + 1, 4);
  checksum(entry, 0, entry.size());
  std::copy(entry.begin(), entry.end(), bad.begin() + static_cast<std::ptrdiff_t>(get(bad, header + 72, 8)));
  test::write_file(path("bad.vhdx"), bad);
  expect_ends("bad.vhdx", "VHDX image: log to replay: data sector");
}

TEST_F(ContainerChain, TruncatedAndLyingContainersEndNamingTheFault) {
  sh("qemu-img convert -c -O qcow2 data.raw a.qcow2 && qemu-img convert -O vpc data.raw a.vhd"
     " && qemu-img convert -O vhdx data.raw a.vhdx");
  // Cut at every 64 KiB up to 1 MiB (headers and tables), and in the data.
  for (const char* name : {"a.qcow2", "a.vhd", "a.vhdx"}) {
    const uint64_t size = fs::file_size(path(name));
    for (uint64_t cut = 0; cut < size; cut += cut < (1 << 20) ? 65536 : size / 5) {
      const std::string cut_name = "cut" + std::to_string(cut) + name;
      fs::copy_file(path(name), path(cut_name));
      fs::resize_file(path(cut_name), cut);
      expect_ends(cut_name);
    }
  }
  // Disks claiming 2^50 bytes and more over a few MiB: tables too small for
  // them are refused; a fixed disk reads to where its data ends.
  // The size fields (a VHD footer's checksum made to add up again).
  sh("qemu-img convert -O vpc -o subformat=fixed data.raw huge.vhd && cp a.qcow2 huge.qcow2 && cp a.vhdx huge.vhdx"
     " && cp a.vhd huge_dynamic.vhd && python3 -c \"import struct; b=bytearray(open('huge.qcow2','rb').read())\n"
     "b[24:32]=struct.pack('>Q',1<<50); open('huge.qcow2','wb').write(b)\n"
     "for name in ('huge.vhd','huge_dynamic.vhd'):\n"
     " b=bytearray(open(name,'rb').read()); f=len(b)-512; b[f+48:f+56]=struct.pack('>Q',1<<52); b[f+64:f+68]=bytes(4)\n"
     " b[f+64:f+68]=struct.pack('>I',~sum(b[f:])&0xffffffff); open(name,'wb').write(b)\"");
  // The VHDX size item: found from the metadata table.
  sh("python3 -c \"import struct; b=bytearray(open('huge.vhdx','rb').read()); m=3<<20\n"
     "for i in range(struct.unpack_from('<H',b,m+10)[0]):\n"
     " e=m+32+32*i\n"
     " o=m+struct.unpack_from('<I',b,e+16)[0]\n"
     " if b[e:e+4]==bytes.fromhex('2442a52f'): b[o:o+8]=struct.pack('<Q',1<<51)\n"
     "open('huge.vhdx','wb').write(b)\"");
  expect_ends("huge.qcow2", "QCOW image: L1 table too small for the disk size 1125899906842624");
  expect_ends("huge.vhdx", "VHDX image: block table too small for the disk size 2251799813685248");
  // 2^50 bytes of 2 MiB clusters, every table and entry naming the first:
  // repeats, passed over at once.
  sh("qemu-img create -q -f qcow2 -o cluster_size=2M same.qcow2 1P && qemu-io -f qcow2 -c 'write -P 3 0 2M'"
     " same.qcow2 >/dev/null && python3 -c \"import struct; b=bytearray(open('same.qcow2','rb').read())\n"
     "n,l1=struct.unpack_from('>IQ',b,36); e=struct.unpack_from('>Q',b,l1)[0]; l2=e&0xfffffffffffe00\n"
     "b[l1:l1+8*n]=struct.pack('>Q',e)*n; b[l2:l2+(1<<21)]=b[l2:l2+8]*(1<<18); open('same.qcow2','wb').write(b)\"");
  expect_ends("same.qcow2", "offset 0x200000 to 0x4000000000000 repeats bytes the container maps to an earlier offset");
  expect_ends("huge_dynamic.vhd", "VHD image: block table too small for the disk size 4503599627370496");
  expect_ends("huge.vhd", "the container claims 0x10000000000000 bytes but stores none past it");
}

}  // namespace
}  // namespace lnk
