// The embedded object manager: where a fault of its own would mislead the
// tests of the library that run on it.
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace {

using cimom::Fault;

std::string text(const CMPIString *s) { return s != nullptr ? CMGetCharPtr(s) : "<null>"; }

class CimomTest : public cimom::testing::ObjectManagerTest {
 protected:
  void configure(cimom::Options &options) override {
    options.libraryPath = {CIMOM_TEST_PROVIDER_DIR};
  }
  CMPIObjectPath *path(const char *cls, const char *ns = "root/kelva") {
    return CMNewObjectPath(broker, ns, cls, nullptr);
  }
};

// ---- ownership and leak accounting ----------------------------------------------

TEST_P(CimomTest, CloneIsIndependentAndLeaksAreCounted) {
  CMPIObjectPath *op = path("KELVA_StorageVolume");
  CMAddKey(op, "DeviceID", "v1", CMPI_chars);
  CMPIObjectPath *copy = CMClone(op, nullptr);
  CMAddKey(copy, "DeviceID", "v2", CMPI_chars);
  EXPECT_EQ(cimom::objectPathText(op), "root/kelva:KELVA_StorageVolume.DeviceID=\"v1\"");
  EXPECT_EQ(cimom::objectPathText(copy), "root/kelva:KELVA_StorageVolume.DeviceID=\"v2\"");
  EXPECT_EQ(om->liveObjects(), 2u);
  CMRelease(op);
  ASSERT_EQ(om->describeLiveObjects().size(), 1u);
  EXPECT_EQ(om->describeLiveObjects()[0],
            "CMPIObjectPath: root/kelva:KELVA_StorageVolume.DeviceID=\"v2\"");

  // Getter results belong to their object: not live, and gone with it.
  CMPIString *cls = CMGetClassName(copy, nullptr);
  EXPECT_EQ(text(cls), "KELVA_StorageVolume");
  EXPECT_EQ(om->liveObjects(), 1u);
  CMPIString *early = CMGetNameSpace(copy, nullptr);
  EXPECT_EQ(CMRelease(early).rc, CMPI_RC_OK);  // releasing a getter result early is fine
  CMRelease(copy);
  EXPECT_EQ(om->liveObjects(), 0u);
}

// Reads hand out objects of their own: the provider may release each once,
// the owner's value stays, and what is not released goes with the owner.
TEST_P(CimomTest, DataReadFromAnObjectMayBeReleasedOnce) {
  CMPIObjectPath *op = path("KELVA_LocalFS");
  CMAddKey(op, "Name", "/vol/a", CMPI_chars);
  CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
  CMPIArray *refs = CMNewArray(broker, 1, CMPI_ref, nullptr);
  CMSetArrayElementAt(refs, 0, &op, CMPI_ref);
  CMSetProperty(inst, "Refs", &refs, CMPI_refA);
  CMRelease(refs);
  CMPIString *key = CMGetKey(op, "Name", nullptr).value.string;
  EXPECT_EQ(CMRelease(key).rc, CMPI_RC_OK);
  EXPECT_EQ(text(CMGetKey(op, "Name", nullptr).value.string), "/vol/a");
  CMRelease(op);

  CMPIData name = CMGetProperty(inst, "Name", nullptr);
  EXPECT_EQ(CMRelease(name.value.string).rc, CMPI_RC_OK);
  CMPIArray *held = CMGetProperty(inst, "Refs", nullptr).value.array;
  CMPIObjectPath *ref = CMGetArrayElementAt(held, 0, nullptr).value.ref;
  EXPECT_EQ(CMRelease(ref).rc, CMPI_RC_OK);
  EXPECT_EQ(CMRelease(held).rc, CMPI_RC_OK);
  EXPECT_EQ(cimom::instanceText(inst),
            "instance of KELVA_LocalFS { Name = \"/vol/a\"; Refs = "
            "{\"root/kelva:KELVA_LocalFS.Name=\\\"/vol/a\\\"\"}; }");
  EXPECT_EQ(om->liveObjects(), 1u);

  // A second release is caught: the strict object manager keeps the released
  // object poisoned, so it is a recorded misuse even under ASan.
  CMPIString *twice = CMGetProperty(inst, "Name", nullptr).value.string;
  CMRelease(twice);
  EXPECT_EQ(CMRelease(twice).rc, CMPI_RC_ERR_INVALID_HANDLE);
  EXPECT_EQ(om->misuses(),
            std::vector<std::string>{"second release of a released CMPIString: /vol/a"});
  om->clearRecords();
  CMRelease(inst);
}

// The strict object manager's choices: an array element holds the object
// given, which stays its owner's; a released object is poisoned, and every
// later use of it is a misuse instead of a read of freed memory.
TEST_P(CimomTest, StrictArraysHoldWhatTheyAreGiven) {
  CMPIArray *strings = CMNewArray(broker, 2, CMPI_string, nullptr);
  CMPIString *given = CMNewString(broker, "held", nullptr);
  ASSERT_EQ(CMSetArrayElementAt(strings, 0, &given, CMPI_string).rc, CMPI_RC_OK);
  CMSetArrayElementAt(strings, 1, "owned", CMPI_chars);
  EXPECT_EQ(CMGetArrayElementAt(strings, 0, nullptr).value.string, given);
  EXPECT_NE(CMGetArrayElementAt(strings, 1, nullptr).value.string, nullptr);
  EXPECT_EQ(om->liveObjects(), 2u);  // the string stays its owner's

  // A copy of the array copies what it holds.
  CMPIArray *copy = CMClone(strings, nullptr);
  EXPECT_NE(CMGetArrayElementAt(copy, 0, nullptr).value.string, given);
  CMRelease(copy);

  // Released while the array still holds it: the next use is caught.
  CMRelease(given);
  EXPECT_TRUE(om->misuses().empty());
  CMPIStatus rc{CMPI_RC_OK, nullptr};
  EXPECT_EQ(CMGetCharsPtr(CMGetArrayElementAt(strings, 0, nullptr).value.string, &rc), nullptr);
  EXPECT_EQ(rc.rc, CMPI_RC_ERR_INVALID_HANDLE);
  EXPECT_EQ(om->misuses(), std::vector<std::string>{"use of a released CMPIString: held"});
  om->clearRecords();
  CMPIArray *late = CMClone(strings, nullptr);
  EXPECT_EQ(om->misuses(), std::vector<std::string>{"use of a released CMPIString: held"});
  om->clearRecords();
  EXPECT_EQ(CMRelease(CMGetArrayElementAt(strings, 0, nullptr).value.string).rc,
            CMPI_RC_ERR_INVALID_HANDLE);
  EXPECT_EQ(om->misuses(),
            std::vector<std::string>{"second release of a released CMPIString: held"});
  om->clearRecords();
  CMRelease(late);
  CMRelease(strings);

  // Getter results and read values of a released object go with it.
  CMPIObjectPath *op = path("KELVA_StorageVolume");
  CMPIString *cls = CMGetClassName(op, nullptr);
  CMRelease(op);
  EXPECT_EQ(CMGetCharsPtr(cls, nullptr), nullptr);
  EXPECT_EQ(om->misuses(),
            std::vector<std::string>{"use of a released CMPIString: KELVA_StorageVolume"});
  om->clearRecords();
}

// Without strict mode arrays copy what they are given and a released
// object's memory is freed at once.
class LenientCimomTest : public cimom::testing::ObjectManagerTest {
 protected:
  void configure(cimom::Options &options) override { options.strict = false; }
};

TEST_P(LenientCimomTest, ArraysCopyAndReleasesFree) {
  CMPIArray *strings = CMNewArray(broker, 1, CMPI_string, nullptr);
  CMPIString *given = CMNewString(broker, "copied", nullptr);
  CMSetArrayElementAt(strings, 0, &given, CMPI_string);
  CMRelease(given);
  EXPECT_EQ(text(CMGetArrayElementAt(strings, 0, nullptr).value.string), "copied");
  CMPIString *twice = CMGetArrayElementAt(strings, 0, nullptr).value.string;
  CMRelease(twice);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_DEATH(CMRelease(twice), "use-after-free");
#else
  EXPECT_EQ(CMRelease(twice).rc, CMPI_RC_ERR_INVALID_HANDLE);
  EXPECT_EQ(om->misuses(), std::vector<std::string>{"second release of a released object"});
  om->clearRecords();
#endif
  CMRelease(strings);
}

CIMOM_INSTANTIATE(LenientCimomTest);

TEST_P(CimomTest, MarkAndReleaseFreeEverythingSinceTheMark) {
  if (!is20()) {
    EXPECT_EQ(broker->mft, nullptr);
    return;
  }
  CMPIString *before = CMNewString(broker, "kept", nullptr);
  CMPIGcStat *mark = broker->mft->mark(broker, nullptr);
  CMNewString(broker, "dropped", nullptr);
  void *block = broker->mft->cmpiMalloc(broker, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(broker->mft->release(broker, mark).rc, CMPI_RC_OK);
  EXPECT_EQ(om->liveObjects(), 1u);
  broker->mft->freeString(broker, before);
  char *dup = broker->mft->cmpiStrDup(broker, "abc");
  EXPECT_STREQ(dup, "abc");
  broker->mft->cmpiFree(broker, dup);
}

// ---- instances, filters and keys ----------------------------------------------------

TEST_P(CimomTest, InstancesKeepKeysAndHonourThePropertyFilter) {
  CMPIObjectPath *op = path("KELVA_StorageVolume");
  CMAddKey(op, "DeviceID", "v1", CMPI_chars);
  CMAddKey(op, "SystemName", "KELVA:f1", CMPI_chars);
  CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
  CMRelease(op);
  EXPECT_EQ(text(CMGetProperty(inst, "deviceid", nullptr).value.string), "v1");

  const char *filter[] = {"ElementName", nullptr};
  const char *keys[] = {"DeviceID", "SystemName", "CreationClassName", nullptr};
  EXPECT_EQ(CMSetPropertyFilter(inst, filter, keys).rc, CMPI_RC_OK);
  CMPIUint64 blocks = 42;
  EXPECT_EQ(CMSetProperty(inst, "NumberOfBlocks", &blocks, CMPI_uint64).rc, CMPI_RC_OK);
  CMSetProperty(inst, "ElementName", "vol", CMPI_chars);
  CMSetProperty(inst, "CreationClassName", "KELVA_StorageVolume", CMPI_chars);

  CMPIStatus st;
  CMPIData missing = CMGetProperty(inst, "NumberOfBlocks", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
  EXPECT_TRUE(CMIsNullValue(missing));
  EXPECT_EQ(cimom::instanceText(inst),
            "instance of KELVA_StorageVolume { CreationClassName = \"KELVA_StorageVolume\"; "
            "DeviceID = \"v1\"; ElementName = \"vol\"; SystemName = \"KELVA:f1\"; }");

  // The instance's path carries every key, filled from the properties.
  CMPIObjectPath *own = CMGetObjectPath(inst, nullptr);
  EXPECT_EQ(cimom::objectPathText(own),
            "root/kelva:KELVA_StorageVolume.CreationClassName=\"KELVA_StorageVolume\","
            "DeviceID=\"v1\",SystemName=\"KELVA:f1\"");
  EXPECT_TRUE(CMIsKeyValue(CMGetKey(own, "DeviceID", nullptr)));

  // Strings and objects are stored as copies.
  char name[] = "before";
  CMSetProperty(inst, "ElementName", name, CMPI_chars);
  std::strcpy(name, "after!");
  EXPECT_EQ(text(CMGetProperty(inst, "ElementName", nullptr).value.string), "before");
  CMRelease(inst);
}

TEST_P(CimomTest, ObjectPathCanonicalTextAndKeys) {
  CMPIObjectPath *op = path("KELVA_iSCSISession");
  CMPIUint16 id = 7;
  CMAddKey(op, "b", "say \"hi\" \\", CMPI_chars);
  CMAddKey(op, "A", &id, CMPI_uint16);
  CMPIBoolean yes = 1;
  CMAddKey(op, "c", &yes, CMPI_boolean);
  EXPECT_EQ(cimom::objectPathText(op),
            "root/kelva:KELVA_iSCSISession.A=7,b=\"say \\\"hi\\\" \\\\\",c=true");
  CMPIString *name = nullptr;
  CMPIData first = CMGetKeyAt(op, 0, &name, nullptr);
  EXPECT_EQ(text(name), "b");
  EXPECT_EQ(first.type, CMPI_string);
  EXPECT_EQ(CMGetKeyCount(op, nullptr), 3u);
  CMPIStatus st;
  CMGetKeyAt(op, 3, nullptr, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
  CMGetKey(op, "none", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);

  CMSetHostname(op, "filer1");
  EXPECT_EQ(text(CMObjectPathToString(op, nullptr)),
            "//filer1/root/kelva:KELVA_iSCSISession.A=7,b=\"say \\\"hi\\\" \\\\\",c=true");
  CMPIObjectPath *other = path("KELVA_iSCSISession", "interop");
  CMSetHostAndNameSpaceFromObjectPath(other, op);
  EXPECT_EQ(text(CMGetNameSpace(other, nullptr)), "root/kelva");
  EXPECT_EQ(text(CMGetHostname(other, nullptr)), "filer1");
  CMRelease(other);
  CMRelease(op);
}

// ---- arrays, args, date-times ---------------------------------------------------------

TEST_P(CimomTest, ArraysAreTypedAndStartNull) {
  CMPIArray *ar = CMNewArray(broker, 3, CMPI_uint16, nullptr);
  EXPECT_EQ(CMGetArrayType(ar, nullptr), CMPI_uint16);
  EXPECT_EQ(CMGetArrayCount(ar, nullptr), 3u);
  CMPIData unset = CMGetArrayElementAt(ar, 1, nullptr);
  EXPECT_EQ(unset.type, CMPI_uint16);
  EXPECT_TRUE(CMIsNullValue(unset));

  CMPIUint16 v = 9;
  EXPECT_EQ(CMSetArrayElementAt(ar, 1, &v, CMPI_uint16).rc, CMPI_RC_OK);
  CMPIUint32 wrong = 1;
  CMPIStatus st = CMSetArrayElementAt(ar, 0, &wrong, CMPI_uint32);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_TYPE_MISMATCH);
  EXPECT_EQ(CMSetArrayElementAt(ar, 3, &v, CMPI_uint16).rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
  CMGetArrayElementAt(ar, 3, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
  EXPECT_EQ(CMGetArrayElementAt(ar, 1, nullptr).value.uint16, 9);

  // chars go into a string array as strings; the array property is a copy.
  CMPIArray *names = CMNewArray(broker, 1, CMPI_chars, nullptr);
  EXPECT_EQ(CMGetArrayType(names, nullptr), CMPI_string);
  EXPECT_EQ(CMSetArrayElementAt(names, 0, "n1", CMPI_chars).rc, CMPI_RC_OK);
  CMPIObjectPath *op = path("KELVA_ProtocolController");
  CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
  CMSetProperty(inst, "Names", &names, CMPI_stringA);
  CMSetArrayElementAt(names, 0, "n2", CMPI_chars);
  CMPIData kept = CMGetProperty(inst, "Names", nullptr);
  EXPECT_EQ(kept.type, CMPI_stringA);
  EXPECT_EQ(text(CMGetArrayElementAt(kept.value.array, 0, nullptr).value.string), "n1");
  EXPECT_EQ(cimom::instanceText(inst),
            "instance of KELVA_ProtocolController { Names = {\"n1\"}; }");

  CMPIArgs *args = CMNewArgs(broker, nullptr);
  CMAddArg(args, "Values", &ar, CMPI_uint16A);
  EXPECT_EQ(CMGetArgCount(args, nullptr), 1u);
  EXPECT_EQ(CMGetArg(args, "values", nullptr).type, CMPI_uint16A);
  CMGetArg(args, "other", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
  CMRelease(args);
  CMRelease(inst);
  CMRelease(op);
  CMRelease(names);
  CMRelease(ar);
}

TEST_P(CimomTest, DateTimeTexts) {
  CMPIDateTime *epoch = CMNewDateTimeFromBinary(broker, 0, 0, nullptr);
  EXPECT_EQ(text(CMGetStringFormat(epoch, nullptr)), "19700101000000.000000+000");
  // 2024-02-29 12:34:56.000001 UTC
  CMPIUint64 leap = (1709210096ULL * 1000000ULL) + 1;
  CMPIDateTime *point = CMNewDateTimeFromBinary(broker, leap, 0, nullptr);
  EXPECT_EQ(text(CMGetStringFormat(point, nullptr)), "20240229123456.000001+000");
  CMPIUint64 span = ((((1ULL * 24 + 2) * 60 + 3) * 60 + 4) * 1000000ULL) + 500000;
  CMPIDateTime *interval = CMNewDateTimeFromBinary(broker, span, 1, nullptr);
  EXPECT_EQ(text(CMGetStringFormat(interval, nullptr)), "00000001020304.500000:000");
  EXPECT_TRUE(CMIsInterval(interval, nullptr));

  // A text with an offset is the same moment as its UTC reading.
  CMPIDateTime *local = CMNewDateTimeFromChars(broker, "20240229140456.000001+090", nullptr);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(CMGetBinaryFormat(local, nullptr), leap);
  EXPECT_EQ(text(CMGetStringFormat(local, nullptr)), "20240229140456.000001+090");
  CMPIDateTime *back = CMNewDateTimeFromChars(broker, "00000001020304.500000:000", nullptr);
  EXPECT_EQ(CMGetBinaryFormat(back, nullptr), span);

  CMPIStatus st;
  EXPECT_EQ(CMNewDateTimeFromChars(broker, "2024-02-29", &st), nullptr);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(CMNewDateTimeFromChars(broker, "20241329140456.000001+090", &st), nullptr);
  CMPIDateTime *now = CMNewDateTime(broker, nullptr);
  EXPECT_GT(CMGetBinaryFormat(now, nullptr), leap);
  for (CMPIDateTime *d : {epoch, point, interval, local, back, now}) CMRelease(d);
}

// ---- fault injection ----------------------------------------------------------------------

TEST_P(CimomTest, FaultsHitTheNthCallOnlyOrFromThenOn) {
  om->inject({"BrokerEnc.newString", 2});
  CMPIStatus st;
  CMPIString *first = CMNewString(broker, "a", &st);
  EXPECT_EQ(st.rc, CMPI_RC_OK);
  EXPECT_EQ(CMNewString(broker, "b", &st), nullptr);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(text(st.msg), "injected failure of BrokerEnc.newString");
  CMPIString *third = CMNewString(broker, "c", &st);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(om->callCount("BrokerEnc.newString"), 3u);

  Fault sticky{"String.getCharPtr", 1, CMPI_RC_ERR_FAILED, true, true};
  om->inject(sticky);
  EXPECT_EQ(CMGetCharsPtr(first, nullptr), nullptr);
  EXPECT_EQ(CMGetCharsPtr(third, nullptr), nullptr);
  om->clearFaults();
  EXPECT_STREQ(CMGetCharsPtr(third, nullptr), "c");

  // A good status with a null result, as some object managers answer.
  om->inject({"BrokerExt.newMutex", 1, CMPI_RC_OK, true});
  EXPECT_EQ(broker->xft->newMutex(0), nullptr);
  // A failed status around a real object: the caller must still release it.
  om->inject({"BrokerEnc.newArgs", 1, CMPI_RC_ERR_NOT_SUPPORTED, false});
  CMPIArgs *args = CMNewArgs(broker, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  ASSERT_NE(args, nullptr);
  EXPECT_EQ(om->liveObjects(), 3u);
  // Status-returning members fail without doing their work.
  om->inject({"BrokerEnc.logMessage", 1, CMPI_RC_ERR_ACCESS_DENIED});
  EXPECT_EQ(CMLogMessage(broker, 1, "id", "lost", nullptr).rc, CMPI_RC_ERR_ACCESS_DENIED);
  EXPECT_TRUE(om->logs().empty());
  om->inject({"String.release", 1});
  EXPECT_EQ(CMRelease(first).rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(om->liveObjects(), 3u);

  EXPECT_THROW(om->inject({"BrokerEnc.noSuchMember", 1}), std::invalid_argument);
  CMRelease(first);
  CMRelease(third);
  CMRelease(args);
}

// ---- the 1.0 level -----------------------------------------------------------------------------

TEST_P(CimomTest, TablesShowTheirLevel) {
  CMPIObjectPath *op = path("KELVA_FilerData");
  CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
  CMPIArgs *args = CMNewArgs(broker, nullptr);
  auto result = om->newResult();
  if (is20()) {
    EXPECT_EQ(broker->bft->brokerVersion, 200u);
    EXPECT_EQ(broker->eft->ftVersion, 200);
    EXPECT_NE(broker->eft->newCMPIError, nullptr);
    EXPECT_NE(broker->eft->getMessage2, nullptr);
    EXPECT_NE(result->cmpi()->ft->returnError, nullptr);
    EXPECT_NE(inst->ft->setPropertyWithOrigin, nullptr);
    CMPIError *err = CMNewCMPIError(broker, "owner", "ID1", "went wrong", ErrorSevHigh,
                                    Software_Error, CMPI_RC_ERR_FAILED, nullptr);
    EXPECT_EQ(CMReturnError(result->cmpi(), err).rc, CMPI_RC_OK);
    EXPECT_EQ(result->errors(), std::vector<std::string>{"1: went wrong"});
    EXPECT_EQ(text(CMGetErrorMessage(err, nullptr)), "went wrong");
    EXPECT_EQ(CMGetPerceivedSeverity(err, nullptr), ErrorSevHigh);
    CMRelease(err);
  } else {
    EXPECT_LT(broker->bft->brokerVersion, 200u);
    for (int v : {broker->eft->ftVersion, broker->xft->ftVersion, inst->ft->ftVersion,
                  args->ft->ftVersion, result->cmpi()->ft->ftVersion})
      EXPECT_LT(v, 200);
    EXPECT_EQ(broker->eft->newCMPIError, nullptr);
    EXPECT_EQ(broker->eft->getMessage2, nullptr);
    EXPECT_EQ(broker->eft->openMessageFile, nullptr);
    EXPECT_EQ(broker->eft->closeMessageFile, nullptr);
    EXPECT_EQ(result->cmpi()->ft->returnError, nullptr);
    EXPECT_EQ(inst->ft->setPropertyWithOrigin, nullptr);
  }
  // What 1.0 already had is there at both levels.
  EXPECT_NE(broker->eft->logMessage, nullptr);
  EXPECT_NE(broker->xft->timedCondWait, nullptr);
  CMRelease(args);
  CMRelease(inst);
  CMRelease(op);
}

// ---- classes
// ---------------------------------------------------------------------------------------

TEST_P(CimomTest, ClassPathIsAFollowsTheClassMof) {
  CMPIObjectPath *system = path("kelva_storagesystem");
  EXPECT_TRUE(CMClassPathIsA(broker, system, "CIM_System", nullptr));
  EXPECT_TRUE(CMClassPathIsA(broker, system, "cim_managedelement", nullptr));
  EXPECT_FALSE(CMClassPathIsA(broker, system, "CIM_StorageVolume", nullptr));
  EXPECT_TRUE(om->isA("CIM_InstCreation", "CIM_Indication"));
  EXPECT_TRUE(om->isA("KELVA_StorageVolume", "CIM_StorageExtent"));
  EXPECT_TRUE(CDIsOfType(broker, system, "CMPIObjectPath", nullptr));
  EXPECT_EQ(text(CDGetType(broker, system, nullptr)), "CMPIObjectPath");
  CMRelease(system);

  EXPECT_THAT(om->classRepository().keys("KELVA_StorageVolume"), ::testing::Contains("DeviceID"));

  // One file per level: ctest runs both levels at once.
  std::string file = ::testing::TempDir() + "cimom_classes_" + std::to_string(GetParam()) + ".mof";
  std::ofstream(file) << "// test\nclass X_Base { [Key] string Id; };\nclass X_Leaf : X_Base {};\n";
  cimom::Options options;
  options.classFile = file;
  auto other = cimom::create(options);
  EXPECT_TRUE(other->isA("x_leaf", "X_BASE"));
  EXPECT_FALSE(other->isA("KELVA_StorageSystem", "CIM_System"));
  // A class file that does not read fails the creation, naming the place.
  std::ofstream(file) << "class X_Leaf : X_Nowhere {};\n";
  try {
    cimom::create(options);
    ADD_FAILURE() << "an object manager was made over a broken class file";
  } catch (const cimom::mof::Error &e) {
    EXPECT_THAT(e.what(),
                ::testing::HasSubstr(".mof:1: superclass X_Nowhere of X_Leaf is unknown"));
  }
  std::remove(file.c_str());
}

// ---- records
// -----------------------------------------------------------------------------------------

TEST_P(CimomTest, LogsTracesAndMessagesAreRecorded) {
  CMPIString *detail = CMNewString(broker, "detail", nullptr);
  CMLogMessage(broker, CMPI_SEV_ERROR, "CMPIError raised by provider", "it failed", nullptr);
  CMLogMessage(broker, CMPI_SEV_INFO, nullptr, nullptr, detail);
  CMTraceMessage(broker, CMPI_LEV_VERBOSE, "HardwareIDCacher", "loaded", nullptr);
  auto logs = om->logs();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0].severity, 1);
  EXPECT_EQ(logs[0].id, "CMPIError raised by provider");
  EXPECT_EQ(logs[0].text, "it failed");
  EXPECT_FALSE(logs[0].hasCmpiText);
  EXPECT_FALSE(logs[1].hasText);
  EXPECT_EQ(logs[1].cmpiText, "detail");
  ASSERT_EQ(om->traces().size(), 1u);
  EXPECT_EQ(om->traces()[0].component, "HardwareIDCacher");
  EXPECT_EQ(om->traces()[0].level, 3);

  CMPIString *msg =
      CMGetMessage(broker, "id", "$0 of $1 on $2 ($3, $4)", nullptr,
                   CMFmtArgs5(CMFmtSint(-3), CMFmtUint64(10000000000ULL), CMFmtChars("f1"),
                              CMFmtString(detail), CMFmtBoolean(1)));
  EXPECT_EQ(text(msg), "-3 of 10000000000 on f1 (detail, true)");
  CMRelease(detail);
  om->clearRecords();
  EXPECT_TRUE(om->logs().empty());
}

// ---- threads, mutexes and conditions -----------------------------------------------------------

TEST_P(CimomTest, TimedCondWaitReturnsAfterItsDeadline) {
  void *mutex = broker->xft->newMutex(0);
  void *cond = broker->xft->newCondition(0);
  struct timespec deadline;
  std::timespec_get(&deadline, TIME_UTC);
  deadline.tv_nsec += 20 * 1000 * 1000;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  broker->xft->lockMutex(mutex);
  int rc = broker->xft->timedCondWait(cond, mutex, &deadline);
  struct timespec after;
  std::timespec_get(&after, TIME_UTC);
  broker->xft->unlockMutex(mutex);
  EXPECT_EQ(rc, ETIMEDOUT);
  EXPECT_TRUE(after.tv_sec > deadline.tv_sec ||
              (after.tv_sec == deadline.tv_sec && after.tv_nsec >= deadline.tv_nsec));

  // Signalled before the deadline: 0.
  struct Shared {
    const CMPIBroker *broker;
    void *mutex, *cond;
    bool flag;
  } shared{broker, mutex, cond, false};
  auto signaller = [](void *p) -> void * {
    auto *s = static_cast<Shared *>(p);
    s->broker->xft->lockMutex(s->mutex);
    s->flag = true;
    s->broker->xft->signalCondition(s->cond);
    s->broker->xft->unlockMutex(s->mutex);
    return nullptr;
  };
  std::timespec_get(&deadline, TIME_UTC);
  deadline.tv_sec += 30;
  broker->xft->lockMutex(mutex);
  void *thread = broker->xft->newThread(signaller, &shared, 0);
  rc = 0;
  while (!shared.flag && rc == 0) rc = broker->xft->timedCondWait(cond, mutex, &deadline);
  broker->xft->unlockMutex(mutex);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(broker->xft->joinThread(thread, nullptr), 0);
  broker->xft->destroyCondition(cond);
  broker->xft->destroyMutex(mutex);
}

TEST_P(CimomTest, PreparedContextIsAttachedAndDetachedByANewThread) {
  struct Job {
    const CMPIBroker *broker;
    CMPIContext *ctx;
    CMPIrc attach = CMPI_RC_ERR_FAILED, detach = CMPI_RC_ERR_FAILED;
    std::string ns;
  } job{broker, nullptr, CMPI_RC_ERR_FAILED, CMPI_RC_ERR_FAILED, ""};
  job.ctx = CBPrepareAttachThread(broker, ctx);
  ASSERT_NE(job.ctx, nullptr);
  EXPECT_EQ(om->liveObjects(), 1u);  // until the thread detaches
  auto run = [](void *p) -> void * {
    auto *j = static_cast<Job *>(p);
    j->attach = CBAttachThread(j->broker, j->ctx).rc;
    CMPIData ns = CMGetContextEntry(j->ctx, CMPIInitNameSpace, nullptr);
    j->ns = CMGetCharPtr(ns.value.string);
    CMLogMessage(j->broker, CMPI_SEV_INFO, "thread", "polled", nullptr);
    j->detach = CBDetachThread(j->broker, j->ctx).rc;
    j->broker->xft->exitThread(reinterpret_cast<void *>(7));
    return nullptr;
  };
  void *thread = broker->xft->newThread(run, &job, 0);
  void *result = nullptr;
  EXPECT_EQ(broker->xft->joinThread(thread, &result), 0);
  EXPECT_EQ(result, reinterpret_cast<void *>(7));  // exitThread's value
  EXPECT_EQ(job.attach, CMPI_RC_OK);
  EXPECT_EQ(job.detach, CMPI_RC_OK);
  EXPECT_EQ(job.ns, "root/kelva");
  EXPECT_EQ(om->logs().size(), 1u);
  EXPECT_EQ(om->liveObjects(), 0u);

  // Detaching what no thread attached is reported.
  CMPIStatus st = CBDetachThread(broker, ctx);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(om->misuses().size(), 1u);
  om->clearRecords();
}

TEST_P(CimomTest, ThreadKeysOnceAndCancel) {
  static std::atomic<int> cleaned, inits;
  cleaned = 0;
  inits = 0;
  CMPI_THREAD_KEY_TYPE key;
  ASSERT_EQ(broker->xft->createThreadKey(&key, [](void *) { ++cleaned; }), 0);
  struct Arg {
    const CMPIBroker *broker;
    CMPI_THREAD_KEY_TYPE key;
    void *seen;
  } arg{broker, key, nullptr};
  void *t = broker->xft->newThread(
      [](void *p) -> void * {
        auto *a = static_cast<Arg *>(p);
        static int once;
        once = 0;
        a->broker->xft->threadOnce(&once, [] { ++inits; });
        a->broker->xft->threadOnce(&once, [] { ++inits; });
        a->broker->xft->setThreadSpecific(a->key, p);
        a->seen = a->broker->xft->getThreadSpecific(a->key);
        return nullptr;
      },
      &arg, 0);
  broker->xft->joinThread(t, nullptr);
  EXPECT_EQ(arg.seen, &arg);
  EXPECT_EQ(inits.load(), 1);
  EXPECT_EQ(cleaned.load(), 1);
  EXPECT_EQ(broker->xft->getThreadSpecific(key), nullptr);
  EXPECT_EQ(broker->xft->destroyThreadKey(key), 0);

  // A cancelled thread ends at its next sleep.
  void *sleeper = broker->xft->newThread(
      [](void *p) -> void * {
        auto *b = static_cast<const CMPIBroker *>(p);
        for (int i = 0; i < 100000; ++i) b->xft->threadSleep(5);
        return p;
      },
      const_cast<CMPIBroker *>(broker), 0);
  EXPECT_EQ(broker->xft->cancelThread(sleeper), 0);
  void *ret = &arg;
  EXPECT_EQ(broker->xft->joinThread(sleeper, &ret), 0);
  EXPECT_EQ(ret, nullptr);

  char *name = broker->xft->resolveFileName("cimom_testprovider");
#if defined(_WIN32)
  EXPECT_EQ(std::string(name), std::string(CIMOM_TEST_PROVIDER_DIR) + "\\cimom_testprovider.dll");
#else
  EXPECT_EQ(std::string(name), std::string(CIMOM_TEST_PROVIDER_DIR) + "/libcimom_testprovider.so");
#endif
  std::free(name);
  name = broker->xft->resolveFileName("nowhere");
#if defined(_WIN32)
  EXPECT_STREQ(name, "nowhere.dll");
#else
  EXPECT_STREQ(name, "libnowhere.so");
#endif
  std::free(name);
}

TEST_P(CimomTest, ManyThreadsShareTheBroker) {
  struct Worker {
    const CMPIBroker *broker;
  };
  Worker worker{broker};
  auto run = [](void *p) -> void * {
    auto *w = static_cast<Worker *>(p);
    for (int i = 0; i < 1000; ++i) {
      CMPIObjectPath *op = CMNewObjectPath(w->broker, "root/kelva", "KELVA_LogicalDisk", nullptr);
      CMAddKey(op, "DeviceID", "d", CMPI_chars);
      CMPIInstance *inst = CMNewInstance(w->broker, op, nullptr);
      CMLogMessage(w->broker, CMPI_SEV_INFO, "id", "made", nullptr);
      CMRelease(inst);
      CMRelease(op);
    }
    return nullptr;
  };
  void *threads[4];
  for (auto &t : threads) t = broker->xft->newThread(run, &worker, 0);
  for (auto &t : threads) EXPECT_EQ(broker->xft->joinThread(t, nullptr), 0);
  EXPECT_EQ(om->logs().size(), 4000u);
  EXPECT_EQ(om->callCount("BrokerEnc.newInstance"), 4000u);
  EXPECT_EQ(om->liveObjects(), 0u);
}

// ---- providers
// -------------------------------------------------------------------------------------------

TEST_P(CimomTest, UpCallsReachTheProviderAndComeBack) {
  EXPECT_FALSE(om->registerProvider("root/kelva", "KELVA_X", "no_such_library", "X"));
  ASSERT_TRUE(om->registerProvider("root/kelva", "KELVA_TestElement", "cimom_testprovider",
                                   "CimomTestProvider"));
  CMPIObjectPath *op = path("KELVA_TestElement");
  CMPIStatus st;
  CMPIEnumeration *en = CBEnumInstances(broker, ctx, op, nullptr, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK);
  std::vector<std::string> seen;
  while (CMHasNext(en, nullptr))
    seen.push_back(cimom::instanceText(CMGetNext(en, nullptr).value.inst));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "instance of KELVA_TestElement { Name = \"one\"; Value = 1; }",
                      "instance of KELVA_TestElement { Name = \"two\"; Value = 2; }"}));
  CMPIArray *asArray = CMToArray(en, nullptr);
  EXPECT_EQ(CMGetArrayCount(asArray, nullptr), 2u);
  CMRelease(en);

  en = CBEnumInstanceNames(broker, ctx, op, &st);
  EXPECT_EQ(cimom::objectPathText(CMGetNext(en, nullptr).value.ref),
            "root/kelva:KELVA_TestElement.Name=\"one\"");
  CMRelease(en);

  CMAddKey(op, "Name", "two", CMPI_chars);
  const char *only[] = {"Name", nullptr};
  CMPIInstance *inst = CBGetInstance(broker, ctx, op, only, &st);
  ASSERT_NE(inst, nullptr);
  EXPECT_EQ(cimom::instanceText(inst), "instance of KELVA_TestElement { Name = \"two\"; }");
  CMRelease(inst);
  CMPIData value = CBGetProperty(broker, ctx, op, "Value", &st);
  EXPECT_EQ(value.value.uint32, 2u);

  CMAddKey(op, "Name", "three", CMPI_chars);
  EXPECT_EQ(CBGetInstance(broker, ctx, op, nullptr, &st), nullptr);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_EQ(text(st.msg), "KELVA_TestElement not found");
  EXPECT_EQ(CBDeleteInstance(broker, ctx, op).rc, CMPI_RC_ERR_NOT_SUPPORTED);

  CMPIArgs *in = CMNewArgs(broker, nullptr);
  CMPIArgs *out = CMNewArgs(broker, nullptr);
  CMAddArg(in, "Text", "ping", CMPI_chars);
  CMPIData rv = CBInvokeMethod(broker, ctx, op, "Echo", in, out, &st);
  EXPECT_EQ(st.rc, CMPI_RC_OK);
  EXPECT_EQ(rv.type, CMPI_uint32);
  EXPECT_EQ(text(CMGetArg(out, "Text", nullptr).value.string), "ping");
  CBInvokeMethod(broker, ctx, op, "Fail", in, out, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(text(st.msg), "Fail failed");

  CMPIObjectPath *nobody = path("KELVA_StorageVolume");
  EXPECT_EQ(CBEnumInstances(broker, ctx, nobody, nullptr, &st), nullptr);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  CMRelease(in);
  CMRelease(out);
  CMRelease(op);
  CMRelease(nobody);
}

TEST_P(CimomTest, ResultsCollectClonesAndIndicationsAreRecorded) {
  auto result = om->newResult();
  CMPIObjectPath *op = path("CIM_InstCreation", "root/kelva");
  CMPIInstance *ind = CMNewInstance(broker, op, nullptr);
  CMSetProperty(ind, "IndicationTime", "now", CMPI_chars);
  CMReturnInstance(result->cmpi(), ind);
  CMReturnObjectPath(result->cmpi(), op);
  CMPIUint32 one = 1;
  CMReturnData(result->cmpi(), &one, CMPI_uint32);
  CMReturnDone(result->cmpi());
  EXPECT_EQ(CBDeliverIndication(broker, ctx, "root/kelva", ind).rc, CMPI_RC_OK);
  CMRelease(ind);
  CMRelease(op);
  EXPECT_EQ(result->instances(),
            std::vector<std::string>{"instance of CIM_InstCreation { IndicationTime = \"now\"; }"});
  EXPECT_EQ(result->objectPaths(), std::vector<std::string>{"root/kelva:CIM_InstCreation"});
  EXPECT_EQ(result->data().at(0).value.uint32, 1u);
  EXPECT_EQ(result->doneCount(), 1);
  ASSERT_EQ(om->indications().size(), 1u);
  EXPECT_EQ(om->indications()[0].className, "CIM_InstCreation");
  EXPECT_EQ(om->indications()[0].nameSpace, "root/kelva");
}

CIMOM_INSTANTIATE(CimomTest);

}  // namespace
