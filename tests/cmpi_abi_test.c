/*
 * cmpi_abi_test.c - compile-time checks that the CMPI headers have the 2.0
 * binary layout.
 *
 * An object manager calls provider tables, and providers call its tables,
 * by position. A member out of place compiles cleanly and then calls the
 * wrong function at run time, so every table member's slot is pinned here,
 * along with the numbers that travel across the boundary. Compiling is the
 * test; main exists so the file can run as a test executable.
 *
 * Pointer-sized slots: each function table starts with an int version that
 * occupies one pointer slot (padding on 64-bit), so member n of such a table
 * sits at n * sizeof(void *) on every platform we build for. Tables headed
 * by two ints and a name (broker up-calls, MI tables) have their first
 * function at 8 + sizeof(void *).
 */
#include <stddef.h>

#include <cmpimacs.h>

#if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ABI_ASSERT(cond, msg) _Static_assert(cond, msg)
#elif defined(__GNUC__)
/* C99 mode: the keyword exists but -pedantic would flag it. */
#define ABI_ASSERT(cond, msg) __extension__ _Static_assert(cond, msg)
#else
#define ABI_CAT2(a, b) a##b
#define ABI_CAT(a, b) ABI_CAT2(a, b)
#define ABI_ASSERT(cond, msg) typedef char ABI_CAT(abi_assert_, __LINE__)[(cond) ? 1 : -1]
#endif

#define P sizeof(void *)

/* Member m of a table headed by one int is in pointer slot n. */
#define SLOT(T, m, n) ABI_ASSERT(offsetof(T, m) == (n)*P, #T "." #m " not in slot " #n)
/* ... and is the last member, so the table is no longer than 2.0's. */
#define LAST(T, m, n) \
  SLOT(T, m, n);      \
  ABI_ASSERT(sizeof(T) == ((n) + 1) * P, #T " has members past " #m)

/* Member m of a table headed by two ints and a name is function n. */
#define FN(T, m, n) ABI_ASSERT(offsetof(T, m) == 8 + P + (n)*P, #T "." #m " not function " #n)
#define FN_LAST(T, m, n) \
  FN(T, m, n);           \
  ABI_ASSERT(sizeof(T) == 8 + P + ((n) + 1) * P, #T " has members past " #m)

/* An encapsulated object or MI: a handle, then its table. */
#define OBJECT(T)                                                                 \
  ABI_ASSERT(offsetof(T, hdl) == 0 && offsetof(T, ft) == P && sizeof(T) == 2 * P, \
             #T " is not {hdl, ft}")

/* ---- Base types and the value carriers --------------------------------- */

ABI_ASSERT(sizeof(CMPIBoolean) == 1 && sizeof(CMPIChar16) == 2, "bool/char16");
ABI_ASSERT(sizeof(CMPIUint8) == 1 && sizeof(CMPISint8) == 1, "8-bit");
ABI_ASSERT(sizeof(CMPIUint16) == 2 && sizeof(CMPISint16) == 2, "16-bit");
ABI_ASSERT(sizeof(CMPIUint32) == 4 && sizeof(CMPISint32) == 4, "32-bit");
ABI_ASSERT(sizeof(CMPIUint64) == 8 && sizeof(CMPISint64) == 8, "64-bit");
ABI_ASSERT(sizeof(CMPIReal32) == 4 && sizeof(CMPIReal64) == 8, "reals");
ABI_ASSERT((CMPISint8)-1 < 0 && (CMPIUint8)-1 > 0, "8-bit signedness");
ABI_ASSERT((CMPISint64)-1 < 0 && (CMPIUint64)-1 > 0, "64-bit signedness");
ABI_ASSERT(sizeof(CMPIType) == 2 && sizeof(CMPIValueState) == 2, "CMPIData header is two shorts");
ABI_ASSERT(sizeof(CMPICount) == 4 && sizeof(CMPIFlags) == 4, "count/flags");
ABI_ASSERT(sizeof(CMPIrc) == 4, "CMPIrc is int-sized");

/* CMPIValuePtr (pointer + count) is what makes CMPIValue 16 bytes on
 * 64-bit; the 64-bit scalars make it 8 on 32-bit. */
ABI_ASSERT(sizeof(CMPIValuePtr) == 2 * P, "CMPIValuePtr");
ABI_ASSERT(sizeof(CMPIValue) == (P == 8 ? 16 : 8), "CMPIValue size");

/* CMPIData: the value follows two shorts at its own alignment. 32-bit
 * Windows aligns 64-bit members to 8, 32-bit System V only to 4. */
#if defined(_WIN32) && !defined(_WIN64)
#define DATA_VALUE_OFFSET 8
#define DATA_SIZE 16
#else
#define DATA_VALUE_OFFSET (P == 8 ? 8 : 4)
#define DATA_SIZE (P == 8 ? 24 : 12)
#endif
ABI_ASSERT(offsetof(CMPIData, type) == 0 && offsetof(CMPIData, state) == 2, "CMPIData type/state");
ABI_ASSERT(offsetof(CMPIData, value) == DATA_VALUE_OFFSET, "CMPIData.value");
ABI_ASSERT(sizeof(CMPIData) == DATA_SIZE, "CMPIData size");

ABI_ASSERT(offsetof(CMPIStatus, rc) == 0 && offsetof(CMPIStatus, msg) == P &&
               sizeof(CMPIStatus) == 2 * P,
           "CMPIStatus");

/* ---- Type codes ---------------------------------------------------------
 * Code classifies types with masks, so besides the values themselves the
 * groups must not overlap. */

ABI_ASSERT(CMPI_null == 0 && CMPI_boolean == 2 && CMPI_char16 == 3, "simple");
ABI_ASSERT(CMPI_real32 == 8 && CMPI_real64 == 12, "reals");
ABI_ASSERT(CMPI_uint8 == 0x80 && CMPI_uint16 == 0x90 && CMPI_uint32 == 0xA0 && CMPI_uint64 == 0xB0,
           "unsigned");
ABI_ASSERT(CMPI_sint8 == 0xC0 && CMPI_sint16 == 0xD0 && CMPI_sint32 == 0xE0 && CMPI_sint64 == 0xF0,
           "signed");
ABI_ASSERT(CMPI_instance == 0x1000 && CMPI_ref == 0x1100 && CMPI_args == 0x1200 &&
               CMPI_class == 0x1300 && CMPI_filter == 0x1400 && CMPI_enumeration == 0x1500 &&
               CMPI_string == 0x1600 && CMPI_chars == 0x1700 && CMPI_dateTime == 0x1800 &&
               CMPI_ptr == 0x1900 && CMPI_charsptr == 0x1A00,
           "encapsulated");
ABI_ASSERT(CMPI_ARRAY == 0x2000 && CMPI_ENCA == 0x3000 && CMPI_uint32A == 0x20A0 &&
               CMPI_stringA == 0x3600 && CMPI_refA == 0x3100 && CMPI_booleanA == 0x2002,
           "arrays");

ABI_ASSERT(CMPI_SIMPLE == 2 && CMPI_REAL == 8 && CMPI_UINT == 0x80 && CMPI_SINT == 0xC0 &&
               CMPI_INTEGER == 0xC0 && CMPI_ENC == 0x1000,
           "group masks");
/* Every signed code carries the bit that tells it from the unsigned ones. */
ABI_ASSERT((CMPI_sint8 & CMPI_sint16 & CMPI_sint32 & CMPI_sint64 & (CMPI_SINT & ~CMPI_UINT)) != 0 &&
               ((CMPI_uint8 | CMPI_uint16 | CMPI_uint32 | CMPI_uint64) &
                (CMPI_SINT & ~CMPI_UINT)) == 0,
           "signed bit");
ABI_ASSERT(((CMPI_boolean | CMPI_char16 | CMPI_real64 | CMPI_sint64 | CMPI_charsptr |
             CMPI_dateTime) &
            CMPI_ARRAY) == 0,
           "no scalar code has the array bit");
ABI_ASSERT(((CMPI_real32 | CMPI_real64) & (CMPI_INTEGER | CMPI_ENC)) == 0 &&
               ((CMPI_sint64 | CMPI_uint64) & CMPI_ENC) == 0,
           "reals, integers and encapsulated types are disjoint");

ABI_ASSERT(CMPI_keyInteger == CMPI_sint64 && CMPI_keyString == CMPI_string &&
               CMPI_keyBoolean == CMPI_boolean && CMPI_keyRef == CMPI_ref,
           "key types");

ABI_ASSERT(CMPI_goodValue == 0 && CMPI_nullValue == 0x100 && CMPI_keyValue == 0x200 &&
               CMPI_notFound == 0x400 && CMPI_badValue == 0x8000,
           "value states");

/* ---- Numbers that cross the boundary ----------------------------------- */

ABI_ASSERT(CMPIVersion100 == 100 && CMPIVersion200 == 200 && CMPICurrentVersion == 200, "versions");

ABI_ASSERT(CMPI_RC_OK == 0 && CMPI_RC_ERR_FAILED == 1 && CMPI_RC_ERR_NOT_FOUND == 6 &&
               CMPI_RC_ERR_NOT_SUPPORTED == 7 && CMPI_RC_ERR_ALREADY_EXISTS == 11 &&
               CMPI_RC_ERR_NO_SUCH_PROPERTY == 12 && CMPI_RC_ERR_TYPE_MISMATCH == 13 &&
               CMPI_RC_ERR_INVALID_QUERY == 15 && CMPI_RC_ERR_METHOD_NOT_FOUND == 17,
           "CIM status codes");
ABI_ASSERT(CMPI_RC_DO_NOT_UNLOAD == 50 && CMPI_RC_NEVER_UNLOAD == 51 &&
               CMPI_RC_ERR_INVALID_HANDLE == 60 && CMPI_RC_ERR_INVALID_DATA_TYPE == 61 &&
               CMPI_RC_ERROR_SYSTEM == 100 && CMPI_RC_ERROR == 200,
           "CMPI-specific codes");

ABI_ASSERT(CMPI_FLAG_LocalOnly == 1 && CMPI_FLAG_DeepInheritance == 2 &&
               CMPI_FLAG_IncludeQualifiers == 4 && CMPI_FLAG_IncludeClassOrigin == 8,
           "invocation flags");
ABI_ASSERT(CMPI_SEV_ERROR == 1 && CMPI_SEV_INFO == 2 && CMPI_SEV_WARNING == 3 &&
               CMPI_DEV_DEBUG == 4 && CMPI_LEV_INFO == 1 && CMPI_LEV_WARNING == 2 &&
               CMPI_LEV_VERBOSE == 3,
           "log severities and trace levels");
ABI_ASSERT(CMPI_PredOp_Equals == 1 && CMPI_PredOp_NotLike == 10 && CMPI_PredOp_Null == 12 &&
               CMPI_PredOp_Or == 14 && CMPI_COND_DOC == 0 && CMPI_COND_COD == 1,
           "query operators");
ABI_ASSERT(UnknownErrorType == 0 && UnsupportedOperationError == 10 && ErrorSevUnknown == 0 &&
               ErrorSevLow == 2 && ErrorSevFatal == 5 && ErrorProbCauseOther == 1 &&
               Software_Error == 47 && Unexpected_Information == 130 && CIMObjectHandle == 2,
           "extended-error enumerations");
ABI_ASSERT(CMPI_MB_Class_1 == 3 && CMPI_MB_Supports_IndicationMI == 0x200 &&
               CMPI_MB_Supports_Extended_Error == 0x8000 && CMPI_MB_Indications == 0x81,
           "capability bits");

/* ---- Every constant's value ---------------------------------------------
 * Each number of the headers, listed in their order: a value that drifts from
 * the standard compiles cleanly and means something else to the other side. */
#define PIN(name, value) ABI_ASSERT((name) == (value), #name " is not " #value)

PIN(CMPIVersion085, 85);
PIN(CMPIVersion086, 86);
PIN(CMPIVersion087, 87);
PIN(CMPIVersion090, 90);
PIN(CMPIVersion100, 100);
PIN(CMPIVersion200, 0xc8);
PIN(CMPICurrentVersion, 0xc8);
PIN(CMPI_true, 1);
PIN(CMPI_false, 0);
PIN(CMPI_null, 0);
PIN(CMPI_SIMPLE, 2);
PIN(CMPI_boolean, 2);
PIN(CMPI_char16, 3);
PIN(CMPI_REAL, 8);
PIN(CMPI_real32, 8);
PIN(CMPI_real64, 12);
PIN(CMPI_UINT, 0x80);
PIN(CMPI_uint8, 0x80);
PIN(CMPI_uint16, 0x90);
PIN(CMPI_uint32, 0xa0);
PIN(CMPI_uint64, 0xb0);
PIN(CMPI_SINT, 0xc0);
PIN(CMPI_sint8, 0xc0);
PIN(CMPI_sint16, 0xd0);
PIN(CMPI_sint32, 0xe0);
PIN(CMPI_sint64, 0xf0);
PIN(CMPI_INTEGER, 0xc0);
PIN(CMPI_ENC, 0x1000);
PIN(CMPI_instance, 0x1000);
PIN(CMPI_ref, 0x1100);
PIN(CMPI_args, 0x1200);
PIN(CMPI_class, 0x1300);
PIN(CMPI_filter, 0x1400);
PIN(CMPI_enumeration, 0x1500);
PIN(CMPI_string, 0x1600);
PIN(CMPI_chars, 0x1700);
PIN(CMPI_dateTime, 0x1800);
PIN(CMPI_ptr, 0x1900);
PIN(CMPI_charsptr, 0x1a00);
PIN(CMPI_ARRAY, 0x2000);
PIN(CMPI_SIMPLEA, 0x2002);
PIN(CMPI_booleanA, 0x2002);
PIN(CMPI_char16A, 0x2003);
PIN(CMPI_REALA, 0x2008);
PIN(CMPI_real32A, 0x2008);
PIN(CMPI_real64A, 0x200c);
PIN(CMPI_UINTA, 0x2080);
PIN(CMPI_uint8A, 0x2080);
PIN(CMPI_uint16A, 0x2090);
PIN(CMPI_uint32A, 0x20a0);
PIN(CMPI_uint64A, 0x20b0);
PIN(CMPI_SINTA, 0x20c0);
PIN(CMPI_sint8A, 0x20c0);
PIN(CMPI_sint16A, 0x20d0);
PIN(CMPI_sint32A, 0x20e0);
PIN(CMPI_sint64A, 0x20f0);
PIN(CMPI_INTEGERA, 0x20c0);
PIN(CMPI_ENCA, 0x3000);
PIN(CMPI_stringA, 0x3600);
PIN(CMPI_charsA, 0x3700);
PIN(CMPI_dateTimeA, 0x3800);
PIN(CMPI_instanceA, 0x3000);
PIN(CMPI_refA, 0x3100);
PIN(CMPI_ptrA, 0x3900);
PIN(CMPI_charsptrA, 0x3a00);
PIN(CMPI_keyInteger, 0xf0);
PIN(CMPI_keyString, 0x1600);
PIN(CMPI_keyBoolean, 2);
PIN(CMPI_keyRef, 0x1100);
PIN(CMPI_charString, 0x1600);
PIN(CMPI_integerString, 0x16f0);
PIN(CMPI_realString, 0x160c);
PIN(CMPI_numericString, 0x16fc);
PIN(CMPI_booleanString, 0x1602);
PIN(CMPI_dateTimeString, 0x1e00);
PIN(CMPI_classNameString, 0x1700);
PIN(CMPI_nameString, 0x1e00);
PIN(CMPI_Byte, 0xc0);
PIN(CMPI_Short, 0xd0);
PIN(CMPI_Int, 0xe0);
PIN(CMPI_Long, 0xf0);
PIN(CMPI_Float, 8);
PIN(CMPI_Double, 12);
PIN(CMPI_ByteA, 0x20c0);
PIN(CMPI_ShortA, 0x20d0);
PIN(CMPI_IntA, 0x20e0);
PIN(CMPI_LongA, 0x20f0);
PIN(CMPI_FloatA, 0x2008);
PIN(CMPI_DoubleA, 0x200c);
PIN(CMPI_goodValue, 0);
PIN(CMPI_nullValue, 0x100);
PIN(CMPI_keyValue, 0x200);
PIN(CMPI_notFound, 0x400);
PIN(CMPI_badValue, 0x8000);
PIN(CMPI_MB_Class_0, 0x1);
PIN(CMPI_MB_Class_1, 0x3);
PIN(CMPI_MB_Class_2, 0x7);
PIN(CMPI_MB_Supports_PropertyMI, 0x100);
PIN(CMPI_MB_Supports_IndicationMI, 0x200);
PIN(CMPI_MB_Supports_IndicationPolling, 0x400);
PIN(CMPI_MB_Supports_QueryNormalization, 0x800);
PIN(CMPI_MB_Supports_Qualifier, 0x1000);
PIN(CMPI_MB_Supports_Schema, 0x3000);
PIN(CMPI_MB_Supports_MemEnhancements, 0x4000);
PIN(CMPI_MB_Supports_Extended_Error, 0x8000);
PIN(CMPI_MB_BasicRead, 0x1);
PIN(CMPI_MB_BasicWrite, 0x3);
PIN(CMPI_MB_InstanceManipulation, 0x7);
PIN(CMPI_MB_AssociationTraversal, 0x9);
PIN(CMPI_MB_QueryExecution, 0x11);
PIN(CMPI_MB_QueryNormalization, 0x31);
PIN(CMPI_MB_Indications, 0x81);
PIN(CMPI_MB_BasicQualifierSupport, 0x47);
PIN(CMPI_MB_OSEncapsulationSupport, 0x100);
PIN(CMPI_FLAG_LocalOnly, 1);
PIN(CMPI_FLAG_DeepInheritance, 2);
PIN(CMPI_FLAG_IncludeQualifiers, 4);
PIN(CMPI_FLAG_IncludeClassOrigin, 8);
PIN(CMPI_RC_OK, 0);
PIN(CMPI_RC_ERR_FAILED, 1);
PIN(CMPI_RC_ERR_ACCESS_DENIED, 2);
PIN(CMPI_RC_ERR_INVALID_NAMESPACE, 3);
PIN(CMPI_RC_ERR_INVALID_PARAMETER, 4);
PIN(CMPI_RC_ERR_INVALID_CLASS, 5);
PIN(CMPI_RC_ERR_NOT_FOUND, 6);
PIN(CMPI_RC_ERR_NOT_SUPPORTED, 7);
PIN(CMPI_RC_ERR_CLASS_HAS_CHILDREN, 8);
PIN(CMPI_RC_ERR_CLASS_HAS_INSTANCES, 9);
PIN(CMPI_RC_ERR_INVALID_SUPERCLASS, 10);
PIN(CMPI_RC_ERR_ALREADY_EXISTS, 11);
PIN(CMPI_RC_ERR_NO_SUCH_PROPERTY, 12);
PIN(CMPI_RC_ERR_TYPE_MISMATCH, 13);
PIN(CMPI_RC_ERR_QUERY_LANGUAGE_NOT_SUPPORTED, 14);
PIN(CMPI_RC_ERR_INVALID_QUERY, 15);
PIN(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, 16);
PIN(CMPI_RC_ERR_METHOD_NOT_FOUND, 17);
PIN(CMPI_RC_DO_NOT_UNLOAD, 50);
PIN(CMPI_RC_NEVER_UNLOAD, 51);
PIN(CMPI_RC_ERR_INVALID_HANDLE, 60);
PIN(CMPI_RC_ERR_INVALID_DATA_TYPE, 61);
PIN(CMPI_RC_ERROR_SYSTEM, 100);
PIN(CMPI_RC_ERROR, 0xc8);
PIN(CMPI_PredOp_Equals, 1);
PIN(CMPI_PredOp_NotEquals, 2);
PIN(CMPI_PredOp_LessThan, 3);
PIN(CMPI_PredOp_GreaterThanOrEquals, 4);
PIN(CMPI_PredOp_GreaterThan, 5);
PIN(CMPI_PredOp_LessThanOrEquals, 6);
PIN(CMPI_PredOp_Isa, 7);
PIN(CMPI_PredOp_NotIsa, 8);
PIN(CMPI_PredOp_Like, 9);
PIN(CMPI_PredOp_NotLike, 10);
PIN(CMPI_PredOp_Not_Null, 11);
PIN(CMPI_PredOp_Null, 12);
PIN(CMPI_PredOp_And, 13);
PIN(CMPI_PredOp_Or, 14);
PIN(CMPI_COND_DOC, 0);
PIN(CMPI_COND_COD, 1);
PIN(CMPI_SEV_ERROR, 1);
PIN(CMPI_SEV_INFO, 2);
PIN(CMPI_SEV_WARNING, 3);
PIN(CMPI_DEV_DEBUG, 4);
PIN(CMPI_LEV_INFO, 1);
PIN(CMPI_LEV_WARNING, 2);
PIN(CMPI_LEV_VERBOSE, 3);
PIN(UnknownErrorType, 0);
PIN(OtherErrorType, 1);
PIN(CommunicationsError, 2);
PIN(QualityOfServiceError, 3);
PIN(SoftwareError, 4);
PIN(HardwareError, 5);
PIN(EnvironmentalError, 6);
PIN(SecurityError, 7);
PIN(Oversubscription_Error, 8);
PIN(UnavailableResourceError, 9);
PIN(UnsupportedOperationError, 10);
PIN(ErrorSevUnknown, 0);
PIN(ErrorSevLow, 2);
PIN(ErrorSevMedium, 3);
PIN(ErrorSevHigh, 4);
PIN(ErrorSevFatal, 5);
PIN(ErrorProbCauseUnknown, 0);
PIN(ErrorProbCauseOther, 1);
PIN(Adapter_Card_Error, 2);
PIN(Application_Subsystem_Failure, 3);
PIN(Bandwidth_Reduced, 4);
PIN(Connection_Establishment_Error, 5);
PIN(Communications_Protocol_Error, 6);
PIN(Communications_Subsystem_Failure, 7);
PIN(ConfigurationCustomization_Error, 8);
PIN(Congestion, 9);
PIN(Corrupt_Data, 10);
PIN(CPU_Cycles_Limit_Exceeded, 11);
PIN(DatasetModem_Error, 12);
PIN(Degraded_Signal, 13);
PIN(DTE_DCE_Interface_Error, 14);
PIN(Enclosure_Door_Open, 15);
PIN(Equipment_Malfunction, 16);
PIN(Excessive_Vibration, 17);
PIN(File_Format_Error, 18);
PIN(Fire_Detected, 19);
PIN(Flood_Detected, 20);
PIN(Framing_Error, 21);
PIN(HVAC_Problem, 22);
PIN(Humidity_Unacceptable, 23);
PIN(IO_Device_Error, 24);
PIN(Input_Device_Error, 25);
PIN(LAN_Error, 26);
PIN(Non_Toxic_Leak_Detected, 27);
PIN(Local_Node_Transmission_Error, 28);
PIN(Loss_of_Frame, 29);
PIN(Loss_of_Signal, 30);
PIN(Material_Supply_Exhausted, 31);
PIN(Multiplexer_Problem, 32);
PIN(Out_of_Memory, 33);
PIN(Output_Device_Error, 34);
PIN(Performance_Degraded, 35);
PIN(Power_Problem, 36);
PIN(Pressure_Unacceptable, 37);
PIN(Processor_Problem, 38);
PIN(Pump_Failure, 39);
PIN(Queue_Size_Exceeded, 40);
PIN(Receive_Failure, 41);
PIN(Receiver_Failure, 42);
PIN(Remote_Node_Transmission_Error, 43);
PIN(Resource_at_or_Nearing_Capacity, 44);
PIN(Response_Time_Excessive, 45);
PIN(Retransmission_Rate_Excessive, 46);
PIN(Software_Error, 47);
PIN(Software_Program_Abnormally_Terminated, 48);
PIN(Software_Program_Error, 49);
PIN(Storage_Capacity_Problem, 50);
PIN(Temperature_Unacceptable, 51);
PIN(Threshold_Crossed, 52);
PIN(Timing_Problem, 53);
PIN(Toxic_Leak_Detected, 54);
PIN(Transmit_Failure, 55);
PIN(Transmitter_Failure, 56);
PIN(Underlying_Resource_Unavailable, 57);
PIN(Version_MisMatch, 58);
PIN(Previous_Alert_Cleared, 59);
PIN(Login_Attempts_Failed, 60);
PIN(Software_Virus_Detected, 61);
PIN(Hardware_Security_Breached, 62);
PIN(Denial_of_Service_Detected, 63);
PIN(Security_Credential_MisMatch, 64);
PIN(Unauthorized_Access, 65);
PIN(Alarm_Received, 66);
PIN(Loss_of_Pointer, 67);
PIN(Payload_Mismatch, 68);
PIN(Transmission_Error, 69);
PIN(Excessive_Error_Rate, 70);
PIN(Trace_Problem, 71);
PIN(Element_Unavailable, 72);
PIN(Element_Missing, 73);
PIN(Loss_of_Multi_Frame, 74);
PIN(Broadcast_Channel_Failure, 75);
PIN(Invalid_Message_Received, 76);
PIN(Routing_Failure, 77);
PIN(Backplane_Failure, 78);
PIN(Identifier_Duplication, 79);
PIN(Protection_Path_Failure, 80);
PIN(Sync_Loss_or_Mismatch, 81);
PIN(Terminal_Problem, 82);
PIN(Real_Time_Clock_Failure, 83);
PIN(Antenna_Failure, 84);
PIN(Battery_Charging_Failure, 85);
PIN(Disk_Failure, 86);
PIN(Frequency_Hopping_Failure, 87);
PIN(Loss_of_Redundancy, 88);
PIN(Power_Supply_Failure, 89);
PIN(Signal_Quality_Problem, 90);
PIN(Battery_Discharging, 91);
PIN(Battery_Failure, 92);
PIN(Commercial_Power_Problem, 93);
PIN(Fan_Failure, 94);
PIN(Engine_Failure, 95);
PIN(Sensor_Failure, 96);
PIN(Fuse_Failure, 97);
PIN(Generator_Failure, 98);
PIN(Low_Battery, 99);
PIN(Low_Fuel, 100);
PIN(Low_Water, 101);
PIN(Explosive_Gas, 102);
PIN(High_Winds, 103);
PIN(Ice_Buildup, 104);
PIN(Smoke, 105);
PIN(Memory_Mismatch, 106);
PIN(Out_of_CPU_Cycles, 107);
PIN(Software_Environment_Problem, 108);
PIN(Software_Download_Failure, 109);
PIN(Element_Reinitialized, 110);
PIN(Timeout, 111);
PIN(Logging_Problems, 112);
PIN(Leak_Detected, 113);
PIN(Protection_Mechanism_Failure, 114);
PIN(Protecting_Resource_Failure, 115);
PIN(Database_Inconsistency, 116);
PIN(Authentication_Failure, 117);
PIN(Breach_of_Confidentiality, 118);
PIN(Cable_Tamper, 119);
PIN(Delayed_Information, 120);
PIN(Duplicate_Information, 121);
PIN(Information_Missing, 122);
PIN(Information_Modification, 123);
PIN(Information_Out_of_Sequence, 124);
PIN(Key_Expired, 125);
PIN(Non_Repudiation_Failure, 126);
PIN(Out_of_Hours_Activity, 127);
PIN(Out_of_Service, 0x80);
PIN(Procedural_Error, 0x81);
PIN(Unexpected_Information, 0x82);
PIN(CMPIErrSrcUnknown, 0);
PIN(CMPIErrSrcOther, 1);
PIN(CIMObjectHandle, 2);

/* ---- Broker ------------------------------------------------------------ */

ABI_ASSERT(offsetof(CMPIBroker, hdl) == 0 && offsetof(CMPIBroker, bft) == P &&
               offsetof(CMPIBroker, eft) == 2 * P && offsetof(CMPIBroker, xft) == 3 * P &&
               offsetof(CMPIBroker, mft) == 4 * P && sizeof(CMPIBroker) == 5 * P,
           "CMPIBroker is {hdl, bft, eft, xft, mft}");

ABI_ASSERT(offsetof(CMPIBrokerFT, brokerCapabilities) == 0 &&
               offsetof(CMPIBrokerFT, brokerVersion) == 4 &&
               offsetof(CMPIBrokerFT, brokerName) == 8,
           "CMPIBrokerFT header");
FN(CMPIBrokerFT, prepareAttachThread, 0);
FN(CMPIBrokerFT, attachThread, 1);
FN(CMPIBrokerFT, detachThread, 2);
FN(CMPIBrokerFT, deliverIndication, 3);
FN(CMPIBrokerFT, enumerateInstanceNames, 4);
FN(CMPIBrokerFT, getInstance, 5);
FN(CMPIBrokerFT, createInstance, 6);
FN(CMPIBrokerFT, modifyInstance, 7);
FN(CMPIBrokerFT, deleteInstance, 8);
FN(CMPIBrokerFT, execQuery, 9);
FN(CMPIBrokerFT, enumerateInstances, 10);
FN(CMPIBrokerFT, associators, 11);
FN(CMPIBrokerFT, associatorNames, 12);
FN(CMPIBrokerFT, references, 13);
FN(CMPIBrokerFT, referenceNames, 14);
FN(CMPIBrokerFT, invokeMethod, 15);
FN(CMPIBrokerFT, setProperty, 16);
FN_LAST(CMPIBrokerFT, getProperty, 17);

SLOT(CMPIBrokerEncFT, ftVersion, 0);
SLOT(CMPIBrokerEncFT, newInstance, 1);
SLOT(CMPIBrokerEncFT, newObjectPath, 2);
SLOT(CMPIBrokerEncFT, newArgs, 3);
SLOT(CMPIBrokerEncFT, newString, 4);
SLOT(CMPIBrokerEncFT, newArray, 5);
SLOT(CMPIBrokerEncFT, newDateTime, 6);
SLOT(CMPIBrokerEncFT, newDateTimeFromBinary, 7);
SLOT(CMPIBrokerEncFT, newDateTimeFromChars, 8);
SLOT(CMPIBrokerEncFT, newSelectExp, 9);
SLOT(CMPIBrokerEncFT, classPathIsA, 10);
SLOT(CMPIBrokerEncFT, toString, 11);
SLOT(CMPIBrokerEncFT, isOfType, 12);
SLOT(CMPIBrokerEncFT, getType, 13);
SLOT(CMPIBrokerEncFT, getMessage, 14);
SLOT(CMPIBrokerEncFT, logMessage, 15);
SLOT(CMPIBrokerEncFT, trace, 16);
SLOT(CMPIBrokerEncFT, newCMPIError, 17);
SLOT(CMPIBrokerEncFT, openMessageFile, 18);
SLOT(CMPIBrokerEncFT, closeMessageFile, 19);
LAST(CMPIBrokerEncFT, getMessage2, 20);

SLOT(CMPIBrokerExtFT, ftVersion, 0);
SLOT(CMPIBrokerExtFT, resolveFileName, 1);
SLOT(CMPIBrokerExtFT, newThread, 2);
SLOT(CMPIBrokerExtFT, joinThread, 3);
SLOT(CMPIBrokerExtFT, exitThread, 4);
SLOT(CMPIBrokerExtFT, cancelThread, 5);
SLOT(CMPIBrokerExtFT, threadSleep, 6);
SLOT(CMPIBrokerExtFT, threadOnce, 7);
SLOT(CMPIBrokerExtFT, createThreadKey, 8);
SLOT(CMPIBrokerExtFT, destroyThreadKey, 9);
SLOT(CMPIBrokerExtFT, getThreadSpecific, 10);
SLOT(CMPIBrokerExtFT, setThreadSpecific, 11);
SLOT(CMPIBrokerExtFT, newMutex, 12);
SLOT(CMPIBrokerExtFT, destroyMutex, 13);
SLOT(CMPIBrokerExtFT, lockMutex, 14);
SLOT(CMPIBrokerExtFT, unlockMutex, 15);
SLOT(CMPIBrokerExtFT, newCondition, 16);
SLOT(CMPIBrokerExtFT, destroyCondition, 17);
SLOT(CMPIBrokerExtFT, condWait, 18);
SLOT(CMPIBrokerExtFT, timedCondWait, 19);
LAST(CMPIBrokerExtFT, signalCondition, 20);

SLOT(CMPIBrokerMemFT, ftVersion, 0);
SLOT(CMPIBrokerMemFT, mark, 1);
SLOT(CMPIBrokerMemFT, release, 2);
SLOT(CMPIBrokerMemFT, cmpiMalloc, 3);
SLOT(CMPIBrokerMemFT, cmpiCalloc, 4);
SLOT(CMPIBrokerMemFT, cmpiRealloc, 5);
SLOT(CMPIBrokerMemFT, cmpiStrDup, 6);
SLOT(CMPIBrokerMemFT, cmpiFree, 7);
SLOT(CMPIBrokerMemFT, freeInstance, 8);
SLOT(CMPIBrokerMemFT, freeObjectPath, 9);
SLOT(CMPIBrokerMemFT, freeArgs, 10);
SLOT(CMPIBrokerMemFT, freeString, 11);
SLOT(CMPIBrokerMemFT, freeArray, 12);
SLOT(CMPIBrokerMemFT, freeDateTime, 13);
LAST(CMPIBrokerMemFT, freeSelectExp, 14);

/* ---- Encapsulated types -------------------------------------------------
 * release and clone in slots 1 and 2 everywhere: CMRelease and CMClone
 * depend on it. */

OBJECT(CMPIContext);
OBJECT(CMPIResult);
OBJECT(CMPIError);
OBJECT(CMPIInstance);
OBJECT(CMPIObjectPath);
OBJECT(CMPISelectExp);
OBJECT(CMPISelectCond);
OBJECT(CMPISubCond);
OBJECT(CMPIPredicate);
OBJECT(CMPIArgs);
OBJECT(CMPIString);
OBJECT(CMPIArray);
OBJECT(CMPIEnumeration);
OBJECT(CMPIDateTime);

#define COMMON(T)        \
  SLOT(T, ftVersion, 0); \
  SLOT(T, release, 1);   \
  SLOT(T, clone, 2)

COMMON(CMPIContextFT);
SLOT(CMPIContextFT, getEntry, 3);
SLOT(CMPIContextFT, getEntryAt, 4);
SLOT(CMPIContextFT, getEntryCount, 5);
LAST(CMPIContextFT, addEntry, 6);

COMMON(CMPIResultFT);
SLOT(CMPIResultFT, returnData, 3);
SLOT(CMPIResultFT, returnInstance, 4);
SLOT(CMPIResultFT, returnObjectPath, 5);
SLOT(CMPIResultFT, returnDone, 6);
LAST(CMPIResultFT, returnError, 7);

COMMON(CMPIErrorFT);
SLOT(CMPIErrorFT, getErrorType, 3);
SLOT(CMPIErrorFT, getOtherErrorType, 4);
SLOT(CMPIErrorFT, getOwningEntity, 5);
SLOT(CMPIErrorFT, getMessageID, 6);
SLOT(CMPIErrorFT, getMessage, 7);
SLOT(CMPIErrorFT, getPerceivedSeverity, 8);
SLOT(CMPIErrorFT, getProbableCause, 9);
SLOT(CMPIErrorFT, getProbableCauseDescription, 10);
SLOT(CMPIErrorFT, getRecommendedActions, 11);
SLOT(CMPIErrorFT, getErrorSource, 12);
SLOT(CMPIErrorFT, getErrorSourceFormat, 13);
SLOT(CMPIErrorFT, getOtherErrorSourceFormat, 14);
SLOT(CMPIErrorFT, getCIMStatusCode, 15);
SLOT(CMPIErrorFT, getCIMStatusCodeDescription, 16);
SLOT(CMPIErrorFT, getMessageArguments, 17);
SLOT(CMPIErrorFT, setErrorType, 18);
SLOT(CMPIErrorFT, setOtherErrorType, 19);
SLOT(CMPIErrorFT, setProbableCauseDescription, 20);
SLOT(CMPIErrorFT, setRecommendedActions, 21);
SLOT(CMPIErrorFT, setErrorSource, 22);
SLOT(CMPIErrorFT, setErrorSourceFormat, 23);
SLOT(CMPIErrorFT, setOtherErrorSourceFormat, 24);
SLOT(CMPIErrorFT, setCIMStatusCodeDescription, 25);
LAST(CMPIErrorFT, setMessageArguments, 26);

COMMON(CMPIInstanceFT);
SLOT(CMPIInstanceFT, getProperty, 3);
SLOT(CMPIInstanceFT, getPropertyAt, 4);
SLOT(CMPIInstanceFT, getPropertyCount, 5);
SLOT(CMPIInstanceFT, setProperty, 6);
SLOT(CMPIInstanceFT, getObjectPath, 7);
SLOT(CMPIInstanceFT, setPropertyFilter, 8);
SLOT(CMPIInstanceFT, setObjectPath, 9);
LAST(CMPIInstanceFT, setPropertyWithOrigin, 10);

COMMON(CMPIObjectPathFT);
SLOT(CMPIObjectPathFT, setNameSpace, 3);
SLOT(CMPIObjectPathFT, getNameSpace, 4);
SLOT(CMPIObjectPathFT, setHostname, 5);
SLOT(CMPIObjectPathFT, getHostname, 6);
SLOT(CMPIObjectPathFT, setClassName, 7);
SLOT(CMPIObjectPathFT, getClassName, 8);
SLOT(CMPIObjectPathFT, addKey, 9);
SLOT(CMPIObjectPathFT, getKey, 10);
SLOT(CMPIObjectPathFT, getKeyAt, 11);
SLOT(CMPIObjectPathFT, getKeyCount, 12);
SLOT(CMPIObjectPathFT, setNameSpaceFromObjectPath, 13);
SLOT(CMPIObjectPathFT, setHostAndNameSpaceFromObjectPath, 14);
SLOT(CMPIObjectPathFT, getClassQualifier, 15);
SLOT(CMPIObjectPathFT, getPropertyQualifier, 16);
SLOT(CMPIObjectPathFT, getMethodQualifier, 17);
SLOT(CMPIObjectPathFT, getParameterQualifier, 18);
LAST(CMPIObjectPathFT, toString, 19);

COMMON(CMPISelectExpFT);
SLOT(CMPISelectExpFT, evaluate, 3);
SLOT(CMPISelectExpFT, getString, 4);
SLOT(CMPISelectExpFT, getDOC, 5);
SLOT(CMPISelectExpFT, getCOD, 6);
LAST(CMPISelectExpFT, evaluateUsingAccessor, 7);

COMMON(CMPISelectCondFT);
SLOT(CMPISelectCondFT, getCountAndType, 3);
LAST(CMPISelectCondFT, getSubCondAt, 4);

COMMON(CMPISubCondFT);
SLOT(CMPISubCondFT, getCount, 3);
SLOT(CMPISubCondFT, getPredicateAt, 4);
LAST(CMPISubCondFT, getPredicate, 5);

COMMON(CMPIPredicateFT);
SLOT(CMPIPredicateFT, getData, 3);
LAST(CMPIPredicateFT, evaluateUsingAccessor, 4);

COMMON(CMPIArgsFT);
SLOT(CMPIArgsFT, addArg, 3);
SLOT(CMPIArgsFT, getArg, 4);
SLOT(CMPIArgsFT, getArgAt, 5);
LAST(CMPIArgsFT, getArgCount, 6);

COMMON(CMPIStringFT);
LAST(CMPIStringFT, getCharPtr, 3);

COMMON(CMPIArrayFT);
SLOT(CMPIArrayFT, getSize, 3);
SLOT(CMPIArrayFT, getSimpleType, 4);
SLOT(CMPIArrayFT, getElementAt, 5);
LAST(CMPIArrayFT, setElementAt, 6);

COMMON(CMPIEnumerationFT);
SLOT(CMPIEnumerationFT, getNext, 3);
SLOT(CMPIEnumerationFT, hasNext, 4);
LAST(CMPIEnumerationFT, toArray, 5);

COMMON(CMPIDateTimeFT);
SLOT(CMPIDateTimeFT, getBinaryFormat, 3);
SLOT(CMPIDateTimeFT, getStringFormat, 4);
LAST(CMPIDateTimeFT, isInterval, 5);

/* ---- MI tables --------------------------------------------------------- */

OBJECT(CMPIInstanceMI);
OBJECT(CMPIAssociationMI);
OBJECT(CMPIMethodMI);
OBJECT(CMPIPropertyMI);
OBJECT(CMPIIndicationMI);

#define MI_HEAD(T)                                                                            \
  ABI_ASSERT(                                                                                 \
      offsetof(T, ftVersion) == 0 && offsetof(T, miVersion) == 4 && offsetof(T, miName) == 8, \
      #T " header");                                                                          \
  FN(T, cleanup, 0)

MI_HEAD(CMPIInstanceMIFT);
FN(CMPIInstanceMIFT, enumerateInstanceNames, 1);
FN(CMPIInstanceMIFT, enumerateInstances, 2);
FN(CMPIInstanceMIFT, getInstance, 3);
FN(CMPIInstanceMIFT, createInstance, 4);
FN(CMPIInstanceMIFT, modifyInstance, 5);
FN(CMPIInstanceMIFT, deleteInstance, 6);
FN_LAST(CMPIInstanceMIFT, execQuery, 7);

MI_HEAD(CMPIAssociationMIFT);
FN(CMPIAssociationMIFT, associators, 1);
FN(CMPIAssociationMIFT, associatorNames, 2);
FN(CMPIAssociationMIFT, references, 3);
FN_LAST(CMPIAssociationMIFT, referenceNames, 4);

MI_HEAD(CMPIMethodMIFT);
FN_LAST(CMPIMethodMIFT, invokeMethod, 1);

MI_HEAD(CMPIPropertyMIFT);
FN(CMPIPropertyMIFT, setProperty, 1);
FN(CMPIPropertyMIFT, getProperty, 2);
FN_LAST(CMPIPropertyMIFT, setPropertyWithOrigin, 3);

MI_HEAD(CMPIIndicationMIFT);
FN(CMPIIndicationMIFT, authorizeFilter, 1);
FN(CMPIIndicationMIFT, mustPoll, 2);
FN(CMPIIndicationMIFT, activateFilter, 3);
FN(CMPIIndicationMIFT, deActivateFilter, 4);
FN(CMPIIndicationMIFT, enableIndications, 5);
FN_LAST(CMPIIndicationMIFT, disableIndications, 6);

int main(void) { return 0; }
