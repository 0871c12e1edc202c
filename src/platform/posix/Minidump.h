#pragma once
// The minidump file format, as far as the crash dump writer uses it: little-endian records laid
// out without padding, addressed by RVAs (32-bit offsets from the start of the file).

#include <bit>
#include <cstddef>
#include <cstdint>

namespace minidump {

static_assert(std::endian::native == std::endian::little, "minidump records are little-endian");

inline constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
inline constexpr std::uint32_t kVersion = 0xA793;        // low word; the high word is the writer's own

enum StreamType : std::uint32_t {
    kThreadListStream = 3,
    kModuleListStream = 4,
    kExceptionStream = 6,
    kSystemInfoStream = 7,
    kMiscInfoStream = 15,
    kLauncherUserStream = 0x10001,  // the launcher's marker stream, always empty
};

inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
inline constexpr std::uint32_t kPlatformIdLinux = 0x8201;  // the platform id minidump tools give Linux
inline constexpr std::uint32_t kMiscInfoProcessId = 0x1;

inline constexpr std::uint32_t kContextAmd64 = 0x00100000;
inline constexpr std::uint32_t kContextControl = kContextAmd64 | 0x1;
inline constexpr std::uint32_t kContextInteger = kContextAmd64 | 0x2;
inline constexpr std::uint32_t kContextSegments = kContextAmd64 | 0x4;
inline constexpr std::uint32_t kContextFloatingPoint = kContextAmd64 | 0x8;

#pragma pack(push, 1)

struct LocationDescriptor {
    std::uint32_t dataSize = 0;
    std::uint32_t rva = 0;
};

struct MemoryDescriptor {
    std::uint64_t startOfMemoryRange = 0;
    LocationDescriptor memory;
};

struct Header {
    std::uint32_t signature = kSignature;
    std::uint32_t version = kVersion;
    std::uint32_t numberOfStreams = 0;
    std::uint32_t streamDirectoryRva = 0;
    std::uint32_t checkSum = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint64_t flags = 0;  // the dump type; 0 is a normal dump
};

struct Directory {
    std::uint32_t streamType = 0;
    LocationDescriptor location;
};

struct Thread {
    std::uint32_t threadId = 0;
    std::uint32_t suspendCount = 0;
    std::uint32_t priorityClass = 0;
    std::uint32_t priority = 0;
    std::uint64_t teb = 0;
    MemoryDescriptor stack;
    LocationDescriptor threadContext;
};

struct FixedFileInfo {  // version resource fields; all zero: a shared object carries none
    std::uint32_t fields[13] = {};
};

struct Module {
    std::uint64_t baseOfImage = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t checkSum = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t moduleNameRva = 0;  // a String
    FixedFileInfo versionInfo;
    LocationDescriptor cvRecord;
    LocationDescriptor miscRecord;
    std::uint64_t reserved0 = 0;
    std::uint64_t reserved1 = 0;
};

struct ExceptionRecord {
    std::uint32_t exceptionCode = 0;
    std::uint32_t exceptionFlags = 0;
    std::uint64_t exceptionRecord = 0;
    std::uint64_t exceptionAddress = 0;
    std::uint32_t numberParameters = 0;
    std::uint32_t unusedAlignment = 0;
    std::uint64_t exceptionInformation[15] = {};
};

struct ExceptionStream {
    std::uint32_t threadId = 0;
    std::uint32_t alignment = 0;
    ExceptionRecord exceptionRecord;
    LocationDescriptor threadContext;
};

struct SystemInfo {
    std::uint16_t processorArchitecture = 0;
    std::uint16_t processorLevel = 0;
    std::uint16_t processorRevision = 0;
    std::uint8_t numberOfProcessors = 0;
    std::uint8_t productType = 0;
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 0;
    std::uint32_t platformId = 0;
    std::uint32_t csdVersionRva = 0;  // a String
    std::uint16_t suiteMask = 0;
    std::uint16_t reserved2 = 0;
    // The x86 processor block: CPUID vendor, version, features and extended features.
    std::uint32_t vendorId[3] = {};
    std::uint32_t versionInformation = 0;
    std::uint32_t featureInformation = 0;
    std::uint32_t amdExtendedCpuFeatures = 0;
};

struct MiscInfo {
    std::uint32_t sizeOfInfo = 24;
    std::uint32_t flags1 = 0;
    std::uint32_t processId = 0;
    std::uint32_t processCreateTime = 0;
    std::uint32_t processUserTime = 0;
    std::uint32_t processKernelTime = 0;
};

// The x86-64 register context.
struct ContextAmd64 {
    std::uint64_t homeRegisters[6] = {};
    std::uint32_t contextFlags = 0;
    std::uint32_t mxCsr = 0;
    std::uint16_t segCs = 0, segDs = 0, segEs = 0, segFs = 0, segGs = 0, segSs = 0;
    std::uint32_t eFlags = 0;
    std::uint64_t debugRegisters[6] = {};  // Dr0-Dr3, Dr6, Dr7
    std::uint64_t integer[16] = {};        // Rax Rcx Rdx Rbx Rsp Rbp Rsi Rdi R8..R15
    std::uint64_t rip = 0;
    std::uint8_t fltSave[512] = {};  // the FXSAVE image
    std::uint8_t vectorRegisters[26 * 16] = {};
    std::uint64_t vectorControl = 0;
    std::uint64_t debugControl = 0;
    std::uint64_t lastBranchToRip = 0;
    std::uint64_t lastBranchFromRip = 0;
    std::uint64_t lastExceptionToRip = 0;
    std::uint64_t lastExceptionFromRip = 0;
};

#pragma pack(pop)

static_assert(sizeof(Header) == 32);
static_assert(sizeof(Directory) == 12);
static_assert(sizeof(Thread) == 48);
static_assert(sizeof(Module) == 108);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(sizeof(SystemInfo) == 56);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(offsetof(ContextAmd64, contextFlags) == 0x30);
static_assert(offsetof(ContextAmd64, integer) == 0x78);
static_assert(offsetof(ContextAmd64, rip) == 0xF8);
static_assert(offsetof(ContextAmd64, fltSave) == 0x100);

}  // namespace minidump
