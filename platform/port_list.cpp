#include "platform/port_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string_view>

namespace {

std::string& SysfsRoot() {
  static std::string root = "/sys";
  return root;
}

PortListSource portListSource = nullptr;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Compares digit runs by value, everything else byte by byte; equal values fall back to
// plain order so that ttyS01 and ttyS1 still have a fixed order.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::size_t iEnd = i;
      std::size_t jEnd = j;
      while (iEnd < a.size() && IsDigit(a[iEnd])) ++iEnd;
      while (jEnd < b.size() && IsDigit(b[jEnd])) ++jEnd;
      std::size_t iStart = i;
      std::size_t jStart = j;
      while (iStart + 1 < iEnd && a[iStart] == '0') ++iStart;
      while (jStart + 1 < jEnd && b[jStart] == '0') ++jStart;
      const std::string_view x(a.data() + iStart, iEnd - iStart);
      const std::string_view y(b.data() + jStart, jEnd - jStart);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = iEnd;
      j = jEnd;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;
}

// tty, tty0 to tty63, and the console and pty master multiplexers.
bool IsVirtualTerminal(const std::string& name) {
  if (name == "console" || name == "ptmx" || name == "tty") return true;
  if (name.rfind("tty", 0) != 0 || name.size() == 3) return false;
  return std::all_of(name.begin() + 3, name.end(), IsDigit);
}

std::string ReadTrimmed(const std::string& path) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::set<std::string> ConsoleNames(const std::string& ttyDir) {
  std::istringstream words(ReadTrimmed(ttyDir + "/console/active"));
  std::set<std::string> names;
  for (std::string word; words >> word;) names.insert(word);
  return names;
}

// An on-board UART slot without hardware reports its type as unknown (0).
bool IsAbsentUart(const std::string& entryDir) {
  const std::string type = ReadTrimmed(entryDir + "/type");
  return type == "0" || type == "unknown";
}

std::vector<std::string> SplitPortList(const std::string& text) {
  std::vector<std::string> paths;
  if (text.empty()) return paths;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = text.find(':', start);
    paths.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return paths;
}

}  // namespace

PortList ScanSysfsPorts(const std::string& sysfsRoot) {
  const std::string ttyDir = sysfsRoot + "/class/tty";
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(ttyDir.c_str()), closedir);
  if (!dir) return {false, errno, {}};

  const std::set<std::string> consoles = ConsoleNames(ttyDir);
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return {false, errno, {}};
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || IsVirtualTerminal(name) || consoles.count(name) != 0) continue;
    const std::string entryDir = ttyDir + "/" + name;
    struct stat link{};
    if (lstat((entryDir + "/device").c_str(), &link) != 0) continue;
    if (IsAbsentUart(entryDir)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);

  PortList list{true, 0, {}};
  for (const std::string& name : names) list.devicePaths.push_back("/dev/" + name);
  return list;
}

void SetSysfsRoot(std::string sysfsRoot) { SysfsRoot() = std::move(sysfsRoot); }

PortList ListPorts() {
  if (portListSource != nullptr) return portListSource();
  if (const char* ports = std::getenv("QUELVANE_PORTS")) return {true, 0, SplitPortList(ports)};
  return ScanSysfsPorts(SysfsRoot());
}

void SetPortListSource(PortListSource source) { portListSource = source; }
