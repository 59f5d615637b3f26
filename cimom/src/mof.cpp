// The MOF reader: a tokenizer and a recursive-descent parser for the subset
// of MOF that the agent's class files use (see mof.h).
#include "cimom/mof.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace cimom::mof {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool same(const std::string &a, const std::string &b) { return lowered(a) == lowered(b); }

const Qualifier *findQualifier(const std::vector<Qualifier> &qualifiers, const std::string &name) {
  for (const Qualifier &q : qualifiers) {
    if (same(q.name, name)) return &q;
  }
  return nullptr;
}

const std::set<std::string> kDataTypes = {"uint8",  "sint8",  "uint16",  "sint16",  "uint32",
                                          "sint32", "uint64", "sint64",  "real32",  "real64",
                                          "char16", "string", "boolean", "datetime"};

enum class Tok { Ident, String, Number, Char, Punct, End };

struct Token {
  Tok kind = Tok::End;
  std::string text;
  int line = 0;
};

class Lexer {
 public:
  Lexer(const std::string &text, std::string file) : text_(text), file_(std::move(file)) {}

  Token next() {
    skipSpace();
    Token token;
    token.line = line_;
    if (pos_ >= text_.size()) return token;
    char c = text_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      token.kind = Tok::Ident;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        token.text += text_[pos_++];
    } else if (c == '"' || c == '\'') {
      token.kind = c == '"' ? Tok::String : Tok::Char;
      token.text = quoted(c);
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               ((c == '-' || c == '+' || c == '.') && pos_ + 1 < text_.size() &&
                std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      token.kind = Tok::Number;
      token.text += text_[pos_++];
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
              ((text_[pos_] == '-' || text_[pos_] == '+') &&
               (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E'))))
        token.text += text_[pos_++];
    } else if (std::string("{}[]();:,=#").find(c) != std::string::npos) {
      token.kind = Tok::Punct;
      token.text = std::string(1, c);
      ++pos_;
    } else {
      throw Error(file_, line_, std::string("unexpected character '") + c + "'");
    }
    return token;
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        int start = line_;
        size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string::npos) throw Error(file_, start, "comment not closed");
        line_ += static_cast<int>(std::count(text_.begin() + static_cast<long>(pos_),
                                             text_.begin() + static_cast<long>(end), '\n'));
        pos_ = end + 2;
      } else {
        return;
      }
    }
  }

  std::string quoted(char quote) {
    int start = line_;
    std::string out;
    ++pos_;
    while (true) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') throw Error(file_, start, "text not closed");
      char c = text_[pos_++];
      if (c == quote) return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) throw Error(file_, start, "text not closed");
      char e = text_[pos_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case '"':
        case '\'':
        case '\\':
          out += e;
          break;
        default:
          throw Error(file_, line_, std::string("unknown escape \\") + e);
      }
    }
  }

  const std::string &text_;
  std::string file_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

class Parser {
 public:
  Parser(Repository &repo, const std::string &text, std::string file, std::filesystem::path base)
      : repo_(repo), lexer_(text, file), file_(std::move(file)), base_(std::move(base)) {
    advance();
  }

  void parse() {
    while (token_.kind != Tok::End) production();
  }

 private:
  [[noreturn]] void fail(const std::string &what) const { throw Error(file_, token_.line, what); }
  std::string describe() const {
    return token_.kind == Tok::End ? std::string("the end") : "'" + token_.text + "'";
  }
  void advance() { token_ = lexer_.next(); }
  bool isPunct(char c) const { return token_.kind == Tok::Punct && token_.text[0] == c; }
  bool isWord(const char *word) const {
    return token_.kind == Tok::Ident && same(token_.text, word);
  }
  void expect(char c) {
    if (!isPunct(c)) fail(std::string("expected '") + c + "' but found " + describe());
    advance();
  }
  std::string identifier(const char *what) {
    if (token_.kind != Tok::Ident)
      fail(std::string("expected ") + what + " but found " + describe());
    std::string name = token_.text;
    advance();
    return name;
  }

  void production() {
    if (isPunct('#')) return pragma();
    std::vector<Qualifier> qualifiers;
    if (isPunct('[')) qualifiers = qualifierList();
    if (isWord("class")) return classDeclaration(std::move(qualifiers));
    if (isWord("qualifier")) return skipStatement();
    if (isWord("instance")) fail("instances are not read");
    fail("expected a class declaration but found " + describe());
  }

  void pragma() {
    int line = token_.line;
    advance();
    if (!isWord("pragma")) fail("expected 'pragma' after '#'");
    advance();
    std::string name = identifier("a pragma name");
    expect('(');
    if (token_.kind != Tok::String) fail("expected the pragma's text");
    std::string value = stringValue();
    expect(')');
    if (!same(name, "include")) return;
    std::filesystem::path target = base_ / value;
    if (!std::filesystem::is_regular_file(target))
      throw Error(file_, line, "cannot read included file " + value);
    repo_.readFile(target.string());
  }

  // A qualifier declaration is the object manager's business, not the classes'.
  void skipStatement() {
    int depth = 0;
    while (token_.kind != Tok::End && !(depth == 0 && isPunct(';'))) {
      if (isPunct('(') || isPunct('{') || isPunct('[')) ++depth;
      if (isPunct(')') || isPunct('}') || isPunct(']')) --depth;
      advance();
    }
    expect(';');
  }

  std::string stringValue() {
    std::string out;
    while (token_.kind == Tok::String) {  // adjacent texts are one
      out += token_.text;
      advance();
    }
    return out;
  }

  // The text of a value: texts quoted, lists in braces.
  std::string value() {
    if (isPunct('{')) {
      advance();
      std::string out = "{";
      while (!isPunct('}')) {
        if (out.size() > 1) {
          expect(',');
          out += ", ";
        }
        out += value();
      }
      advance();
      return out + "}";
    }
    if (token_.kind == Tok::String) return "\"" + stringValue() + "\"";
    if (token_.kind == Tok::Char) {
      std::string out = "'" + token_.text + "'";
      advance();
      return out;
    }
    if (token_.kind == Tok::Number || token_.kind == Tok::Ident) {
      std::string out = token_.text;
      advance();
      return out;
    }
    fail("expected a value but found " + describe());
  }

  std::vector<Qualifier> qualifierList() {
    expect('[');
    std::vector<Qualifier> qualifiers;
    while (true) {
      Qualifier q;
      q.name = identifier("a qualifier name");
      if (findQualifier(qualifiers, q.name) != nullptr)
        fail("qualifier " + q.name + " given twice");
      if (isPunct('(')) {
        advance();
        q.value = value();
        expect(')');
      } else if (isPunct('{')) {
        q.value = value();
      }
      if (isPunct(':')) {  // flavors
        advance();
        while (token_.kind == Tok::Ident) advance();
      }
      qualifiers.push_back(std::move(q));
      if (isPunct(']')) break;
      expect(',');
    }
    advance();
    return qualifiers;
  }

  void classDeclaration(std::vector<Qualifier> qualifiers) {
    int line = token_.line;
    advance();
    Class cls;
    cls.name = identifier("a class name");
    cls.qualifiers = std::move(qualifiers);
    cls.file = file_;
    cls.line = line;
    if (repo_.find(cls.name) != nullptr) fail("class " + cls.name + " is declared twice");
    if (isPunct(':')) {
      advance();
      cls.superclass = identifier("a superclass name");
      const Class *parent = repo_.find(cls.superclass);
      if (parent == nullptr)
        fail("superclass " + cls.superclass + " of " + cls.name + " is unknown");
      cls.superclass = parent->name;
    }
    expect('{');
    while (!isPunct('}')) feature(cls);
    advance();
    expect(';');
    repo_.add(std::move(cls));
  }

  // The type of a property or parameter: a data type, or a class followed by REF.
  void typeOf(Property &p) {
    std::string type = identifier("a type");
    if (isWord("ref")) {
      advance();
      p.type = "ref";
      p.referenceClass = type;
    } else if (kDataTypes.count(lowered(type)) != 0) {
      p.type = lowered(type);
    } else {
      fail("unknown type " + type);
    }
  }

  void arraySpec(Property &p) {
    if (!isPunct('[')) return;
    advance();
    p.array = true;
    if (token_.kind == Tok::Number) {
      try {
        p.arraySize = static_cast<unsigned>(std::stoul(token_.text));
      } catch (const std::exception &) {
        fail("bad array size " + token_.text);
      }
      advance();
    }
    expect(']');
  }

  void feature(Class &cls) {
    std::vector<Qualifier> qualifiers;
    if (isPunct('[')) qualifiers = qualifierList();
    Property p;
    typeOf(p);
    std::string name = identifier("a property or method name");
    auto known = [&](const std::string &n) {
      for (const Property &q : cls.properties)
        if (same(q.name, n)) return true;
      for (const Method &m : cls.methods)
        if (same(m.name, n)) return true;
      return false;
    };
    if (known(name)) fail(name + " is declared twice in " + cls.name);
    if (isPunct('(')) {
      if (p.type == "ref") fail("method " + name + " cannot return a reference");
      Method m;
      m.name = name;
      m.returnType = p.type;
      m.qualifiers = std::move(qualifiers);
      advance();
      while (!isPunct(')')) {
        if (!m.parameters.empty()) expect(',');
        m.parameters.push_back(parameter());
      }
      advance();
      expect(';');
      cls.methods.push_back(std::move(m));
      return;
    }
    p.name = name;
    p.qualifiers = std::move(qualifiers);
    p.key = findQualifier(p.qualifiers, "Key") != nullptr;
    arraySpec(p);
    if (isPunct('=')) {
      advance();
      p.defaultValue = value();
    }
    expect(';');
    cls.properties.push_back(std::move(p));
  }

  Property parameter() {
    Property p;
    if (isPunct('[')) p.qualifiers = qualifierList();
    typeOf(p);
    p.name = identifier("a parameter name");
    arraySpec(p);
    if (isPunct('=')) {
      advance();
      p.defaultValue = value();
    }
    return p;
  }

  Repository &repo_;
  Lexer lexer_;
  std::string file_;
  std::filesystem::path base_;
  Token token_;
};

Error::Error(const std::string &where, int at, const std::string &what)
    : std::runtime_error(where + ":" + std::to_string(at) + ": " + what), file(where), line(at) {}

const Qualifier *Property::qualifier(const std::string &qualifierName) const {
  return findQualifier(qualifiers, qualifierName);
}
const Qualifier *Class::qualifier(const std::string &qualifierName) const {
  return findQualifier(qualifiers, qualifierName);
}

void Repository::readFile(const std::string &path) {
  std::filesystem::path file(path);
  std::string canonical = std::filesystem::weakly_canonical(file).string();
  if (std::find(including_.begin(), including_.end(), canonical) != including_.end())
    throw Error(path, 1, "includes itself");
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error(path, 0, "cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  files_.push_back(path);
  including_.push_back(canonical);
  try {
    std::string contents = text.str();
    Parser(*this, contents, path, file.parent_path()).parse();
  } catch (...) {
    including_.pop_back();
    throw;
  }
  including_.pop_back();
}

void Repository::readText(const std::string &text, const std::string &name) {
  Parser(*this, text, name, std::filesystem::current_path()).parse();
}

void Repository::checkReferences() const {
  auto check = [&](const Class &cls, const Property &p) {
    if (p.type == "ref" && find(p.referenceClass) == nullptr)
      throw Error(cls.file, cls.line,
                  cls.name + "." + p.name + " refers to an unknown class " + p.referenceClass);
  };
  for (const Class &cls : classes_) {
    for (const Property &p : cls.properties) check(cls, p);
    for (const Method &m : cls.methods)
      for (const Property &p : m.parameters) check(cls, p);
  }
}

void Repository::add(Class cls) {
  index_[lowered(cls.name)] = classes_.size();
  classes_.push_back(std::move(cls));
}

const Class *Repository::find(const std::string &name) const {
  auto it = index_.find(lowered(name));
  return it == index_.end() ? nullptr : &classes_[it->second];
}

bool Repository::isA(const std::string &className, const std::string &parent) const {
  for (const Class *cls = find(className); cls != nullptr;
       cls = cls->superclass.empty() ? nullptr : find(cls->superclass)) {
    if (same(cls->name, parent)) return true;
  }
  return false;
}

std::vector<Property> Repository::allProperties(const std::string &className) const {
  const Class *cls = find(className);
  if (cls == nullptr) return {};
  std::vector<Property> all =
      cls->superclass.empty() ? std::vector<Property>() : allProperties(cls->superclass);
  for (const Property &p : cls->properties) {
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const Property &q) { return same(q.name, p.name); });
    if (it == all.end()) {
      all.push_back(p);
    } else {
      bool key = it->key;
      *it = p;
      it->key = key || p.key;
    }
  }
  return all;
}

std::vector<std::string> Repository::keys(const std::string &className) const {
  std::vector<std::string> names;
  for (const Property &p : allProperties(className)) {
    if (p.key) names.push_back(p.name);
  }
  return names;
}

Repository readRepository(const std::string &path) {
  Repository repo;
  repo.readFile(path);
  repo.checkReferences();
  return repo;
}

}  // namespace cimom::mof
