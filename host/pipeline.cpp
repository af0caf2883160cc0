#include "host/pipeline.h"

#include <cctype>
#include <map>

namespace cli {

namespace {

struct Word {
  std::string text;     // quotes removed
  size_t eq = std::string::npos;  // position in text of the first '=' outside quotes
  bool quoted = false;  // some part was quoted
  bool bang = false;    // the separator '!'
};

bool Lex(const std::string& line, std::vector<Word>* words, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    if (line[i] == '!') {
      Word w;
      w.bang = true;
      w.text = "!";
      words->push_back(w);
      ++i;
      continue;
    }
    Word w;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != '!') {
      char c = line[i];
      if (c == '"' || c == '\'') {
        size_t close = line.find(c, i + 1);
        if (close == std::string::npos) {
          *error = "unterminated quote " + std::string(1, c) + " at character " + std::to_string(i + 1);
          return false;
        }
        w.text += line.substr(i + 1, close - i - 1);
        w.quoted = true;
        i = close + 1;
      } else if (c == '\\' && i + 1 < line.size()) {
        w.text += line[i + 1];
        i += 2;
      } else {
        if (c == '=' && w.eq == std::string::npos) w.eq = w.text.size();
        w.text += c;
        ++i;
      }
    }
    words->push_back(std::move(w));
  }
  return true;
}

bool IsReference(const Word& w) {
  if (w.quoted || w.bang || w.eq != std::string::npos || w.text.size() < 2 || w.text.back() != '.') return false;
  for (size_t i = 0; i + 1 < w.text.size(); ++i) {
    char c = w.text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
  }
  return true;
}

}  // namespace

bool ParsePipeline(const std::vector<std::string>& args, Pipeline* pipeline, std::string* error) {
  std::string line;
  for (const std::string& a : args) {
    // An argument with blanks came quoted from the shell. Unless it holds the pipeline's own
    // syntax (a whole pipeline in one argument), it is one word: a name with blanks, or
    // PARAM=VALUE whose value has blanks (location="/my clips/a.yuv"). Quote it again.
    std::string word = a;
    if (a.find_first_of(" \t") != std::string::npos && a.find_first_of("!\"'") == std::string::npos) {
      size_t eq = a.find('=');
      word = eq == std::string::npos ? "\"" + a + "\"" : a.substr(0, eq + 1) + "\"" + a.substr(eq + 1) + "\"";
    }
    line += (line.empty() ? "" : " ") + word;
  }
  std::vector<Word> words;
  if (!Lex(line, &words, error)) return false;
  if (words.empty()) {
    *error = "empty pipeline";
    return false;
  }

  // Pass 1: elements and the order of nodes; references are kept by name until all names are known.
  struct Node {
    int element = -1;
    std::string ref;
  };
  std::vector<std::vector<Node>> chains(1);
  bool expectElement = true;  // after '!' or at the start
  bool lastWasBang = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const Word& w = words[i];
    if (w.bang) {
      if (chains.back().empty() || lastWasBang) {
        *error = "'!' without an element before it (word " + std::to_string(i + 1) + ")";
        return false;
      }
      expectElement = true;
      lastWasBang = true;
      continue;
    }
    if (!expectElement && w.eq != std::string::npos && chains.back().back().element >= 0) {
      PipelineElement& e = pipeline->elements[static_cast<size_t>(chains.back().back().element)];
      std::string key = w.text.substr(0, w.eq), value = w.text.substr(w.eq + 1);
      if (key.empty()) {
        *error = "property without a name: '" + w.text + "' after " + e.filter;
        return false;
      }
      if (key == "name") {
        e.name = value;
      } else {
        e.params.emplace_back(key, value);
      }
      lastWasBang = false;
      continue;
    }
    if (!expectElement) chains.emplace_back();  // a new chain begins without '!'
    if (w.eq != std::string::npos && !w.quoted) {
      *error = "'" + w.text + "' looks like a property but has no element before it";
      return false;
    }
    Node n;
    if (IsReference(w)) {
      n.ref = w.text.substr(0, w.text.size() - 1);
    } else {
      n.element = static_cast<int>(pipeline->elements.size());
      PipelineElement e;
      e.filter = w.text;
      pipeline->elements.push_back(std::move(e));
    }
    chains.back().push_back(n);
    expectElement = false;
    lastWasBang = false;
  }
  if (lastWasBang) {
    *error = "the pipeline ends with '!'";
    return false;
  }

  std::map<std::string, int> names;
  for (size_t i = 0; i < pipeline->elements.size(); ++i) {
    const std::string& n = pipeline->elements[i].name;
    if (n.empty()) continue;
    if (names.count(n)) {
      *error = "two elements are named '" + n + "'";
      return false;
    }
    names[n] = static_cast<int>(i);
  }
  for (const auto& chain : chains) {
    std::vector<int> ids;
    for (const Node& n : chain) {
      if (n.element >= 0) {
        ids.push_back(n.element);
        continue;
      }
      auto it = names.find(n.ref);
      if (it == names.end()) {
        *error = "'" + n.ref + ".' refers to no element named '" + n.ref + "' (give one name=" + n.ref + ")";
        return false;
      }
      ids.push_back(it->second);
    }
    for (size_t i = 1; i < ids.size(); ++i) {
      if (ids[i - 1] == ids[i]) {
        *error = "element '" + pipeline->elements[static_cast<size_t>(ids[i])].filter + "' is linked to itself";
        return false;
      }
      pipeline->links.push_back({ids[i - 1], ids[i]});
    }
  }
  return true;
}

}  // namespace cli
