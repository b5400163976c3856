#include "engine/startup/engine_start.h"

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

EngineObject* g_hostDevice = nullptr;

}  // namespace

void Core_SetHostDeviceModule(EngineObject* device) noexcept {
  g_hostDevice = device;
}

// Each call stores its modules in the order of the start-up sequence. Modules
// that are not built yet keep their entries null.
StatusCode Core_RegisterBaseModules() noexcept {
  g_AllocatorModule = &AllocatorModule;
  g_ThreadModule = &ThreadModule;
  g_SyncModule = &SyncModule;
  g_DateModule = &DateModule;
  g_FileSysModule = &FileSysModule;
  g_MemStreamModule = &MemStreamModule;
  g_StringModule = &StringModule;
  g_UrlModule = &UrlModule;
  g_BlockFileModule = &BlockFileModule;
  g_RecordStoreModule = &RecordStoreModule;
  g_Base64Module = &Base64Module;
  g_ChecksumModule = &ChecksumModule;
  g_Md5Module = &Md5Module;
  g_ScramblerModule = &ScramblerModule;
  g_RecordListModule = &RecordListModule;
  g_IndexCursorModule = &IndexCursorModule;
  g_RecordIndexModule = &RecordIndexModule;
  g_MimeModule = &MimeModule;
  g_SortModule = &SortModule;
  g_PatternModule = &PatternModule;
  g_RepeatRuleModule = &RepeatRuleModule;
  g_DictModule = &DictModule;
  g_TreeModule = &TreeModule;
  return kOk;
}

StatusCode Core_RegisterCompressionModules() noexcept {
  g_DeflateModule = &DeflateModule;
  g_InflateModule = &InflateModule;
  g_ZipModule = &ZipModule;
  g_HuffEncoderModule = &HuffEncoderModule;
  g_HuffDecoderModule = &HuffDecoderModule;
  g_GzipModule = &GzipModule;
  return kOk;
}

StatusCode Core_RegisterTextModules() noexcept {
  g_CharsetNameModule = &CharsetNameModule;
  g_TextConvModule = &TextConvModule;
  return kOk;
}

// The output device is the host's (see Core_SetHostDeviceModule). The open
// pipeline probes the document handlers in its own fixed order, the native
// handler first (DocOpen_ProbeOrder).
StatusCode Core_RegisterBuiltinModules() noexcept {
  g_WinDeviceModule = g_hostDevice;
  g_TextDocModule = &TextDocModule;
  g_PalmDocModule = &PalmDocModule;
  g_RaZoDocModule = &RaZoDocModule;
  g_NativeDocModule = &NativeDocModule;
  g_TextSearchModule = &TextSearchModule;
  g_TextViewModule = &TextViewModule;
  g_SettingsModule = &SettingsModule;
  return kOk;
}

StatusCode Core_RegisterDbFileModules() noexcept {
  g_DbFileModule = &DbFileModule;
  g_DbCopyModule = &DbCopyModule;
  return kOk;
}

StatusCode Core_RegisterAllModules() noexcept {
  for (StatusCode (*step)() noexcept :
       {Core_RegisterBaseModules, Core_RegisterCompressionModules, Core_RegisterTextModules,
        Core_RegisterBuiltinModules, Core_RegisterDbFileModules}) {
    if (const StatusCode s = step(); IsFailure(s)) return s;
  }
  return kOk;
}

StatusCode Core_UnregisterModules() noexcept {
  return kOk;
}

StatusCode Core_SweepDeadCopies() noexcept {
  // The settings folders first: their copies are proved dead through the
  // instance locks that the temporary folder's sweep then removes.
  (void)Settings_SweepLeftoverCopies();  // 0
  return FileSys_DeleteTempFiles(&FileSysModule);
}
