// Start-up registration: every built module sits in its module-table entry as
// a stateless object whose table has its slot count and answers kFailed from
// word 0 and from the end word.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "engine/codecs/deflate.h"
#include "engine/codecs/gzip.h"
#include "engine/codecs/huffman.h"
#include "engine/codecs/inflate.h"
#include "engine/codecs/zip.h"
#include "engine/formats/native_doc.h"
#include "engine/formats/palm_doc.h"
#include "engine/formats/razo_doc.h"
#include "engine/formats/text_doc.h"
#include "engine/formats/text_search.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/block_file.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/date.h"
#include "engine/runtime/db_copy.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "engine/runtime/sync.h"
#include "engine/runtime/text_conv.h"
#include "engine/runtime/thread.h"
#include "engine/runtime/url.h"
#include "engine/stores/settings_store.h"
#include "engine/utilities/base64.h"
#include "engine/utilities/index_cursor.h"
#include "engine/utilities/md5.h"
#include "engine/utilities/mime.h"
#include "engine/utilities/pattern.h"
#include "engine/utilities/record_index.h"
#include "engine/utilities/record_list.h"
#include "engine/utilities/record_store.h"
#include "engine/utilities/repeat_rule.h"
#include "engine/utilities/scrambler.h"
#include "engine/utilities/sort.h"
#include "engine/utilities/tree.h"
#include "engine/view/text_view.h"

namespace {

struct Row {
  const char* name;
  EngineObject* const* entry;
  EngineObject* module;
  std::size_t words;  // of the table the module points to
  std::size_t slots;  // the interface's slot count
};

template <class Ops>
Row Entry(const char* name, EngineObject* const& entry, EngineObject& module, std::size_t slots) {
  return {name, &entry, &module, sizeof(Ops) / sizeof(void*), slots};
}

// Reads word `index` of a table of function pointers.
CoreEndWord Word(const EngineObject* module, std::size_t index) {
  CoreEndWord word = nullptr;
  std::memcpy(&word, static_cast<const char*>(module->ops) + index * sizeof(void*), sizeof word);
  return word;
}

TEST(Registration, EveryBuiltModuleSitsInItsEntryWithItsTable) {
  const Row rows[] = {
      Entry<AllocatorOps>("Allocator", g_AllocatorModule, AllocatorModule, 7),
      Entry<Base64Ops>("Base64", g_Base64Module, Base64Module, 6),
      Entry<BlockFileOps>("BlockFile", g_BlockFileModule, BlockFileModule, 7),
      Entry<CharsetNameOps>("CharsetName", g_CharsetNameModule, CharsetNameModule, 2),
      Entry<ChecksumOps>("Checksum", g_ChecksumModule, ChecksumModule, 3),
      Entry<DateOps>("Date", g_DateModule, DateModule, 35),
      Entry<DbFileOps>("DbFile", g_DbFileModule, DbFileModule, 13),
      Entry<DbFileOps>("DbCopy", g_DbCopyModule, DbCopyModule, 13),
      Entry<DeflateOps>("Deflate", g_DeflateModule, DeflateModule, 12),
      Entry<DictOps>("Dict", g_DictModule, DictModule, 18),
      Entry<FileSysOps>("FileSys", g_FileSysModule, FileSysModule, 11),
      Entry<GzipOps>("Gzip", g_GzipModule, GzipModule, 9),
      Entry<HuffDecoderOps>("HuffDecoder", g_HuffDecoderModule, HuffDecoderModule, 6),
      Entry<HuffEncoderOps>("HuffEncoder", g_HuffEncoderModule, HuffEncoderModule, 11),
      Entry<InflateOps>("Inflate", g_InflateModule, InflateModule, 11),
      Entry<IndexCursorOps>("IndexCursor", g_IndexCursorModule, IndexCursorModule, 8),
      Entry<Md5Ops>("Md5", g_Md5Module, Md5Module, 4),
      Entry<MemStreamClassOps>("MemStream", g_MemStreamModule, MemStreamModule, 2),
      Entry<MimeOps>("Mime", g_MimeModule, MimeModule, 3),
      Entry<DocHandlerOps>("NativeDoc", g_NativeDocModule, NativeDocModule, 26),
      Entry<DocHandlerOps>("PalmDoc", g_PalmDocModule, PalmDocModule, 26),
      Entry<PatternOps>("Pattern", g_PatternModule, PatternModule, 5),
      Entry<RecordIndexOps>("RecordIndex", g_RecordIndexModule, RecordIndexModule, 10),
      Entry<RecordListOps>("RecordList", g_RecordListModule, RecordListModule, 9),
      Entry<RecordStoreOps>("RecordStore", g_RecordStoreModule, RecordStoreModule, 8),
      Entry<DocHandlerOps>("RaZoDoc", g_RaZoDocModule, RaZoDocModule, 26),
      Entry<RepeatRuleOps>("RepeatRule", g_RepeatRuleModule, RepeatRuleModule, 3),
      Entry<ScramblerOps>("Scrambler", g_ScramblerModule, ScramblerModule, 2),
      Entry<SettingsOps>("Settings", g_SettingsModule, SettingsModule, 46),
      Entry<SortOps>("Sort", g_SortModule, SortModule, 1),
      Entry<StringOps>("String", g_StringModule, StringModule, 36),
      Entry<SyncOps>("Sync", g_SyncModule, SyncModule, 2),
      Entry<DocHandlerOps>("TextDoc", g_TextDocModule, TextDocModule, 26),
      Entry<TextConvOps>("TextConv", g_TextConvModule, TextConvModule, 9),
      Entry<TextSearchOps>("TextSearch", g_TextSearchModule, TextSearchModule, 5),
      Entry<TextViewOps>("TextView", g_TextViewModule, TextViewModule, 32),
      Entry<ThreadOps>("Thread", g_ThreadModule, ThreadModule, 4),
      Entry<TreeOps>("Tree", g_TreeModule, TreeModule, 12),
      Entry<UrlOps>("Url", g_UrlModule, UrlModule, 23),
      Entry<ZipOps>("Zip", g_ZipModule, ZipModule, 11),
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(*r.entry, r.module);
    EXPECT_EQ(r.module->state, nullptr);
    EXPECT_EQ(r.words, r.slots + 2) << "word 0, the slots, the end word";
    EXPECT_EQ(Word(r.module, 0)(r.module), kFailed);
    EXPECT_EQ(Word(r.module, r.words - 1)(r.module), kFailed);
  }
}

}  // namespace
