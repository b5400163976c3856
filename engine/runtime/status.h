// Status codes shared by every engine operation.
//
// A StatusCode is a signed 32-bit value. 0 is success. A failure has the top bit
// set, the module family's facility in bits 16-30 and the error number in bits
// 0-15; an informational result has the same layout without the top bit. Small
// positive values without a facility are soft answers shared by all modules.
// Callers test the sign for success and compare exact values only where a
// module's contract names them. Each facility declares its own codes in its
// module header, built with MakeFailure / MakeInfo from the constants below.
#pragma once

#include <cstdint>

// An enumeration with no named values, so that every result that is dropped
// without a look is a compile-time warning ([[nodiscard]]). It converts to
// int for the sign test; values are made only through the constants below.
enum [[nodiscard]] StatusCode : std::int32_t{};

constexpr StatusCode MakeFailure(std::uint32_t facility, std::uint32_t number) {
  return static_cast<StatusCode>(0x80000000u | ((facility & 0x7FFFu) << 16) | (number & 0xFFFFu));
}
constexpr StatusCode MakeInfo(std::uint32_t facility, std::uint32_t number) {
  return static_cast<StatusCode>(((facility & 0x7FFFu) << 16) | (number & 0xFFFFu));
}
constexpr bool IsFailure(StatusCode s) {
  return s < 0;
}
constexpr std::uint32_t FacilityOf(StatusCode s) {
  return (static_cast<std::uint32_t>(s) >> 16) & 0x7FFFu;
}

// Success and the soft answers.
constexpr StatusCode kOk = StatusCode{0};
constexpr StatusCode kNotFound = StatusCode{1};  // binary searches and scans
constexpr StatusCode kNoMore = StatusCode{5};    // no more items, past the end
constexpr StatusCode kYes = StatusCode{6};       // yes, found
constexpr StatusCode kNo = StatusCode{7};        // no, different

// Three-way comparisons.
constexpr StatusCode kCompareEqual = StatusCode{0};
constexpr StatusCode kCompareLess = StatusCode{2};
constexpr StatusCode kCompareGreater = StatusCode{3};

// Generic failures (facility 0).
constexpr StatusCode kFailed = MakeFailure(0, 0x00);           // failed / not implemented
constexpr StatusCode kCancelled = MakeFailure(0, 0x01);        // stopped by a progress callback
constexpr StatusCode kOutOfMemory = MakeFailure(0, 0x02);      // allocation or growth refused
constexpr StatusCode kCannotOpen = MakeFailure(0, 0x03);       // file cannot be opened
constexpr StatusCode kMalformed = MakeFailure(0, 0x04);        // malformed data
constexpr StatusCode kNotSupported = MakeFailure(0, 0x05);     // unsupported / unknown command
constexpr StatusCode kIndexOutOfRange = MakeFailure(0, 0x06);  // or buffer too small
constexpr StatusCode kNullOutPointer = MakeFailure(0, 0x12);   // required out-pointer is null
constexpr StatusCode kBadSeekOrigin = MakeFailure(0, 0x13);
constexpr StatusCode kBadArgument = MakeFailure(0, 0x14);  // type or mode out of range

// Facilities: the module families of the engine.
namespace Facility {
constexpr std::uint32_t Thread = 0x002;
constexpr std::uint32_t Semaphore = 0x003;
constexpr std::uint32_t Event = 0x004;
constexpr std::uint32_t Date = 0x006;
constexpr std::uint32_t Stream = 0x007;
constexpr std::uint32_t FileSys = 0x008;
constexpr std::uint32_t Number = 0x00B;  // number parsing and quoted strings
constexpr std::uint32_t Url = 0x00C;
constexpr std::uint32_t BlockFile = 0x00D;
constexpr std::uint32_t RecordStore = 0x00E;
constexpr std::uint32_t RecordList = 0x013;
constexpr std::uint32_t IndexCursor = 0x014;
constexpr std::uint32_t RecordIndex = 0x015;
constexpr std::uint32_t Pattern = 0x018;
constexpr std::uint32_t RepeatRule = 0x019;
constexpr std::uint32_t Dict = 0x01A;
constexpr std::uint32_t Tree = 0x01B;
constexpr std::uint32_t Deflate = 0x201;
constexpr std::uint32_t Inflate = 0x202;
constexpr std::uint32_t Zip = 0x203;
constexpr std::uint32_t HuffEncoder = 0x204;
constexpr std::uint32_t HuffDecoder = 0x205;
constexpr std::uint32_t Gzip = 0x206;
constexpr std::uint32_t DbFile = 0x601;
constexpr std::uint32_t Device = 0x701;
constexpr std::uint32_t DocHandler = 0x711;
constexpr std::uint32_t TextSearch = 0x721;
constexpr std::uint32_t TextView = 0x722;
constexpr std::uint32_t Settings = 0x723;
constexpr std::uint32_t AnnotStore = 0x731;
constexpr std::uint32_t CharsetName = 0xA01;
constexpr std::uint32_t TextConv = 0xA02;
}  // namespace Facility
