// The block container: many independent byte streams inside one base stream,
// like a small file system. The base is cut into blocks of B bytes; each
// stream is a chain of blocks, free blocks form a chain of their own, and each
// stream is opened as a StreamOps stream. Open and OpenPath are called on
// BlockFileModule, the others on the container.
//
// Layout (little-endian), B in 512, 1024, ... 65536:
//
//   The base is a whole number of groups of B/4 blocks (B*B/4 bytes). The
//   first block of each group is its chain block: B/4 u32 entries, entry i
//   describing block i of the group. Blocks count from the start of the base.
//
//   entry 0 of block 0 (the header): bits 0-2 log2(B) - 9, bits 8-31 the
//   first block of the free chain (0: no free block)
//
//   chain entry value        meaning
//   0                        a chain block, or the end of the free chain
//   1 .. 0x00FFFFFF          next block of the same chain
//   0x01000000 + next        first block of a stream of several blocks
//   0xFFF00000 + n           last block of a stream, holding n bytes (1..B);
//                            0xFFF00000 alone is an empty one-block stream
//
// A stream is named by its first block. The format cannot tell the last block
// of a stream of several blocks from a one-block stream: opening such a block
// succeeds and shows its bytes, and writing to it damages the other stream.
// Chains are walked with every entry checked (block in range, no chain
// block, no start in mid-chain, no loop), and a damaged chain is
// kBlockFileBadChain.
//
// Positions are 32-bit: the base never grows past 4 GiB (kOutOfMemory).
// A container opened by path for writing (kFileOpenReadWrite,
// kFileOpenCreate) works on a temporary copy of the file and replaces the
// file with it in one step at close when anything was written
// (FileSys_ReplaceFileFromStream), so a crash or a full disk never leaves a
// half-written container; a failed replacement is close's answer and the
// file keeps its old bytes. Within the base, chain entries are written
// through; a changed stream's end entry, and the blocks it no longer needs,
// are settled when it is closed. A stream may be
// open only once, an open stream cannot be deleted, and the container cannot
// be closed while streams are open.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x00D.
constexpr StatusCode kBlockFileStreamsOpen = MakeFailure(Facility::BlockFile, 0x01);
constexpr StatusCode kBlockFileTooShort = MakeFailure(Facility::BlockFile, 0x02);
constexpr StatusCode kBlockFileHeaderSeek = MakeFailure(Facility::BlockFile, 0x03);
constexpr StatusCode kBlockFileHeaderRead = MakeFailure(Facility::BlockFile, 0x04);
constexpr StatusCode kBlockFileNotWholeGroups = MakeFailure(Facility::BlockFile, 0x05);
constexpr StatusCode kBlockFileBadFreeHead = MakeFailure(Facility::BlockFile, 0x06);
constexpr StatusCode kBlockFileBadBlockSize = MakeFailure(Facility::BlockFile, 0x07);
constexpr StatusCode kBlockFileNoChainBuffer = MakeFailure(Facility::BlockFile, 0x08);
constexpr StatusCode kBlockFileNotAStream = MakeFailure(Facility::BlockFile, 0x09);
// A chain or the free chain is damaged past its first block.
constexpr StatusCode kBlockFileBadChain = MakeFailure(Facility::BlockFile, 0x0A);
// The stream is open already (open twice, or delete while open).
constexpr StatusCode kBlockFileStreamBusy = MakeFailure(Facility::BlockFile, 0x0B);

constexpr std::uint32_t kBlockFileDefaultBlock = 4096;

struct BlockFileOps {
  CoreEndWord word0;
  // 1 (module): a container on base (blockSize 0 means 4096). An empty base
  // is formatted with one group; blockSize is then checked
  // (kBlockFileBadBlockSize). A non-empty one is read: kBlockFileTooShort,
  // kBlockFileHeaderRead, kBlockFileNotWholeGroups, kBlockFileBadFreeHead.
  // On success the container owns base; on failure the caller keeps it.
  StatusCode (*open)(EngineObject* module, EngineObject* base, std::uint32_t blockSize,
                     EngineObject** out) noexcept;
  // 2: closes the base stream and frees the container. kBlockFileStreamsOpen
  // (nothing closed) while streams are open; otherwise the base's close.
  StatusCode (*close)(EngineObject* container) noexcept;
  // 3 (module): the open slot of the registered file-system module
  // (g_FileSysModule, else FileSysModule) with path, bufferLength and type,
  // then Open; the file is closed again when Open fails. For writing, Open
  // on a working copy of the file (see above); a file that cannot be opened
  // for writing fails here.
  StatusCode (*openPath)(EngineObject* module, char16_t* path, std::uint32_t bufferLength,
                         std::uint32_t type, std::uint32_t blockSize, EngineObject** out) noexcept;
  // 4: opens stream number. kBlockFileNotAStream when the block is not the
  // start of a stream, kBlockFileBadChain, kBlockFileStreamBusy.
  StatusCode (*openStream)(EngineObject* container, std::uint32_t number,
                           EngineObject** stream) noexcept;
  // 5: a new empty stream; *number receives its number, and without number
  // the stream is temporary: its blocks are freed when it is closed.
  StatusCode (*createStream)(EngineObject* container, std::uint32_t* number,
                             EngineObject** stream) noexcept;
  // 6: returns a closed stream's blocks to the free chain. As OpenStream for a
  // bad number; kBlockFileStreamBusy when it is open.
  StatusCode (*deleteStream)(EngineObject* container, std::uint32_t number) noexcept;
  // 7: from now on every operation of the container and its streams holds a
  // lock (a semaphore of one), so several threads may share them. Internal
  // calls do not take it again.
  StatusCode (*enableLocking)(EngineObject* container) noexcept;
  CoreEndWord end;
};

extern EngineObject BlockFileModule;

StatusCode BlockFile_Open(EngineObject* module, EngineObject* base, std::uint32_t blockSize,
                          EngineObject** out) noexcept;
StatusCode BlockFile_Close(EngineObject* container) noexcept;
StatusCode BlockFile_OpenPath(EngineObject* module, char16_t* path, std::uint32_t bufferLength,
                              std::uint32_t type, std::uint32_t blockSize,
                              EngineObject** out) noexcept;
StatusCode BlockFile_OpenStream(EngineObject* container, std::uint32_t number,
                                EngineObject** stream) noexcept;
StatusCode BlockFile_CreateStream(EngineObject* container, std::uint32_t* number,
                                  EngineObject** stream) noexcept;
StatusCode BlockFile_DeleteStream(EngineObject* container, std::uint32_t number) noexcept;
StatusCode BlockFile_EnableLocking(EngineObject* container) noexcept;
