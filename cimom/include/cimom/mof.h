// Class declarations read from MOF: the subset the agent's own MOF files use.
//
// Read: comments, `#pragma include ("file")` (relative to the including file;
// other pragmas are skipped), qualifier declarations (skipped), and class
// declarations with their qualifiers, properties (scalar or array, with a
// default value), references and methods with their parameters.  Instances
// and anything else are refused.  A superclass must be declared before its
// subclasses; every reference must name a declared class once all files are
// read.  Names compare case-insensitively and keep their spelling.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The object manager is a shared library of its own so that a test and the
// provider libraries it loads see one instance.
#ifndef CIMOM_EXPORT
#if defined(__GNUC__)
#define CIMOM_EXPORT __attribute__((visibility("default")))
#else
#define CIMOM_EXPORT
#endif
#endif

namespace cimom::mof {

// A qualifier as written: its name and its value's text (a list as "{a, b}"),
// "" for a flag such as Key or Abstract.
struct Qualifier {
  std::string name;
  std::string value;
};

// A property, reference or method parameter.
struct CIMOM_EXPORT Property {
  std::string name;
  std::string type;            // lower case ("string", "uint16" ...), "ref" for a reference
  std::string referenceClass;  // the referenced class of a reference
  bool array = false;
  std::optional<unsigned> arraySize;        // a fixed size, when given
  std::optional<std::string> defaultValue;  // the initializer's text
  bool key = false;
  std::vector<Qualifier> qualifiers;
  // The qualifier of that name (case ignored), or null.
  const Qualifier *qualifier(const std::string &qualifierName) const;
};

struct Method {
  std::string name;
  std::string returnType;
  std::vector<Property> parameters;
  std::vector<Qualifier> qualifiers;
};

struct CIMOM_EXPORT Class {
  std::string name;
  std::string superclass;  // "" for a root class
  std::vector<Qualifier> qualifiers;
  std::vector<Property> properties;  // those declared (or overridden) here
  std::vector<Method> methods;
  std::string file;  // where it was declared
  int line = 0;
  const Qualifier *qualifier(const std::string &qualifierName) const;
  bool isAssociation() const { return qualifier("Association") != nullptr; }
  bool isIndication() const { return qualifier("Indication") != nullptr; }
  bool isAbstract() const { return qualifier("Abstract") != nullptr; }
};

// A refusal, with the file and line where it was found.
class CIMOM_EXPORT Error : public std::runtime_error {
 public:
  Error(const std::string &file, int line, const std::string &what);
  std::string file;
  int line;
};

// The classes read so far.
class CIMOM_EXPORT Repository {
 public:
  // Reads a MOF file and the files it includes; throws Error.
  void readFile(const std::string &path);
  // Reads MOF text; includes are relative to the current directory; throws Error.
  void readText(const std::string &text, const std::string &name = "<text>");
  // Throws Error for a reference to a class that was never declared.
  void checkReferences() const;

  // The class of that name (case ignored), or null.
  const Class *find(const std::string &name) const;
  // True when className is parent or derives from it (case ignored); false for an
  // unknown class.
  bool isA(const std::string &className, const std::string &parent) const;
  // Every property of the class, inherited ones first in declaration order, an
  // override in the place of the property it overrides; a key stays a key.
  std::vector<Property> allProperties(const std::string &className) const;
  // The key names of the class, in the order allProperties gives them.
  std::vector<std::string> keys(const std::string &className) const;
  // Classes in declaration order.
  const std::vector<Class> &classes() const { return classes_; }
  // Files read, in the order they were opened.
  const std::vector<std::string> &files() const { return files_; }

 private:
  friend class Parser;
  void add(Class cls);

  std::vector<Class> classes_;
  std::map<std::string, size_t> index_;  // lowered name -> position
  std::vector<std::string> files_;
  std::vector<std::string> including_;  // files being read, to refuse a cycle
};

// The repository of one MOF file and its includes, references checked; throws Error.
CIMOM_EXPORT Repository readRepository(const std::string &path);

}  // namespace cimom::mof
