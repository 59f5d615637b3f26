// The MOF reader: the agent's own class files in mof/, what a declaration
// gives, and the refusals with their places.
#include <cimom/mof.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using cimom::mof::Error;
using cimom::mof::Property;
using cimom::mof::Repository;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

std::vector<std::string> names(const std::vector<Property> &properties) {
  std::vector<std::string> out;
  out.reserve(properties.size());
  for (const Property &p : properties) out.push_back(p.name);
  return out;
}

const Property *propertyOf(const Repository &repo, const std::string &cls,
                           const std::string &name) {
  static std::vector<Property> held;
  held = repo.allProperties(cls);
  for (const Property &p : held)
    if (p.name == name) return &p;
  return nullptr;
}

// The message of the refusal of text, or "" when it is read.
std::string refusal(const std::string &text) {
  try {
    Repository repo;
    repo.readText(text, "t.mof");
    repo.checkReferences();
  } catch (const Error &e) {
    return e.what();
  }
  return "";
}

TEST(MofTest, TheAgentsClassFilesAreReadWhole) {
  Repository repo = cimom::mof::readRepository(std::string(MOF_DIR) + "/kelva.mof");
  // Every file of the folder is read, once.
  std::vector<std::string> onDisk, read;
  for (const auto &entry : fs::directory_iterator(MOF_DIR))
    if (entry.path().extension() == ".mof") onDisk.push_back(entry.path().filename().string());
  for (const auto &file : repo.files()) read.push_back(fs::path(file).filename().string());
  EXPECT_THAT(read, UnorderedElementsAreArray(onDisk));
  EXPECT_EQ(std::set<std::string>(read.begin(), read.end()).size(), read.size());

  // Each agent class derives from a CIM class; each class that can have instances
  // has keys (indications are delivered, never named, and have none).
  for (const auto &cls : repo.classes()) {
    if (cls.name.starts_with("KELVA_")) {
      EXPECT_TRUE(cls.superclass.starts_with("CIM_")) << cls.name;
    }
    if (!cls.isAbstract() && !cls.isIndication()) {
      EXPECT_FALSE(repo.keys(cls.name).empty()) << cls.name;
    }
  }

  // Inherited keys keep the place where they were first declared.
  EXPECT_THAT(repo.keys("KELVA_StorageSystem"), UnorderedElementsAre("CreationClassName", "Name"));
  EXPECT_THAT(repo.keys("kelva_storagevolume"), ElementsAre("SystemCreationClassName", "SystemName",
                                                            "CreationClassName", "DeviceID"));
  // What the libraries set is declared.
  for (const char *name :
       {"ElementName", "Caption", "Description", "NameFormat", "OperationalStatus", "Dedicated",
        "Vendor", "Model", "SerialNumber", "VersionString"})
    EXPECT_NE(propertyOf(repo, "KELVA_StorageSystem", name), nullptr) << name;
  for (const char *name :
       {"Name", "ElementName", "Description", "BlockSize", "NumberOfBlocks", "ConsumableBlocks",
        "OperationalStatus", "EnabledState", "OSType", "IsMapped"})
    EXPECT_NE(propertyOf(repo, "KELVA_StorageVolume", name), nullptr) << name;
  const Property *status = propertyOf(repo, "KELVA_StorageVolume", "OperationalStatus");
  EXPECT_TRUE(status->array);
  EXPECT_EQ(status->type, "uint16");
  const Property *description = propertyOf(repo, "KELVA_StorageVolume", "Description");
  EXPECT_NE(description->qualifier("Write"), nullptr);

  const auto *device = repo.find("KELVA_SystemDevice");
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->isAssociation());
  const Property *group = propertyOf(repo, "KELVA_SystemDevice", "GroupComponent");
  EXPECT_EQ(group->type, "ref");
  EXPECT_EQ(group->referenceClass, "KELVA_StorageSystem");
  EXPECT_TRUE(group->key);  // the key of the overridden reference stays
  EXPECT_EQ(propertyOf(repo, "KELVA_SystemDevice", "PartComponent")->referenceClass,
            "KELVA_StorageVolume");

  EXPECT_TRUE(repo.isA("KELVA_StorageVolume", "cim_managedelement"));
  EXPECT_TRUE(repo.isA("KELVA_SystemDevice", "CIM_Component"));
  EXPECT_FALSE(repo.isA("KELVA_StorageVolume", "CIM_System"));
  EXPECT_FALSE(repo.isA("KELVA_Unknown", "CIM_ManagedElement"));
  EXPECT_TRUE(repo.find("CIM_InstModification")->isIndication());
}

TEST(MofTest, ADeclarationGivesQualifiersTypesDefaultsAndMethods) {
  Repository repo;
  repo.readText(R"(
    #pragma locale ("en_US")
    Qualifier Key : boolean = false, Scope (property, reference), Flavor (DisableOverride);
    /* a block comment
       over lines */
    [Abstract, Description ("A base " "class."), Version ("2.1")]
    class Base {
        [Key] string Id;
        [ValueMap {"0", "2"}, Values {"Off", "On"}] uint16 State = 2;
        string Names[4];
        boolean Flags[] = {true, false};
        real64 Ratio = -1.5e3;
        char16 Letter = 'x';
    };
    class Child : Base {
        [Override ("Id"), Description ("The child's own.")] string Id;
        datetime When;
        [Static] uint32 Reset ([IN] string Why, [IN, OUT] uint16 Codes[], [OUT] Base REF Made);
    };
  )");
  const auto *base = repo.find("base");
  ASSERT_NE(base, nullptr);
  EXPECT_TRUE(base->isAbstract());
  EXPECT_EQ(base->qualifier("Description")->value, "\"A base class.\"");
  EXPECT_EQ(base->qualifier("VERSION")->value, "\"2.1\"");
  EXPECT_EQ(base->properties[1].qualifier("ValueMap")->value, "{\"0\", \"2\"}");
  EXPECT_EQ(base->properties[1].defaultValue, "2");
  EXPECT_EQ(base->properties[2].arraySize, 4u);
  EXPECT_EQ(base->properties[3].defaultValue, "{true, false}");
  EXPECT_EQ(base->properties[4].defaultValue, "-1.5e3");
  EXPECT_EQ(base->properties[5].defaultValue, "'x'");

  EXPECT_THAT(names(repo.allProperties("Child")),
              ElementsAre("Id", "State", "Names", "Flags", "Ratio", "Letter", "When"));
  EXPECT_THAT(repo.keys("Child"), ElementsAre("Id"));
  EXPECT_EQ(propertyOf(repo, "Child", "Id")->qualifier("Description")->value,
            "\"The child's own.\"");
  const auto &reset = repo.find("Child")->methods.at(0);
  EXPECT_EQ(reset.name, "Reset");
  EXPECT_EQ(reset.returnType, "uint32");
  ASSERT_EQ(reset.parameters.size(), 3u);
  EXPECT_TRUE(reset.parameters[1].array);
  EXPECT_NE(reset.parameters[1].qualifier("OUT"), nullptr);
  EXPECT_EQ(reset.parameters[2].referenceClass, "Base");
}

TEST(MofTest, RefusalsNameTheFileAndLine) {
  EXPECT_THAT(refusal("class A : B {};"), HasSubstr("t.mof:1: superclass B of A is unknown"));
  EXPECT_THAT(refusal("class A {};\nclass a {};"), HasSubstr("t.mof:2: class a is declared twice"));
  EXPECT_THAT(refusal("class A {\n string X;\n uint8 x;\n};"),
              HasSubstr("t.mof:3: x is declared twice in A"));
  EXPECT_THAT(refusal("class A { strng X; };"), HasSubstr("unknown type strng"));
  EXPECT_THAT(refusal("class A { string X };"), HasSubstr("expected ';' but found '}'"));
  EXPECT_THAT(refusal("class A { string X; }"), HasSubstr("expected ';' but found the end"));
  EXPECT_THAT(refusal("\n/* open"), HasSubstr("t.mof:2: comment not closed"));
  EXPECT_THAT(refusal("[Description (\"open\n)] class A {};"),
              HasSubstr("t.mof:1: text not closed"));
  EXPECT_THAT(refusal("instance of A { X = 1; };"), HasSubstr("instances are not read"));
  EXPECT_THAT(refusal("[Key, Key] class A {};"), HasSubstr("qualifier Key given twice"));
  EXPECT_THAT(refusal("class A { B REF Other; };"),
              HasSubstr("A.Other refers to an unknown class B"));
  EXPECT_THAT(refusal("class A { string X; } ;\n class B : A { @ };"),
              HasSubstr("t.mof:2: unexpected character '@'"));
  EXPECT_EQ(refusal("class A { A REF Self; };"), "");
}

TEST(MofTest, IncludesAreReadFromTheIncludingFilesFolder) {
  std::string pattern = (fs::temp_directory_path() / "mof-XXXXXX").string();
  fs::path dir = mkdtemp(pattern.data());
  fs::create_directory(dir / "sub");
  auto write = [&](const fs::path &file, const std::string &text) { std::ofstream(file) << text; };
  write(dir / "root.mof", "#pragma include (\"sub/base.mof\")\nclass Top : Base {};\n");
  write(dir / "sub" / "base.mof", "class Base { [Key] string Id; };\n");
  Repository repo = cimom::mof::readRepository((dir / "root.mof").string());
  EXPECT_TRUE(repo.isA("Top", "Base"));
  EXPECT_EQ(repo.files().size(), 2u);

  write(dir / "missing.mof", "class A {};\n#pragma include (\"nowhere.mof\")\n");
  try {
    cimom::mof::readRepository((dir / "missing.mof").string());
    ADD_FAILURE() << "a missing include was read";
  } catch (const Error &e) {
    EXPECT_THAT(e.what(), HasSubstr("missing.mof:2: cannot read included file nowhere.mof"));
  }
  write(dir / "loop.mof", "#pragma include (\"loop.mof\")\n");
  EXPECT_THROW(cimom::mof::readRepository((dir / "loop.mof").string()), Error);
  EXPECT_THROW(cimom::mof::readRepository((dir / "absent.mof").string()), Error);
  fs::remove_all(dir);
}

}  // namespace
