#include "cmdline/usage.h"

#include <cstdio>

namespace lnk {

namespace {

constexpr const char* kUsageLines[] = {
    "Usage",
    "",
    "  rook <filename>",
    "  rook <dd image> [-ntfs_scan [-offset <vol>] | -rawscan] [-outdir <dir>]",
    "  rook <disk.E01|.vmdk|.vhd|.vhdx|.qcow2|.001> [-ntfs_scan [-offset <vol>] | -rawscan]",
    "  rook -partition <drv letter> [-ntfs_scan | -rawscan] = mounted volume",
    "  rook -partition /dev/sdb1 [-ntfs_scan | -rawscan]    = block device (Linux)",
    "  rook -vss <index> [-ntfs_scan | -rawscan]   = Volume Shadow",
    "  rook <image> -vss <index|all> [-ntfs_scan | -rawscan] = shadow copies in an image",
    "  rook -vmdk \"<file1> | <file2> | ...\" [-ntfs_scan | -rawscan] = VMWare image",
    "  rook <jmplist file> -deepscan",
    "  dir C:\\Users\\*.lnk /b /s | rook -pipe [-csv]",
    "  dir \"C:\\Documents and Settings\\*.lnk\" /b /s | rook -pipe [-csv] ",
    "  find /mnt/evidence -type f | rook -pipe [-csv]",
    "  rook -h | --help | --version",
    "",
    "Basic options",
    "  -csv                      = output is comma separated value format",
    "  -csvl2t                   = log2timeline output",
    "  -bodyfile                 = sleuthkit output",
    "  -json                     = JSON Lines, one object per record",
    "  -timesketch               = Timesketch import file, one event per line",
    "  -html <report file>       = HTML report with timeline, beside the output",
    "",
    "Additional options",
    "  -username <name>          = output will contain this username",
    "  -hostname <name>          = output will contain this hostname",
    "  -base10                   = use base10 for file size instead of hex",
    "  -base16                   = use hex for file size [default]",
    "  -pipe                     = pipe files into app for processing",
    "  -ntfs_scan                = scans volume or image using MFT [default]",
    "  -offset <bytes>           = volume start in a disk image: 0x7e00, 0o77000, 32256",
    "  -rawscan                  = scans file, carving LNK metadata",
    "  -deepscan                 = for JumpLists or packed LNK metadata",
    "  -dateformat yyyy/mm/dd    = \"mm/dd/yyyy\" is the default",
    "  -timeformat hh:mm:ss      = \"hh:mm:ss.xxx\" is the default",
    "  -pair_datetime            = combine date/time into 1 field for csv",
    "  -no_whitespace            = only available for csv option",
    "  -csv_separator \"|\"        = use a pipe char for csv separator",
    "  -filter <*partial*|*.ext> = filters stdin data from -pipe option",
    "  -out <results file>       = output result to a specified file (or -outfile)",
    "  -outdir <dir>             = also write each record's bytes to a file in dir",
    "  -diags <log file>         = write a diagnostic log",
    "  -alias \"<alias>|<path>\"   = show a source path under another name",
    "  -aliaspath \"<dir>|<path>\" = show source paths under dir under another name",
    "  -codepage <number>        = code page of ANSI text, e.g. 1251",
    "  -quiet                    = no progress and no summary line",
    "  -flagged                  = write only records that carry an anomaly",
    "  -noheader                 = records only: no run header, no blank lines",
    "  -profile                  = elapsed seconds on stderr at the end",
    "  -signal <name>            = signal this named event (semaphore) at the end",
    "  -threads <n>              = threads decoding E01/VMDK [default: cores]",
    "",
    " Experimental options",
    "  -idltimes                 = add IDList embedded data [default|-csv]",
    "  -include_unalloc_clusters = incl unalloc clusters [reqs -ntfs_scan]",
    "  -include_vss_clusters     = incl vol shadow clusters [reqs -ntfs_scan]",
    "  -include_pagefile_clusters = incl page file clusters [reqs -ntfs_scan]",
    "",
    " Older options",
    "  -csvgen, -xml, -multiline = accepted: the default text report",
    "  -verbose, -v, -gzip, -zlib, -zlibex <text>, -cpu <n>, -cpuinst <n>,",
    "  -separate_files, -fragment_files <n> = accepted, no effect",
    "  -sqlite <file>            = refused: SQLite output is not offered",
    "",
};

}  // namespace

std::string usage_text() {
  std::string text(77, '-');
  text += "\n\n";
  text += "rook ";
  text += kRookVersion;
  text += "\n\n";
  for (const char* line : kUsageLines) {
    text += line;
    text += '\n';
  }
  return text;
}

void print_usage(const std::string&, bool to_standard_output) {
  std::fputs(usage_text().c_str(), to_standard_output ? stdout : stderr);
  std::fflush(to_standard_output ? stdout : stderr);
}

}  // namespace lnk
