// The lines the library prints are part of what a host must know: kivet.h
// lists them. Every text that a source of the library writes to a standard
// stream must be listed there, whether written directly (std::cout,
// std::cerr, std::clog, the C library's printf and puts, or anything naming
// stdout or stderr), through a constant of its file, or through a function of
// its file that writes one of its parameters (as a "report(text)" helper).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A source without comments, each string literal (adjacent ones joined)
// replaced by "$N", N its index in `literals`, and char literals by "' '".
struct Source {
  std::string code;
  std::vector<std::string> literals;
  std::vector<int> lines;
};

char unescape(const std::string& text, size_t& i) {
  const char c = text[++i];
  if (c == 'n') return '\n';
  if (c == 't') return '\t';
  if (c == 'x') {
    size_t digits = 0;
    const int value = std::stoi(text.substr(i + 1, 2), &digits, 16);
    i += digits;
    return static_cast<char>(value);
  }
  return c;
}

Source lex(const std::string& text) {
  Source source;
  int line = 1;
  bool joining = false;  // only blanks since the last literal
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (text.compare(i, 2, "//") == 0) {
      i = text.find('\n', i) - 1;
    } else if (text.compare(i, 2, "/*") == 0) {
      const size_t end = text.find("*/", i + 2);
      line += static_cast<int>(std::count(&text[i], &text[end], '\n'));
      i = end + 1;
    } else if (c == '"' || c == '\'') {
      std::string literal;
      for (++i; text[i] != c; ++i) literal += text[i] == '\\' ? unescape(text, i) : text[i];
      if (c == '\'') {
        source.code += "' '";
      } else if (joining) {
        source.literals.back() += literal;
      } else {
        source.code += "$" + std::to_string(source.literals.size()) + " ";
        source.literals.push_back(literal);
        source.lines.push_back(line);
      }
      joining = c == '"';
      continue;
    } else {
      source.code += c;
    }
    if (!std::isspace(static_cast<unsigned char>(c))) joining = false;
  }
  return source;
}

// The text from the brace at open to its matching brace.
std::string bodyAt(const std::string& code, size_t open) {
  int depth = 0;
  for (size_t i = open; i < code.size(); ++i) {
    depth += code[i] == '{' ? 1 : code[i] == '}' ? -1 : 0;
    if (depth == 0) return code.substr(open, i + 1 - open);
  }
  return code.substr(open);
}

// The lines of kivet.h's list, without their comment marks.
std::vector<std::string> listedLines() {
  std::ifstream header(KIVET_INTERFACE_HEADER);
  std::vector<std::string> lines;
  bool inList = false;
  for (std::string line; std::getline(header, line);) {
    if (line.rfind("// Lines the library prints.", 0) == 0) inList = true;
    if (line.rfind("// The library prints on no other occasion.", 0) == 0) break;
    if (inList) lines.push_back(line.substr(2));
  }
  return lines;
}

const std::regex kWrites(
    R"(std::(cout|cerr|clog)\b|\bstd(out|err)\b|(^|[^\w.>:])(std::)?(printf|puts|putchar|perror)\s*\()");

// The texts a source writes to a standard stream, each with its line: the
// literals of each statement that writes to one, or that calls a function
// of the file writing one of its parameters there, and of the file's
// constants that such a statement names.
std::vector<std::pair<int, std::string>> writtenTexts(const Source& source) {
  const std::regex definition(R"(\b(\w+)\s*\(([^(){};]*)\)\s*(const\s*)?\{)");
  const std::regex constant(R"(\b(\w+)\s*(\[\s*\])?\s*=\s*\$(\d+))");
  const std::regex written(R"(<<\s*(\w+)\b\s*(?![(.\[:]))");
  const std::set<std::string> keywords = {"catch", "if", "for", "while", "switch", "return"};
  const std::string& code = source.code;
  std::map<std::string, std::string> constants;
  for (std::sregex_iterator m(code.begin(), code.end(), constant), end; m != end; ++m)
    constants[(*m)[1]] = "$" + (*m)[3].str();
  std::string writers = "(?!)";
  for (std::sregex_iterator m(code.begin(), code.end(), definition), end; m != end; ++m) {
    if (keywords.count((*m)[1])) continue;
    const std::string parameters = (*m)[2];
    const std::string body = bodyAt(code, static_cast<size_t>(m->position() + m->length() - 1));
    if (!std::regex_search(body, kWrites)) continue;
    for (std::sregex_iterator w(body.begin(), body.end(), written), wend; w != wend; ++w)
      if (std::regex_search(parameters, std::regex("\\b" + (*w)[1].str() + "\\s*(,|$)")))
        writers += "|\\b" + (*m)[1].str() + "\\s*\\(";
  }
  const std::regex writerCall(writers);
  std::vector<std::pair<int, std::string>> texts;
  const std::regex separator("[;{}]");
  for (std::sregex_token_iterator cut(code.begin(), code.end(), separator, -1), end; cut != end; ++cut) {
    std::string statement = cut->str();
    if (!std::regex_search(statement, kWrites) && !std::regex_search(statement, writerCall)) continue;
    for (const auto& [name, marker] : constants)
      if (std::regex_search(statement, std::regex("\\b" + name + "\\b"))) statement += " " + marker;
    const std::regex literal(R"(\$(\d+))");
    for (std::sregex_iterator m(statement.begin(), statement.end(), literal), mend; m != mend; ++m) {
      const size_t index = std::stoul((*m)[1]);
      texts.emplace_back(source.lines[index], source.literals[index]);
    }
  }
  return texts;
}

}  // namespace

TEST(KivetPrintedLines, EveryTextWrittenToAStandardStreamIsListedInTheHeader) {
  const std::vector<std::string> listed = listedLines();
  ASSERT_GT(listed.size(), 20u) << "no list of printed lines in " << KIVET_INTERFACE_HEADER;
  // Lines and format fields (printf's) apart: each piece must stand in a
  // line of the list.
  const std::regex piece(R"([^\n\t%]+|%[-+ #0-9.]*[a-zA-Z])");
  unsigned checked = 0;
  for (const char* folder : {"platform", "metadata", "signature", "similarity", "session", "api", "com"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(KIVET_SOURCE_DIR) / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      for (const auto& [line, text] : writtenTexts(lex(readAll(entry.path())))) {
        for (std::sregex_iterator p(text.begin(), text.end(), piece), end; p != end; ++p) {
          const std::string fragment = p->str();
          if (fragment[0] == '%' || fragment.find_first_not_of(' ') == std::string::npos) continue;
          ++checked;
          const auto holds = [&](const std::string& at) { return at.find(fragment) != std::string::npos; };
          EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), holds))
              << entry.path().string() << ":" << line << " writes \"" << fragment
              << "\", which kivet.h does not list among the lines the library prints";
        }
      }
    }
  }
  EXPECT_GT(checked, 50u) << "too few texts found: is the source tree at " << KIVET_SOURCE_DIR << "?";
}
