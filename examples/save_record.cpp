#include "examples/save_record.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <sstream>

#include "examples/signal_cleanup.h"

namespace {

constexpr char kFirstLine[] = "kivet-session save record 1";
constexpr size_t kBootIdLength = 36;
constexpr size_t kLoadFolderCharacters = 6;

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  // Text after the last line feed: a line cut short.
  if (start != text.size()) lines.push_back(std::string(1, '\0'));
  return lines;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> parts(1);
  for (char c : line) {
    if (c == ' ')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

// A decimal number as this program writes one (no sign, no leading zero)
// of at most most.
bool readNumber(const std::string& text, unsigned long long most, unsigned long long& value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0') ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::stoull(text);
  return value <= most;
}

bool allOf(const std::string& text, const char* characters) {
  return text.find_first_not_of(characters) == std::string::npos;
}

bool readProcess(const std::vector<std::string>& w, ProcessIdentity& process) {
  unsigned long long pid = 0, start = 0;
  if (w.size() != 4 || w[0] != "process" || !readNumber(w[1], INT_MAX, pid) || pid == 0 ||
      !readNumber(w[2], ULLONG_MAX, start) || w[3].size() != kBootIdLength || !allOf(w[3], "0123456789abcdef-"))
    return false;
  process = ProcessIdentity{static_cast<pid_t>(pid), start, w[3]};
  return true;
}

bool readName(const std::vector<std::string>& w, SaveRecord::Name& name) {
  unsigned long long number = 0;
  if (w.size() != 4 || w[0] != "before" || (w[1] != "session" && w[1] != "meta") ||
      !readNumber(w[2], kStagedNamesPerFile - 1, number) || (w[3] != "tmp" && w[3] != "old"))
    return false;
  name = SaveRecord::Name{w[1] == "meta", w[3] == "old", static_cast<int>(number)};
  return true;
}

}  // namespace

std::string SaveRecord::Name::path(const std::string& sessionPath, const std::string& metaPath, pid_t pid) const {
  std::string name = (meta ? metaPath : sessionPath) + "." + std::to_string(pid);
  if (number > 0) name += "." + std::to_string(number);
  return name + (kept ? ".old" : ".tmp");
}

std::vector<SaveRecord::Name> SaveRecord::allNames() {
  std::vector<Name> names;
  for (const bool meta : {false, true})
    for (const bool kept : {false, true})
      for (int number = 0; number < kStagedNamesPerFile; ++number) names.push_back(Name{meta, kept, number});
  return names;
}

std::string SaveRecord::loadFolderPrefix(const std::string& sessionPath, pid_t pid) {
  return std::filesystem::path(sessionPath).filename().string() + "." + std::to_string(pid) + ".load-";
}

std::optional<SaveRecord> SaveRecord::ofThisProcess() {
  const std::optional<ProcessIdentity> self = ProcessIdentity::self();
  if (!self) return std::nullopt;
  SaveRecord record;
  record.process = *self;
  return record;
}

std::optional<SaveRecord> SaveRecord::ofSave(const std::string& sessionPath, const std::string& metaPath) {
  std::optional<SaveRecord> record = ofThisProcess();
  if (!record) return std::nullopt;
  record->saving = true;
  for (const Name& name : allNames()) {
    struct stat status {};
    if (lstat(name.path(sessionPath, metaPath, record->process.pid).c_str(), &status) == 0 || errno != ENOENT)
      record->before.push_back(name);
  }
  return record;
}

std::string SaveRecord::text() const {
  std::ostringstream out;
  out << kFirstLine << "\nprocess " << process.pid << ' ' << process.startTime << ' ' << process.bootId << '\n';
  if (!loadFolder.empty()) out << "load " << loadFolder << '\n';
  if (saving) out << "save\n";
  for (const Name& name : before)
    out << "before " << (name.meta ? "meta " : "session ") << name.number << (name.kept ? " old" : " tmp") << '\n';
  out << "end\n";
  return out.str();
}

std::optional<SaveRecord> SaveRecord::parse(const std::string& text) {
  if (text.size() > kMostBytes) return std::nullopt;
  const std::vector<std::string> lines = splitLines(text);
  SaveRecord record;
  if (lines.size() < 3 || lines.front() != kFirstLine || lines.back() != "end" ||
      !readProcess(words(lines[1]), record.process))
    return std::nullopt;
  size_t at = 2;
  const std::vector<std::string> load = words(lines[at]);
  if (load.size() == 2 && load[0] == "load") {
    if (load[1].size() != kLoadFolderCharacters ||
        !allOf(load[1], "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"))
      return std::nullopt;
    record.loadFolder = load[1];
    ++at;
  }
  if (lines[at] == "save") {
    record.saving = true;
    for (++at; at + 1 < lines.size(); ++at) {
      Name name;
      if (!readName(words(lines[at]), name) ||
          std::find(record.before.begin(), record.before.end(), name) != record.before.end())
        return std::nullopt;
      record.before.push_back(name);
    }
  }
  if (at != lines.size() - 1) return std::nullopt;
  return record;
}
