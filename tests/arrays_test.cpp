// CMPI arrays and lists through the embedded object manager at both CMPI
// levels: conversions both ways, merging, returning, the builders, and the
// broker failures injected on the way, with nothing left unreleased.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gtest/gtest.h>
#include <provkit/arrays.h>
#include <provkit/frame.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

class ArraysTest : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    clearCMPIError(broker, &status);
    ObjectManagerTest::TearDown();
  }
  std::string message() { return takeMessage(status); }
  CMPIInstance *newInstance(const char *name) {
    CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
    CMPIInstance *inst = CMNewInstance(broker, op, nullptr);
    CMSetProperty(inst, "Name", name, CMPI_chars);
    CMRelease(op);
    return inst;
  }
  // A new array of instances named by names; the array holds them from now on
  // and freeCMPIArray gives them back.
  CMPIArray *instances(const std::vector<const char *> &names) {
    CMPIArray *array = CMNewArray(broker, names.size(), CMPI_instance, nullptr);
    for (CMPICount i = 0; i < names.size(); ++i) {
      CMPIInstance *inst = newInstance(names[i]);
      CMSetArrayElementAt(array, i, &inst, CMPI_instance);
    }
    return array;
  }
  // The texts of an array of strings, read through the string table.
  std::vector<std::string> texts(const CMPIArray *array) {
    std::vector<std::string> out;
    for (CMPICount i = 0; i < CMGetArrayCount(array, nullptr); ++i) {
      const char *text =
          CMGetCharsPtr(CMGetArrayElementAt(array, i, nullptr).value.string, nullptr);
      out.emplace_back(text != nullptr ? text : "<none>");
    }
    return out;
  }
  // The Name properties of an array of instances, in order.
  std::vector<std::string> names(const CMPIArray *array) {
    std::vector<std::string> out;
    for (CMPICount i = 0; i < CMGetArrayCount(array, nullptr); ++i) {
      CMPIInstance *inst = CMGetArrayElementAt(array, i, nullptr).value.inst;
      out.push_back(CMGetCharPtr(CMGetProperty(inst, "Name", nullptr).value.string));
    }
    return out;
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
};

TEST_P(ArraysTest, ListsBecomeArraysAndBack) {
  WSIList *values = WSIList_new();
  for (CMPIUint16 v : {5, 0, 65535}) addUINT16ToList(broker, &status, v, values);
  CMPIArray *fromBuilder = createArrayFromUINT16List(broker, &status, values);
  CMPIArray *converted = convertListToArray(broker, &status, values, CMPI_uint16A);
  ASSERT_EQ(status.rc, CMPI_RC_OK);
  for (CMPIArray *a : {fromBuilder, converted}) {
    ASSERT_EQ(CMGetArrayCount(a, nullptr), 3u);
    EXPECT_EQ(CMGetArrayElementAt(a, 2, nullptr).value.uint16, 65535);
    CMRelease(a);
  }
  WSIList_free(values, wsifree);

  WSIList *strings = WSIList_new();
  for (const char *t : {"a", "", "c:d"}) WSIList_append(strings, const_cast<char *>(t));
  WSIList_free(strings, nullptr);

  // Instances go into a list as the array's own objects and back into a
  // second array that holds the same objects, which stay the first's.
  CMPIArray *array = instances({"v1", "v2"});
  WSIList *list = mapCMPIArrayToList(broker, &status, array);
  ASSERT_EQ(WSIList_getLength(list), 2u);
  CMPIArray *again = convertListToArray(broker, &status, list, CMPI_instanceA);
  EXPECT_EQ(names(again), (std::vector<std::string>{"v1", "v2"}));
  freeCMPIObjectList(broker, list, 0);
  CMRelease(again);
  freeCMPIArray(array);
}

// The array keeps the strings set into it: each is readable until the array
// is freed and given back once, by freeCMPIArray; a failed set gives back
// its string and the strings set before it.
TEST_P(ArraysTest, StringArraysKeepTheirStrings) {
  WSIList *list = WSIList_new();
  for (const char *t : {"a", "", "c:d"}) WSIList_append(list, const_cast<char *>(t));
  CMPIArray *strings = createArrayFromCHARList(broker, &status, list);
  ASSERT_NE(strings, nullptr);
  EXPECT_EQ(texts(strings), (std::vector<std::string>{"a", "", "c:d"}));
  unsigned released = om->callCount("String.release");
  freeCMPIArray(strings);
  EXPECT_EQ(om->callCount("String.release") - released, 3u);

  om->inject({"BrokerEnc.newString", 2});
  EXPECT_EQ(createArrayFromCHARList(broker, &status, list), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  clearCMPIError(broker, &status);
  om->inject({"Array.setElementAt", 3});
  EXPECT_EQ(createArrayFromCHARList(broker, &status, list), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  clearCMPIError(broker, &status);

  // Merged string arrays hand their strings on, each given back once.
  CMPIArray *place = createArrayFromCHARList(broker, &status, list);
  CMPIArray *more = CMNewArray(broker, 1, CMPI_string, nullptr);
  addSTRINGToArray(broker, &status, CMNewString(broker, "e", nullptr), more, 0);
  mergeCMPIArray(broker, &place, more, &status);
  ASSERT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(texts(place), (std::vector<std::string>{"a", "", "c:d", "e"}));
  freeCMPIArray(place);
  WSIList_free(list, nullptr);
}

// Every good string, instance, date-time and path read from the array is given
// back before the array; a failed count or read stops the walk, not the release.
TEST_P(ArraysTest, FreeGivesBackWhatItReads) {
  CMPIArray *refs = CMNewArray(broker, 1, CMPI_ref, nullptr);
  CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
  CMSetArrayElementAt(refs, 0, &op, CMPI_ref);
  CMPIArray *strings = CMNewArray(broker, 2, CMPI_string, nullptr);  // the second stays null
  CMSetArrayElementAt(strings, 0, "s", CMPI_chars);
  CMPIArray *times = CMNewArray(broker, 1, CMPI_dateTime, nullptr);
  CMPIDateTime *now = CMNewDateTimeFromBinary(broker, 0, 0, nullptr);
  CMSetArrayElementAt(times, 0, &now, CMPI_dateTime);
  const std::vector<std::string> tables = {"Instance.release", "ObjectPath.release",
                                           "String.release", "DateTime.release"};
  auto releases = [&] {
    std::vector<unsigned> out;
    out.reserve(tables.size());
    for (const auto &t : tables) out.push_back(om->callCount(t));
    return out;
  };
  CMPIArray *insts = instances({"v1", "v2"});
  std::vector<unsigned> before = releases();
  for (CMPIArray *a : {insts, refs, strings, times}) freeCMPIArray(a);
  std::vector<unsigned> after = releases();
  EXPECT_EQ(after[0] - before[0], 2u);
  EXPECT_EQ(after[1] - before[1], 1u);
  EXPECT_EQ(after[2] - before[2], 1u);
  EXPECT_EQ(after[3] - before[3], 1u);

  // What the walk skipped stays the caller's.
  CMPIInstance *kept = newInstance("v3");
  insts = CMNewArray(broker, 1, CMPI_instance, nullptr);
  CMSetArrayElementAt(insts, 0, &kept, CMPI_instance);
  om->inject({"Array.getSize", 1});
  freeCMPIArray(insts);
  CMRelease(kept);
  insts = instances({"v4", "v5", "v6"});
  std::vector<CMPIInstance *> held;
  for (CMPICount i = 0; i < 3; ++i)
    held.push_back(CMGetArrayElementAt(insts, i, nullptr).value.inst);
  om->inject({"Array.getElementAt", 2});
  before = releases();
  freeCMPIArray(insts);
  EXPECT_EQ(releases()[0] - before[0], 1u);
  CMRelease(held[1]);
  CMRelease(held[2]);
}

TEST_P(ArraysTest, ConversionsRefuseWhatTheyCannotHold) {
  WSIList *list = WSIList_new();
  EXPECT_EQ(convertListToArray(broker, &status, list, CMPI_uint16A), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  char text[] = "x";
  WSIList_append(list, text);
  EXPECT_EQ(convertListToArray(broker, &status, list, CMPI_uint16), nullptr);
  EXPECT_EQ(message(), "Can not convert a non-array type.");
  clearCMPIError(broker, &status);
  EXPECT_EQ(convertListToArray(broker, &status, list, CMPI_stringA), nullptr);
  EXPECT_EQ(message(), "Can not convert data type.");
  clearCMPIError(broker, &status);
  WSIList_free(list, nullptr);

  CMPIArray *empty = CMNewArray(broker, 0, CMPI_instance, nullptr);
  list = mapCMPIArrayToList(broker, &status, empty);
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(WSIList_isEmpty(list));
  freeCMPIObjectList(broker, list, CMPI_instance);
  CMRelease(empty);
  CMPIArray *numbers = CMNewArray(broker, 1, CMPI_uint16, nullptr);
  list = mapCMPIArrayToList(broker, &status, numbers);
  EXPECT_EQ(message(), "Unsupported value type");
  freeCMPIObjectList(broker, list, 0);
  CMRelease(numbers);
}

TEST_P(ArraysTest, MergeJoinsInOrderOrKeepsThePlace) {
  CMPIArray *place = nullptr;
  mergeCMPIArray(broker, &place, instances({"a"}), &status);
  ASSERT_NE(place, nullptr);
  mergeCMPIArray(broker, &place, instances({"b", "c"}), &status);
  EXPECT_EQ(names(place), (std::vector<std::string>{"a", "b", "c"}));

  CMPIArray *paths = CMNewArray(broker, 1, CMPI_ref, nullptr);
  CMPIArray *before = place;
  mergeCMPIArray(broker, &place, paths, &status);
  EXPECT_EQ(message(), "Incompatible CMPIArray types");
  EXPECT_EQ(place, before);
  clearCMPIError(broker, &status);

  CMPIArray *more = instances({"d"});
  om->inject({"Array.setElementAt", 4});
  mergeCMPIArray(broker, &place, more, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(place, before);
  freeCMPIArray(more);
  CMRelease(paths);
  freeCMPIArray(place);
}

TEST_P(ArraysTest, ReturnArrayHandsOverInstancesAndPaths) {
  auto result = om->newResult();
  CMPIArray *array = instances({"v1", "v2"});
  returnArray(array, result->cmpi(), CMPI_instanceA, &status);
  EXPECT_EQ(result->instances().size(), 2u);
  returnArray(array, result->cmpi(), CMPI_stringA, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_TYPE_MISMATCH);
  EXPECT_EQ(result->instances().size(), 2u);
  status.rc = CMPI_RC_OK;
  freeCMPIArray(array);

  CMPIArray *paths = CMNewArray(broker, 1, CMPI_ref, nullptr);
  CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
  CMSetArrayElementAt(paths, 0, &op, CMPI_ref);
  returnArray(paths, result->cmpi(), CMPI_refA, &status);
  EXPECT_EQ(result->objectPaths(), (std::vector<std::string>{"root/kelva:KELVA_StorageVolume"}));
  EXPECT_EQ(result->doneCount(), 0);
  freeCMPIArray(paths);
}

// Broker failures on the way: a refused returnInstance ends the walk with the
// broker's code; a failed count or element read of mapCMPIArrayToList gives
// no list, with the elements left to the array.
TEST_P(ArraysTest, BrokerFailuresStopTheWalks) {
  auto result = om->newResult();
  CMPIArray *array = instances({"v1", "v2", "v3"});
  om->inject({"Result.returnInstance", 2, CMPI_RC_ERR_ACCESS_DENIED});
  returnArray(array, result->cmpi(), CMPI_instanceA, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_ACCESS_DENIED);
  EXPECT_EQ(result->instances().size(), 1u);
  clearCMPIError(broker, &status);

  om->inject({"Array.getSize", 1, CMPI_RC_ERR_ACCESS_DENIED});
  EXPECT_EQ(mapCMPIArrayToList(broker, &status, array), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_ACCESS_DENIED);
  clearCMPIError(broker, &status);
  unsigned released = om->callCount("Instance.release");
  om->inject({"Array.getElementAt", 2, CMPI_RC_ERR_ACCESS_DENIED});
  EXPECT_EQ(mapCMPIArrayToList(broker, &status, array), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_ACCESS_DENIED);
  EXPECT_EQ(om->callCount("Instance.release"), released);
  clearCMPIError(broker, &status);
  EXPECT_EQ(names(array), (std::vector<std::string>{"v1", "v2", "v3"}));
  freeCMPIArray(array);
}

// Lists that run out of memory say so and leave nothing behind.
TEST_P(ArraysTest, ListsWithoutMemoryAreErrors) {
  CMPIArray *array = instances({"v1", "v2"});
  for (unsigned long long nth : {1ULL, 2ULL, 3ULL}) {
    SCOPED_TRACE(nth);
    {
      pktest::FailingAllocation oom(nth);  // the list, then each element's place
      EXPECT_EQ(mapCMPIArrayToList(broker, &status, array), nullptr);
    }
    EXPECT_EQ(message(), "Insufficient memory");
    clearCMPIError(broker, &status);
  }
  freeCMPIArray(array);

  WSIList *values = WSIList_new();
  {
    pktest::FailingAllocation oom(1);
    addUINT16ToList(broker, &status, 7, values);
  }
  EXPECT_EQ(message(), "Failed to allocate state value");
  clearCMPIError(broker, &status);
  {
    pktest::FailingAllocation oom(2);
    addUINT16ToList(broker, &status, 7, values);
  }
  EXPECT_EQ(message(), "Failed to add state");
  clearCMPIError(broker, &status);
  EXPECT_TRUE(WSIList_isEmpty(values));
  WSIList_free(values, wsifree);
}

TEST_P(ArraysTest, SmallBuilders) {
  CMPIArray *similar = nullptr;
  CMPICount size = 99;
  CMPIArray *source = instances({"a", "b"});
  createSimilarArray(broker, ctx, source, CMPI_refA, &similar, &size, &status);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(CMGetArrayType(similar, nullptr), CMPI_ref);
  CMRelease(similar);
  freeCMPIArray(source);
  addSTRINGToArray(broker, &status, nullptr, nullptr, 0);
  EXPECT_EQ(message(), "addSTRINGToArray - Invalid parameter(s)");
  clearCMPIError(broker, &status);

  CMPIArgs *args = CMNewArgs(broker, nullptr);
  CMPIUint64 bytes = 1ULL << 40;
  setSizesArgument(broker, &status, "Sizes", &bytes, args);
  CMPIData sizes = CMGetArg(args, "Sizes", nullptr);
  ASSERT_EQ(sizes.type, CMPI_uint64A);
  EXPECT_EQ(CMGetArrayElementAt(sizes.value.array, 0, nullptr).value.uint64, bytes);
  om->inject({"Args.addArg"});
  setSizesArgument(broker, &status, "Other", &bytes, args);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  CMRelease(args);

  const char *table[] = {"Create", "Delete", nullptr};
  const char *empty[] = {nullptr};
  EXPECT_EQ(containsString("delete", table), 1);
  EXPECT_EQ(containsString("Modify", table), 0);
  EXPECT_EQ(containsString("Create", empty), 0);
}

CIMOM_INSTANTIATE(ArraysTest);

}  // namespace
