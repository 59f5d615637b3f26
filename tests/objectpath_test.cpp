// Object paths, association instances, keys, properties and parameters through
// the embedded object manager at both CMPI levels, with its failures injected;
// the OS-version rule against simulated filers; object existence through a
// fixture implementation library.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <wbemkelvai/wsiapi.h>

#include <array>
#include <cstdlib>
#include <map>
#include <string>

#include "support.h"

namespace {

class ToolkitTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    source = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageSystem", nullptr);
    CMSetHostname(source, "agent.example");
  }
  void TearDown() override {
    clearCMPIError(broker, &status);
    CMRelease(source);
    ObjectManagerTest::TearDown();
  }
  std::string message() { return takeMessage(status); }
  CMPIObjectPath *newPath(const char *className) {
    return CMNewObjectPath(broker, "root/kelva", className, nullptr);
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIObjectPath *source = nullptr;
};

TEST_P(ToolkitTest, PathsTakeTheRequestsNamespaceAndClassTests) {
  EXPECT_STREQ(getKELVANamespace(), "root/kelva");
  EXPECT_STREQ(getINTEROPNamespace(), "interop");
  CMPIObjectPath *made = createCMPIObjectPath(broker, &status, source, "KELVA_StorageVolume");
  CMPIObjectPath *cls = getClassObjectPath(broker, ctx, source, "KELVA_StorageVolume", &status);
  ASSERT_EQ(status.rc, CMPI_RC_OK);
  for (CMPIObjectPath *p : {made, cls}) {
    EXPECT_EQ(cimom::objectPathText(p), "root/kelva:KELVA_StorageVolume");
    EXPECT_STREQ(CMGetCharPtr(CMGetHostname(p, nullptr)), "agent.example");
  }
  char *name = getObjectPathClass(broker, made, &status);
  EXPECT_STREQ(name, "KELVA_StorageVolume");
  wsifree(name);
  EXPECT_STREQ(getClassNameAsConstChar(&status, made), "KELVA_StorageVolume");
  EXPECT_EQ(classIsExact(&status, "kelva_storagevolume", made), 1);
  EXPECT_EQ(classIsExact(&status, "CIM_StorageVolume", made), 0);
  EXPECT_EQ(classIsExact(&status, nullptr, made), 0);
  EXPECT_EQ(classIsA(&status, broker, made, "CIM_StorageExtent"), 1);
  EXPECT_EQ(classIsA(&status, broker, made, "CIM_ComputerSystem"), 0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  CMRelease(made);
  CMRelease(cls);
}

TEST_P(ToolkitTest, AssociationsSetTheSelectedPropertiesOnly) {
  CMPIObjectPath *volume = newPath("KELVA_StorageVolume");
  CMPIObjectPath *setting = newPath("KELVA_StorageSetting");
  const char *roles[] = {"SettingData", "IsCurrent", nullptr};
  CMPIInstance *inst = settingDataInstFromKeys(broker, &status, ctx, source, volume, setting, roles,
                                               "KELVA_ElementSettingData", 1, 2);
  ASSERT_NE(inst, nullptr) << message();
  // The keys come with the path; of the two numbers only the selected one is set.
  EXPECT_EQ(cimom::instanceText(inst),
            "instance of KELVA_ElementSettingData { IsCurrent = 1; "
            "ManagedElement = \"root/kelva:KELVA_StorageVolume\"; "
            "SettingData = \"root/kelva:KELVA_StorageSetting\"; }");
  EXPECT_EQ(cimom::objectPathText(CMGetObjectPath(inst, nullptr)),
            "root/kelva:KELVA_ElementSettingData.ManagedElement=\"root/kelva:KELVA_StorageVolume\","
            "SettingData=\"root/kelva:KELVA_StorageSetting\"");
  CMRelease(inst);

  // Each broker step that fails stops the build and leaves nothing behind.
  for (const char *step :
       {"BrokerEnc.newObjectPath", "ObjectPath.getNameSpace", "ObjectPath.addKey",
        "BrokerEnc.newInstance", "Instance.setPropertyFilter", "Instance.setProperty"}) {
    om->inject({step});
    EXPECT_EQ(newAssociationInstFromKeys(&status, broker, source, "KELVA_Assoc", "Antecedent",
                                         volume, "Dependent", setting, nullptr),
              nullptr)
        << step;
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED) << step;
    clearCMPIError(broker, &status);
    om->clearFaults();
  }
  om->inject({"ObjectPath.getNameSpace", 1, CMPI_RC_OK, true});
  EXPECT_EQ(getNamespaceAsChar(broker, source, &status), nullptr);
  EXPECT_EQ(message(), "Namespace is NULL");
  CMRelease(volume);
  CMRelease(setting);
}

// A broker read that fails leaves the broker's code in the caller's status
// and gives the empty result, for each reader of keys, properties, arguments
// and classes.
TEST_P(ToolkitTest, BrokerReadFailuresReachTheCaller) {
  CMPIObjectPath *op = newPath("KELVA_StorageVolume");
  CMAddKey(op, "DeviceID", "v1", CMPI_chars);
  CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
  CMSetProperty(inst, "Name", "n", CMPI_chars);
  CMPIArgs *args = CMNewArgs(broker, nullptr);
  CMAddArg(args, "Name", "x", CMPI_chars);
  const CMPIrc injected = CMPI_RC_ERR_INVALID_NAMESPACE;
  auto expectInjected = [&](const char *what) {
    EXPECT_EQ(status.rc, injected) << what;
    clearCMPIError(broker, &status);
    om->clearFaults();
  };

  om->inject({"ObjectPath.getKey", 1, injected});
  EXPECT_EQ(getKeyAsInt(&status, op, "DeviceID"), 0);
  expectInjected("getKeyAsInt");
  om->inject({"ObjectPath.getKey", 1, injected});
  EXPECT_EQ(getKeyAsChar(&status, op, "DeviceID"), nullptr);
  expectInjected("getKeyAsChar");
  om->inject({"ObjectPath.getKey", 1, injected});
  EXPECT_EQ(getKeyAsConstChar(&status, op, "DeviceID"), nullptr);
  expectInjected("getKeyAsConstChar");
  om->inject({"ObjectPath.getKey", 1, injected});
  getObjectPathKey(broker, &status, op, "DeviceID", CMPI_string);
  expectInjected("getObjectPathKey");

  om->inject({"Instance.getProperty", 1, injected});
  EXPECT_EQ(getPropertyAsChar(broker, &status, inst, "Name"), nullptr);
  expectInjected("getPropertyAsChar");
  om->inject({"Instance.getProperty", 1, injected});
  CMPIData data = getEmbPropertyFromInst(broker, "Name", "L", CMPI_string, inst, 1, &status);
  EXPECT_EQ(data.state, CMPI_badValue);
  expectInjected("getEmbPropertyFromInst");
  om->inject({"Instance.getProperty", 1, injected});
  auto reader = [](void *, CMPIStatus *, const CMPIValue *, int) -> void * {
    return reinterpret_cast<void *>(1);
  };
  EXPECT_EQ(retrieveDataFromInstanceProperty(nullptr, inst, "Name", reader, &status), nullptr);
  expectInjected("retrieveDataFromInstanceProperty");

  CMPIData arg{};
  om->inject({"Args.getArg", 1, injected});
  EXPECT_EQ(isParamPresent("M", broker, args, "Name", &arg, &status), 0);
  expectInjected("isParamPresent");
  om->inject({"Args.getArg", 1, injected});
  EXPECT_EQ(getEmbeddedArrParam(broker, args, "Name", "M", &status), nullptr);
  expectInjected("getEmbeddedArrParam");

  om->inject({"BrokerEnc.classPathIsA", 1, injected, false});
  EXPECT_EQ(classIsA(&status, broker, op, "CIM_StorageExtent"), 0);
  expectInjected("classIsA");
  om->inject({"ObjectPath.getClassName", 1, injected});
  EXPECT_EQ(getClassNameAsConstChar(&status, op), nullptr);
  expectInjected("getClassNameAsConstChar");
  om->inject({"ObjectPath.getClassName", 1, injected});
  EXPECT_EQ(getObjectPathClass(broker, op, &status), nullptr);
  expectInjected("getObjectPathClass");

  CMRelease(args);
  CMRelease(inst);
  CMRelease(op);
}

// The copies that run out of memory say so.
TEST_P(ToolkitTest, CopiesWithoutMemoryAreErrors) {
  CMPIObjectPath *op = newPath("KELVA_StorageVolume");
  CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
  CMSetProperty(inst, "Name", "n", CMPI_chars);
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getObjectPathClass(broker, op, &status), nullptr);
  }
  EXPECT_EQ(message(), "Insf. Memory: Failed to allocate class name");
  clearCMPIError(broker, &status);
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getPropertyAsChar(broker, &status, inst, "Name"), nullptr);
  }
  EXPECT_EQ(message(), "Insufficient memory");
  CMRelease(inst);
  CMRelease(op);
}

TEST_P(ToolkitTest, KeysAreReadWithTheirTypesTested) {
  CMPIObjectPath *op = newPath("KELVA_StorageVolume");
  CMAddKey(op, "DeviceID", "P3OoG]YOgA1X", CMPI_chars);
  CMPIUint32 number = 4096;
  CMAddKey(op, "Blocks", &number, CMPI_uint32);
  unsigned released = om->callCount("String.release");
  char *copy = getKeyAsChar(&status, op, "DeviceID");
  EXPECT_STREQ(copy, "P3OoG]YOgA1X");
  EXPECT_EQ(om->callCount("String.release"), released + 1);  // the key's string is given back
  wsifree(copy);
  EXPECT_STREQ(getKeyAsConstChar(&status, op, "DeviceID"), "P3OoG]YOgA1X");
  EXPECT_EQ(getKeyAsInt(&status, op, "Blocks"), 4096);
  // A key holds the key flag in its state: still a good key.
  CMPIData key = getObjectPathKey(broker, &status, op, "Blocks", CMPI_uint32);
  EXPECT_EQ(key.value.uint32, 4096u);
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  EXPECT_EQ(getKeyAsChar(&status, op, "Blocks"), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_TYPE_MISMATCH);
  EXPECT_EQ(status.msg, nullptr);
  EXPECT_EQ(getKeyAsChar(&status, nullptr, "DeviceID"), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(status.msg, nullptr);
  EXPECT_EQ(getClassNameAsConstChar(&status, nullptr), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_TRUE(om->logs().empty());

  CMAddKey(op, "Empty", nullptr, CMPI_null);
  clearCMPIError(broker, &status);
  getObjectPathKey(broker, &status, op, "Empty", CMPI_string);
  EXPECT_EQ(message(), "Required Key not populated");
  CMRelease(op);
}

TEST_P(ToolkitTest, PropertiesAreReadWithTheirStatesTested) {
  CMPIInstance *inst = CMNewInstance(broker, source, nullptr);
  CMSetProperty(inst, "ElementName", "vol0", CMPI_chars);
  CMPIUint16 count = 7;
  CMSetProperty(inst, "Count", &count, CMPI_uint16);
  CMSetProperty(inst, "Unset", nullptr, CMPI_null);
  unsigned released = om->callCount("String.release");
  char *name = getPropertyAsChar(broker, &status, inst, "ElementName");
  EXPECT_STREQ(name, "vol0");
  EXPECT_EQ(om->callCount("String.release"), released + 1);
  wsifree(name);

  CMPIData d = getEmbPropertyFromInst(broker, "Count", "L", CMPI_uint16, inst, 1, &status);
  EXPECT_EQ(d.value.uint16, 7);
  d = getEmbPropertyFromInst(broker, "Missing", "L", CMPI_uint16, inst, 0, &status);
  EXPECT_EQ(d.type, CMPI_uint16);
  EXPECT_EQ(d.state, CMPI_nullValue);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  struct Case {
    const char *property;
    CMPIType expected;
    CMPIrc rc;
    const char *text;
  } cases[] = {
      {"Missing", CMPI_uint16, CMPI_RC_ERR_INVALID_PARAMETER,
       "L: Property 'Missing' is a required property"},
      {"Count", CMPI_string, CMPI_RC_ERR_TYPE_MISMATCH, "L: Property 'Count' wrong type"},
  };
  for (const Case &c : cases) {
    d = getEmbPropertyFromInst(broker, c.property, "L", c.expected, inst, 1, &status);
    EXPECT_EQ(d.state, CMPI_badValue);
    EXPECT_EQ(status.rc, c.rc);
    EXPECT_EQ(message(), c.text);
    clearCMPIError(broker, &status);
  }

  auto reader = [](void *caller, CMPIStatus *, const CMPIValue *value, int flag) -> void * {
    *static_cast<CMPIUint16 *>(caller) = value->uint16;
    return flag == 0 ? caller : nullptr;
  };
  CMPIUint16 seen = 0;
  EXPECT_EQ(retrieveDataFromInstanceProperty(&seen, inst, "Count", reader, &status), &seen);
  EXPECT_EQ(seen, 7);
  EXPECT_EQ(retrieveDataFromInstanceProperty(&seen, inst, "Unset", reader, &status), nullptr);
  // The string object read is given back once the reader has used it.
  released = om->callCount("String.release");
  auto textReader = [](void *, CMPIStatus *, const CMPIValue *value, int) -> void * {
    return const_cast<char *>(CMGetCharPtr(value->string));
  };
  EXPECT_NE(retrieveDataFromInstanceProperty(nullptr, inst, "ElementName", textReader, &status),
            nullptr);
  EXPECT_EQ(om->callCount("String.release"), released + 1);
  CMRelease(inst);
}

TEST_P(ToolkitTest, ParametersAreReadWithTheirStatesTested) {
  CMPIArgs *args = CMNewArgs(broker, nullptr);
  CMPIArray *elements = CMNewArray(broker, 1, CMPI_instance, nullptr);
  CMAddArg(args, "Elements", &elements, CMPI_instanceA);
  CMAddArg(args, "Name", "x", CMPI_chars);
  CMAddArg(args, "Nothing", nullptr, CMPI_null);
  CMRelease(elements);

  CMPIData data{};
  EXPECT_EQ(isParamPresent("M", broker, args, "Absent", &data, &status), 0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(isParamPresent("M", broker, args, "Nothing", &data, &status), 0);
  EXPECT_EQ(isParamPresent("M", broker, args, "Name", &data, &status), 1);
  EXPECT_STREQ(getStringFromCMPIData(data), "x");
  // A value of another type is no pointer to read through.
  EXPECT_EQ(getArrayFromCMPIData(data), nullptr);
  CMPIData number{};
  number.type = CMPI_uint64;
  number.value.uint64 = 0x1234;
  EXPECT_EQ(getStringFromCMPIData(number), nullptr);
  EXPECT_EQ(getArrayFromCMPIData(number), nullptr);
  CMPIData elementsData{};
  ASSERT_EQ(isParamPresent("M", broker, args, "Elements", &elementsData, &status), 1);
  EXPECT_EQ(getArrayFromCMPIData(elementsData), elementsData.value.array);
  EXPECT_EQ(getStringFromCMPIData(elementsData), nullptr);
  CMPIArray *got = getEmbeddedArrParam(broker, args, "Elements", "M", &status);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(CMGetArrayCount(got, nullptr), 1u);
  EXPECT_EQ(getEmbeddedArrParam(broker, args, "Nothing", "M", &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(getEmbeddedArrParam(broker, args, "Name", "M", &status), nullptr);
  EXPECT_EQ(message(), "M : 'Name' must be an EmbeddedInstance  array");
  CMRelease(args);
}

class FilerChecksTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    sim = filersim::Simulator::fromFile(pktest::testData("toolkit/luns.json"));
    sim->registerInProcess();
  }
  void TearDown() override {
    sim.reset();
    ToolkitTest::TearDown();
  }
  // A filer record of the scenario's filer, valid while the simulator lives.
  Filer filer(const std::string &name) {
    auto &t = texts[name];
    t = {sim->systemId(name), sim->host(name), sim->userName(name), sim->password(name)};
    return Filer{t[0].data(), t[1].data(), t[2].data(), t[3].data(), WSI_TRANSPORT_HTTP, 0, 5};
  }

  std::unique_ptr<filersim::Simulator> sim;
  std::map<std::string, std::array<std::string, 4>> texts;
};

TEST_P(FilerChecksTest, EmptyValuesOnlyBefore733) {
  Filer old = filer("old");
  EXPECT_EQ(checkForNull(broker, 22, &status, &old), 1);
  EXPECT_EQ(checkForNull(broker, 13001, &status, &old), 0);
  Filer current = filer("new");
  EXPECT_EQ(checkForNull(broker, 22, &status, &current), 0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  sim->setOnline("new", false);
  EXPECT_EQ(checkForNull(broker, 22, &status, &current), 0);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_FALSE(message().empty());
}

TEST_P(FilerChecksTest, ObjectsAreVerifiedByTheirLibrary) {
  Filer *owner = nullptr;
  EXPECT_EQ(verifyObject(broker, ctx, source, "libimplall.so", &owner, &status), 1);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(verifyObject(broker, ctx, source, "libnosuchimpl.so", &owner, &status), 0);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message().find("libnosuchimpl.so"), std::string::npos);
}

CIMOM_INSTANTIATE(ToolkitTest);
CIMOM_INSTANTIATE(FilerChecksTest);

}  // namespace
